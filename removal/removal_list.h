// The built-in description of the old module: processes, registry rows, files and folders.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/repair_folders.h"

// Root codes of a registry row.
constexpr int32_t kRootLocalMachine = 200;
constexpr int32_t kRootCurrentUser = 201;

// Base folder codes of a path row: the repair folders' fields, or none (absolute path).
constexpr int32_t kBaseWindows = 100;
constexpr int32_t kBaseProgramFiles = 101;
constexpr int32_t kBaseAllUsersDesktop = 102;
constexpr int32_t kBaseDesktop = 103;
constexpr int32_t kBaseAllUsersPrograms = 104;
constexpr int32_t kBaseAllUsersAppData = 105;
constexpr int32_t kBaseAbsolute = 106;

constexpr size_t kImageNameChars = 260;
constexpr size_t kKeyPathChars = 256;
constexpr size_t kValueNameChars = 256;
constexpr size_t kRelativePathChars = 260;

struct ProcessRow {
    wchar_t imageName[kImageNameChars];  // image file name without folder, e.g. "iexplore.exe"
};

struct RegistryRow {
    int32_t wholeKey;  // nonzero: the whole key with its subkeys; zero: the one value valueName
    int32_t rootKey;   // kRootLocalMachine or kRootCurrentUser; anything else means HKLM
    wchar_t keyPath[kKeyPathChars];
    wchar_t valueName[kValueNameChars];  // empty in whole-key rows
};

struct PathRow {
    int32_t baseFolder;  // kBaseWindows .. kBaseAbsolute
    wchar_t relativePath[kRelativePathChars];  // below the base, no leading backslash; absolute for 106
};

// Row makers. They return false (and leave the row unusable) when a text does not fit its field.
[[nodiscard]] bool MakeProcessRow(const wchar_t* imageName, ProcessRow& row);
[[nodiscard]] bool MakeKeyRow(int32_t rootKey, const wchar_t* keyPath, RegistryRow& row);
[[nodiscard]] bool MakeValueRow(int32_t rootKey, const wchar_t* keyPath, const wchar_t* valueName,
                                RegistryRow& row);
[[nodiscard]] bool MakePathRow(int32_t baseFolder, const wchar_t* relativePath, PathRow& row);

// HKEY_CURRENT_USER for root code 201, HKEY_LOCAL_MACHINE for every other code.
HKEY RegistryRowRoot(const RegistryRow& row);
// "HKCU\\" for root code 201, "HKLM\\" for every other code.
const wchar_t* RegistryRowPrefix(const RegistryRow& row);

class RemovalList {
public:
    std::vector<ProcessRow> processes;
    std::vector<RegistryRow> registryRows;
    std::vector<PathRow> files;
    std::vector<PathRow> folders;
    // The folder rows read from keys that the removal deletes, and those a record of an earlier run
    // names (removal/removal_memo.h); each is one of the folder rows as well.
    std::vector<PathRow> learnedFolders;

    // Readers work on copies; the list does not change after it is built.
    std::vector<ProcessRow> CopyProcesses() const { return processes; }
    std::vector<RegistryRow> CopyRegistryRows() const { return registryRows; }
    std::vector<PathRow> CopyFiles() const { return files; }
    std::vector<PathRow> CopyFolders() const { return folders; }
    std::vector<PathRow> CopyLearnedFolders() const { return learnedFolders; }

    void Clear();
};

// Fills the list with the old module's rows: the fixed ones and the folders its registry values name.
bool BuildRemovalList(RemovalList& list);

// The six folders that the base codes 100 to 105 stand for.
struct RowBaseFolders {
    const wchar_t* windows;
    const wchar_t* programFiles;
    const wchar_t* allUsersDesktop;
    const wchar_t* desktop;
    const wchar_t* allUsersPrograms;
    const wchar_t* allUsersAppData;
};

// The full path of a row: base folder, one backslash (none added when the base ends in one), relative
// path; the relative path alone for code 106. Fails (out empty) when the result does not fit outCount units, when the base folder is empty
// (a path relative to the current drive would name some other folder) or the code is unknown.
[[nodiscard]] bool ComposeRowPath(const PathRow& row, const RowBaseFolders& bases, wchar_t* out, size_t outCount);
// The same with the repair's folders.
[[nodiscard]] bool ComposeRowPath(const RepairFolders& folders, const PathRow& row, wchar_t* out,
                                  size_t outCount);
