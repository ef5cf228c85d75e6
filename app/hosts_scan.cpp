#include "app/hosts_scan.h"

#include <cwctype>

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
                                              const std::vector<std::wstring>& suffixes,
                                              EndsWithNoCaseFn endsWithNoCase) {
    std::vector<std::wstring> found;
    for (const auto& raw : lines) {
        std::wstring line = TrimTrailingSpace(raw);
        if (line.empty() || line[0] == L'#') continue;
        auto tokens = Tokens(line);
        if (tokens.size() < 2) continue;
        for (const auto& suffix : suffixes) {
            if (endsWithNoCase(tokens[1].c_str(), suffix.c_str())) {
                found.push_back(line);
                break;
            }
        }
    }
    return found;
}

}  // namespace hosts_check
