#include "removal/path_normalize.h"

#include <vector>

namespace orlyn {

namespace {

bool IsSlash(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

void SplitParts(const std::wstring& text, size_t from, std::vector<std::wstring>& parts) {
    size_t i = from;
    while (i < text.size()) {
        while (i < text.size() && IsSlash(text[i])) ++i;
        size_t start = i;
        while (i < text.size() && !IsSlash(text[i])) ++i;
        if (i > start) parts.push_back(text.substr(start, i - start));
    }
}

// Windows ignores trailing dots and spaces of a name, so "Windows. " names the Windows folder.
std::wstring TrimPart(const std::wstring& part) {
    if (part == L"." || part == L"..") return part;
    size_t end = part.size();
    while (end > 0 && (part[end - 1] == L'.' || part[end - 1] == L' ')) --end;
    return part.substr(0, end);
}

// "\\.\" and "\\?\" (or those names alone) begin the system's device namespace; "\\.x" is a server.
bool IsDeviceStart(const std::wstring& p) {
    return p.size() >= 3 && IsSlash(p[0]) && IsSlash(p[1]) && (p[2] == L'.' || p[2] == L'?') &&
           (p.size() == 3 || IsSlash(p[3]));
}

// "C:\" at `at`. "\\?\C:" without the backslash is the volume itself, not its root folder.
bool StartsWithDriveRoot(const std::wstring& p, size_t at) {
    return p.size() >= at + 3 && IsDriveLetter(p[at]) && p[at + 1] == L':' && IsSlash(p[at + 2]);
}

std::wstring Upper(std::wstring text, UpperCaseFold fold) {
    if (!text.empty()) fold(&text[0], text.size());
    return text;
}

}  // namespace

bool NormalizePathForCompare(const std::wstring& path, UpperCaseFold fold, std::wstring& out) {
    out.clear();
    std::wstring p = path;
    for (auto& c : p)
        if (c == L'/') c = L'\\';
    // "\\?\C:\x" and "\\?\UNC\server\share\x" name the same things as "C:\x" and "\\server\share\x".
    if (p.compare(0, 4, L"\\\\?\\") == 0 || p.compare(0, 4, L"\\??\\") == 0) {
        p.erase(0, 4);
        if (p.size() >= 4 && Upper(p.substr(0, 4), fold) == L"UNC\\") p.replace(0, 3, L"\\");
    }

    if (p.find_first_of(L"*?") != std::wstring::npos) return false;  // a pattern names no one folder

    std::wstring prefix;
    std::vector<std::wstring> raw;
    size_t keep = 0;  // parts that ".." cannot climb above (server and share)
    if (p.size() >= 3 && IsDriveLetter(p[0]) && p[1] == L':' && p[2] == L'\\') {
        prefix = p.substr(0, 2);
        SplitParts(p, 3, raw);
    } else if (p.size() >= 2 && p[0] == L'\\' && p[1] == L'\\') {
        if (IsDeviceStart(p)) return false;
        // The server's name follows the two backslashes at once; "\\\x" names no server.
        if (p.size() < 3 || p[2] == L'\\') return false;
        prefix = L"\\";  // the second backslash comes with the server part
        SplitParts(p, 2, raw);
        if (raw.size() < 2) return false;  // a server without a share
        if (raw[0] == L"." || raw[0] == L".." || raw[1] == L"." || raw[1] == L"..") return false;
        keep = 2;
    } else {
        return false;
    }

    std::vector<std::wstring> parts;
    for (size_t i = 0; i < raw.size(); ++i) {
        std::wstring part = i < keep ? raw[i] : TrimPart(raw[i]);
        if (i >= keep) {
            if (part.empty() || part == L".") continue;
            if (part == L"..") {
                if (parts.size() > keep) parts.pop_back();
                continue;
            }
        }
        parts.push_back(part);
    }

    // A drive root compares as "C:\" ("C:" alone would be the drive's current folder), a share root as
    // "\\SERVER\SHARE".
    out = prefix;
    for (const auto& part : parts) out += L"\\" + part;
    if (parts.empty()) out += L"\\";
    out = Upper(out, fold);
    return true;
}

bool IsDevicePath(const std::wstring& path) {
    std::wstring p = path;
    for (auto& c : p)
        if (c == L'/') c = L'\\';
    if (p == L"\\\\." || p == L"\\\\?" || p.compare(0, 4, L"\\\\.\\") == 0) return true;
    if (p.compare(0, 4, L"\\\\?\\") != 0 && p.compare(0, 4, L"\\??\\") != 0) return false;
    // The long forms of a drive path and of a share path name what their short forms name.
    if (StartsWithDriveRoot(p, 4)) return false;
    const wchar_t* unc = L"UNC\\";
    for (size_t i = 0; i < 4; ++i) {
        wchar_t c = i + 4 < p.size() ? p[i + 4] : 0;
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        if (c != unc[i]) return true;
    }
    return false;
}

bool IsShareForm(const std::wstring& form) { return form.compare(0, 2, L"\\\\") == 0; }

bool HasStreamName(const std::wstring& form) { return form.find(L':', 2) != std::wstring::npos; }

bool IsRootForm(const std::wstring& form) {
    if (!IsShareForm(form)) return form.size() == 3 && form[2] == L'\\';
    size_t separators = 0;
    for (wchar_t c : form)
        if (c == L'\\') ++separators;
    return separators == 3;  // "\\SERVER\SHARE"
}

bool IsSameOrAbove(const std::wstring& a, const std::wstring& b) {
    if (a.empty() || b.size() < a.size() || b.compare(0, a.size(), a) != 0) return false;
    // Only a drive root ("C:\") ends in a backslash of its own.
    return b.size() == a.size() || a.back() == L'\\' || b[a.size()] == L'\\';
}

bool IsDirectlyInside(const std::wstring& child, const std::wstring& parent) {
    if (child.size() == parent.size() || !IsSameOrAbove(parent, child)) return false;
    size_t rest = parent.back() == L'\\' ? parent.size() : parent.size() + 1;
    return child.find(L'\\', rest) == std::wstring::npos;
}

}  // namespace orlyn
