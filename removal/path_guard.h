// Which folders a tree deletion refuses to touch: drive roots, share roots, the system's own folders and
// everything above them. A corrupt registry value must never make the repair empty a drive.
#pragma once

#include <string>
#include <vector>

#include "removal/path_normalize.h"

namespace orlyn {

// The comparison form of a path (path_normalize.h), upper-cased by the system's own case table.
[[nodiscard]] bool NormalizePathForCompare(const std::wstring& path, std::wstring& out);

struct ProtectedFolders {
    std::vector<std::wstring> folders;        // refused themselves, and so is every folder above them
    std::vector<std::wstring> parentsOfRoots; // every direct child of these is refused (user profiles)
};

enum class TreeRefusal {
    None,          // may be walked
    NotAbsolute,   // not fully qualified; it would resolve against the current folder or drive
    Root,          // a drive root or a share root
    Protected,     // one of the protected folders, a folder above one, or a user profile root
};

// Decides for a path as given. The protected folders may be given in any form; they are normalised here
// (entries that are not fully qualified are ignored).
TreeRefusal CheckTreePath(const std::wstring& path, const ProtectedFolders& protectedFolders);

// The decision the tree operations make on this system: the system's and its users' folders, and every
// name the system knows the path by (as given, long form, final form with links resolved).
// Asks the system.
TreeRefusal CheckTreePathOnThisSystem(const wchar_t* path);

}  // namespace orlyn
