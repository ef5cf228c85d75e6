// What becomes of the repair log when the dialog closes.
#pragma once

#include <windows.h>

#include <string>

class CRepairContext;

enum class LogDisposition {
    NotOpen,  // the log was never opened (or already disposed of): nothing done
    Deleted,  // the sequence never started (initialisation error)
    Moved,    // success: moved into <all-users app data>\Orlyn\Common
    Left,     // failure, restart, closed during a phase, or the move failed: stays on the desktop
};

// Closes the log stream (both writers then write nothing), copies it where the command line asked
// (/log), and deletes, moves or leaves the file by how the run ended; clears the log path. The move
// neither replaces an existing log nor creates folders. finalPath, when given, gets where the log is
// afterwards (empty when deleted or never open).
LogDisposition DisposeRepairLog(CRepairContext& context, std::wstring* finalPath = nullptr);
