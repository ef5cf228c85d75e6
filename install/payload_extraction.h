// Writing payload resources to disk: folder creation, path macros, resource extraction.
#pragma once

#include <windows.h>

#include <string>

#include "common/repair_folders.h"

// Writes the bytes of RT_RCDATA resource resourceId of the program's module to path (replacing the
// file), creating its parent folders first. False when the resource is missing, the path is longer than
// MAX_PATH - 1 units, or the file cannot be created or fully written; the last error code says why.
[[nodiscard]] bool ExtractResourceToFile(WORD resourceId, const wchar_t* path);

// The bytes of RT_RCDATA resource resourceId of the payload module, where the module holds them in
// memory for as long as it is loaded. False when the resource is missing (id 0 included); the last error
// code says why.
[[nodiscard]] bool PayloadResourceBytes(WORD resourceId, const void** bytes, DWORD* size);

// Makes sure folder and all its ancestors exist. The drive (and a UNC server and share) is never created.
[[nodiscard]] bool CreateFolderPath(const wchar_t* folder);

// CreateFolderPath on the part of filePath before its last backslash; false when there is no backslash.
[[nodiscard]] bool CreateParentFolder(const wchar_t* filePath);

// Replaces "$Windows$", "$ProgramFiles$" and "$AppData$" by the repair's Windows, Program Files and
// all-users application data folders. The result may be longer than MAX_PATH; ExtractResourceToFile
// refuses such a path.
std::wstring ExpandPathMacros(const wchar_t* path, const RepairFolders& folders);

// The module whose RT_RCDATA resources are the payload and its manifest: the program's own, unless a
// test has named another one.
HMODULE PayloadModule();
// For tests: takes the payload from module (for example a DLL loaded as a data file that carries another
// manifest) until called again with nullptr. Set it before the dialog initialises, never while a worker runs.
void SetPayloadModuleForTesting(HMODULE module);
