// The removal primitives' log handle: a second writer on the repair log stream, and the operations
// that delete things and end processes, each writing its lines through it.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <memory>

#include "common/log_stream.h"

class CLogHandle {
public:
    CLogHandle() = default;
    // (stream, owns-stream flag). The repair context hands it the log stream, not owning.
    void Attach(std::shared_ptr<orlyn::LogStream> stream, bool ownsStream) {
        stream_ = std::move(stream);
        ownsStream_ = ownsStream;
    }
    // Closes the stream only when this handle owns it; then holds nothing.
    void Close();
    bool IsOpen() const { return stream_ && stream_->IsOpen(); }

    // Timestamp and tab, then the formatted message with no length limit, in one write, then flush.
    // Does nothing once the stream is closed.
    void WriteLog(const wchar_t* format, ...);
    void WriteLogV(const wchar_t* format, va_list args);

    // Removal primitives (removal/removal_primitives.cpp).
    bool RemoveFile(const wchar_t* path);
    bool RemoveFolder(const wchar_t* path);
    bool RemoveFolderTree(const wchar_t* path, bool removeRoot);
    void ClearFolderContents(const wchar_t* path);
    // With report: true when the key can no longer be opened. Without: the final deletion's Win32 error
    // code (ERROR_SUCCESS when deleted), as a LONG.
    LONG RemoveRegKey(HKEY root, const wchar_t* keyPath, bool report);
    bool RemoveRegValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName);

    // Process termination (removal/process_termination.cpp).
    bool KillProcessByName(const wchar_t* imageName);
    bool CloseFileUsers(const wchar_t* path);

private:
    std::shared_ptr<orlyn::LogStream> stream_;
    bool ownsStream_ = false;
};

// Whether a search for the path itself (no wildcard added) finds an entry, as the removal looks for the
// folders and files of its list. Writes nothing.
bool PathIsFound(const wchar_t* path);

// Whether a process with this image name runs (case-insensitive). Writes nothing.
bool IsProcessRunning(const wchar_t* imageName);
