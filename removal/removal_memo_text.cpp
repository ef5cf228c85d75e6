#include "removal/removal_memo_text.h"

#include <algorithm>

namespace removal_memo {

std::vector<wchar_t> EncodeFolders(const std::vector<std::wstring>& paths) {
    std::vector<wchar_t> data;
    for (const std::wstring& path : paths) {
        if (path.empty()) continue;  // an empty entry would end the list early
        data.insert(data.end(), path.begin(), path.end());
        data.push_back(L'\0');
    }
    data.push_back(L'\0');
    if (data.size() == 1) data.push_back(L'\0');
    return data;
}

bool SamePath(const std::wstring& a, const std::wstring& b, orlyn::UpperCaseFold fold) {
    if (a.size() != b.size()) return false;
    std::wstring ua = a, ub = b;
    if (fold) {
        fold(&ua[0], ua.size());
        fold(&ub[0], ub.size());
    }
    return ua == ub;
}

bool HoldsPath(const std::vector<std::wstring>& list, const std::wstring& path, orlyn::UpperCaseFold fold) {
    return std::any_of(list.begin(), list.end(), [&](const std::wstring& have) { return SamePath(have, path, fold); });
}

void AddFolders(std::vector<std::wstring>& list, const std::vector<std::wstring>& more, orlyn::UpperCaseFold fold) {
    for (const std::wstring& path : more)
        if (!HoldsPath(list, path, fold)) list.push_back(path);
}

std::vector<std::wstring> DecodeFolders(const wchar_t* data, size_t units, orlyn::UpperCaseFold fold) {
    std::vector<std::wstring> paths;
    if (!data) return paths;
    size_t at = 0;
    while (at < units && paths.size() < kMaxFolders) {
        size_t end = at;
        while (end < units && data[end] != L'\0') ++end;
        std::wstring path(data + at, end - at);
        at = end + 1;
        if (path.empty()) break;  // two terminators in a row end the list
        if (path.size() > kMaxPathChars) continue;
        AddFolders(paths, {path}, fold);
    }
    return paths;
}

}  // namespace removal_memo
