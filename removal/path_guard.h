// Which folders a tree deletion refuses to touch: drive roots, the system's own folders and everything
// above them, and every path that could reach a local folder by another name than its drive path: share
// paths (an administrative share such as "\\localhost\C$" reaches the whole drive), device names and
// stream names. A corrupt registry value, or a shell folder that a user's program has pointed elsewhere,
// must never make the repair empty a drive.
#pragma once

#include <string>
#include <vector>

#include "removal/path_normalize.h"

namespace orlyn {

// Upper case as the file system compares names (the system's own case table: accented and non-Latin
// letters included); the fold that the pure path rules take.
void SystemUpperCase(wchar_t* text, size_t length);

// The comparison form of a path (path_normalize.h), upper-cased by the system's own case table.
[[nodiscard]] bool NormalizePathForCompare(const std::wstring& path, std::wstring& out);

struct ProtectedFolders {
    std::vector<std::wstring> folders;        // refused themselves, and so is every folder above them
    std::vector<std::wstring> parentsOfRoots; // every direct child of these is refused (user profiles)
};

enum class TreeRefusal {
    None,          // may be walked
    NotAbsolute,   // not fully qualified; it would resolve against the current folder or drive
    Root,          // a drive root
    Protected,     // one of the protected folders, a folder above one, or a user profile root
    // On a share, in any spelling ("\\server\share", "\\?\UNC\", a network drive). The module keeps
    // its folders on this PC's own drives; a share may be this PC's own drive under another name, or
    // the folder of many PCs at once.
    NetworkPath,
    DevicePath,    // "\\.\", "\\?\GLOBALROOT\", "\\?\Volume{...}\" and the like
    StreamName,    // a part holds a colon: "C:\Windows::$INDEX_ALLOCATION" is the folder C:\Windows
};

// Decides for a path as given. The protected folders may be given in any form; they are normalised here
// (entries that are not fully qualified are ignored).
TreeRefusal CheckTreePath(const std::wstring& path, const ProtectedFolders& protectedFolders);

// The decision the tree operations make on this system: the system's and its users' folders, and every
// name the system knows the path by (as given, long form, final form with links resolved); a drive
// that the system reports as a network drive counts as a share. Asks the system.
TreeRefusal CheckTreePathOnThisSystem(const wchar_t* path);

}  // namespace orlyn
