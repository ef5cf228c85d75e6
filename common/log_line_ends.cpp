#include "common/log_line_ends.h"

namespace orlyn {

std::wstring ExpandLineEnds(const wchar_t* text, size_t length, bool prevCr) {
    std::wstring out;
    out.reserve(length + 8);
    for (size_t i = 0; i < length; ++i) {
        wchar_t c = text[i];
        bool afterCr = i > 0 ? text[i - 1] == L'\r' : prevCr;
        if (c == L'\n' && !afterCr) out.push_back(L'\r');
        out.push_back(c);
    }
    return out;
}

std::wstring LineEndExpander::Expand(const wchar_t* text, size_t length) {
    if (length == 0) return std::wstring();
    std::wstring out = ExpandLineEnds(text, length, lastWasCr_);
    lastWasCr_ = text[length - 1] == L'\r';
    return out;
}

}  // namespace orlyn
