#include "app/hosts_check.h"

#include <windows.h>

#include <cwctype>

#include "build_settings.h"
#include "common/string_format.h"
#include "common/unique_handle.h"

namespace hosts_check {

std::vector<std::wstring> SplitReads(const std::wstring& text, size_t maxUnits) {
    std::vector<std::wstring> pieces;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = start;
        while (end < text.size() && end - start < maxUnits) {
            if (text[end++] == L'\n') break;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end;
    }
    return pieces;
}

namespace {

std::wstring TrimTrailingSpace(const std::wstring& line) {
    size_t end = line.size();
    while (end > 0 && std::iswspace(line[end - 1])) --end;
    return line.substr(0, end);
}

// Tokens split at runs of spaces and tabs, as wcstok(line, L" \t") gives them.
std::vector<std::wstring> Tokens(const std::wstring& line) {
    std::vector<std::wstring> tokens;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
        size_t begin = i;
        while (i < line.size() && line[i] != L' ' && line[i] != L'\t') ++i;
        if (i > begin) tokens.push_back(line.substr(begin, i - begin));
    }
    return tokens;
}

}  // namespace

std::vector<std::wstring> FindRedirectedLines(const std::vector<std::wstring>& lines,
                                              const std::vector<std::wstring>& suffixes) {
    std::vector<std::wstring> found;
    for (const auto& raw : lines) {
        std::wstring line = TrimTrailingSpace(raw);
        if (line.empty() || line[0] == L'#') continue;
        auto tokens = Tokens(line);
        if (tokens.size() < 2) continue;
        for (const auto& suffix : suffixes) {
            if (orlyn::EndsWithNoCase(tokens[1].c_str(), suffix.c_str())) {
                found.push_back(line);
                break;
            }
        }
    }
    return found;
}

bool ReadHostsText(const wchar_t* path, std::wstring& text) {
    text.clear();
    orlyn::UniqueFileHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);

    size_t eof = bytes.find('\x1a');  // text mode ends at Ctrl-Z
    if (eof != std::string::npos) bytes.resize(eof);
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    if (bytes.empty()) return true;

    int size = static_cast<int>(bytes.size());
    UINT codePage = CP_UTF8;
    int units = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (units <= 0) {
        codePage = CP_ACP;
        units = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    }
    if (units <= 0) return true;
    std::wstring wide(static_cast<size_t>(units), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), size, &wide[0], units);

    text.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        if (wide[i] == L'\r' && i + 1 < wide.size() && wide[i + 1] == L'\n') continue;
        text += wide[i];
    }
    return true;
}

std::vector<std::wstring> MakerDomainSuffixes() {
    return {std::wstring(L".") + ORLYN_WEB_DOMAIN_1, std::wstring(L".") + ORLYN_WEB_DOMAIN_2};
}

}  // namespace hosts_check
