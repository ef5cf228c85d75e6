// The text rules by which the tree operations compare paths. Data in, data out: no system calls. The
// upper-case fold is passed in, because the file system's case table covers far more than ASCII
// (accented Latin, Cyrillic, Greek letters in user and folder names) and only the system has it.
#pragma once

#include <cstddef>
#include <string>

namespace orlyn {

// Upper-cases `length` units of `text` in place.
using UpperCaseFold = void (*)(wchar_t* text, size_t length);

// The comparison form of a path: upper case (through `fold`), backslashes only, no empty, "." or ".."
// parts, no trailing backslash, trailing dots and spaces of each part dropped (as Windows drops them),
// "\\?\" and "\\?\UNC\" prefixes removed. A drive root becomes "C:\", a share root "\\SERVER\SHARE".
// Returns false (out empty) for a path that is not fully qualified: relative, drive-relative ("C:x"),
// relative to the current drive ("\x"), a device path ("\\.\"), a UNC path without a server or a
// share, or a wildcard pattern. A comparison form normalises to itself.
[[nodiscard]] bool NormalizePathForCompare(const std::wstring& path, UpperCaseFold fold, std::wstring& out);

// Whether a path names something in the system's device namespace rather than a folder of a drive or a
// share: "\\.\" anything (also "\\.\C:\" and "\\.\UNC\"), and "\\?\" or "\??\" followed by anything but a
// drive ("\\?\C:\") or "UNC\". Volume names, "GLOBALROOT" and the like reach a volume by another name.
[[nodiscard]] bool IsDevicePath(const std::wstring& path);

// On comparison forms: a path on a share ("\\SERVER\SHARE..."), whichever machine serves it.
[[nodiscard]] bool IsShareForm(const std::wstring& form);
// On comparison forms: a part names a stream ("DIR::$INDEX_ALLOCATION" is the folder DIR itself); no
// file or folder name may hold a colon.
[[nodiscard]] bool HasStreamName(const std::wstring& form);

// On comparison forms: a drive root ("C:\") or a share root ("\\SERVER\SHARE").
[[nodiscard]] bool IsRootForm(const std::wstring& form);
// On comparison forms: a is b, or a folder above b.
[[nodiscard]] bool IsSameOrAbove(const std::wstring& a, const std::wstring& b);
// On comparison forms: child is directly inside parent.
[[nodiscard]] bool IsDirectlyInside(const std::wstring& child, const std::wstring& parent);

}  // namespace orlyn
