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
        if (p.size() >= 3 && (p[2] == L'.' || p[2] == L'?')) return false;  // device paths
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

    // A drive root compares as "C:", a share root as "\\SERVER\SHARE".
    out = prefix;
    for (const auto& part : parts) out += L"\\" + part;
    out = Upper(out, fold);
    return true;
}

bool IsRootForm(const std::wstring& form) {
    bool unc = form.compare(0, 2, L"\\\\") == 0;
    size_t separators = 0;
    for (wchar_t c : form)
        if (c == L'\\') ++separators;
    // "C:" has no separator left; "\\SERVER\SHARE" has three.
    return (!unc && separators == 0) || (unc && separators == 3);
}

bool IsSameOrAbove(const std::wstring& a, const std::wstring& b) {
    if (b.size() < a.size() || b.compare(0, a.size(), a) != 0) return false;
    return b.size() == a.size() || b[a.size()] == L'\\';
}

bool IsDirectlyInside(const std::wstring& child, const std::wstring& parent) {
    size_t slash = child.rfind(L'\\');
    return slash != std::wstring::npos && slash == parent.size() && child.compare(0, slash, parent) == 0;
}

}  // namespace orlyn
