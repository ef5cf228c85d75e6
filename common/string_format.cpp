#include "common/string_format.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace orlyn {

namespace {
// msvcrt's own formatter: mingw's C99 stdio would read %s as a narrow string.
int MsFormat(wchar_t* buf, size_t count, const wchar_t* format, va_list args) {
    return _vsnwprintf(buf, count, format, args);
}
}  // namespace

bool FormatV(wchar_t* buf, size_t count, const wchar_t* format, va_list args) {
    if (!buf || count == 0) return false;
    va_list copy;
    va_copy(copy, args);
    int n = MsFormat(buf, count - 1, format, copy);
    va_end(copy);
    buf[count - 1] = L'\0';
    if (n >= 0 && static_cast<size_t>(n) < count) {
        buf[n] = L'\0';
        return true;
    }
    // Cut: do not leave half a surrogate pair at the end.
    size_t len = count - 1;
    if (len > 0 && IS_HIGH_SURROGATE(buf[len - 1])) buf[len - 1] = L'\0';
    return false;
}

bool Format(wchar_t* buf, size_t count, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    bool ok = FormatV(buf, count, format, args);
    va_end(args);
    return ok;
}

std::wstring FormatStringV(const wchar_t* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int needed = _vscwprintf(format, copy);
    va_end(copy);
    if (needed <= 0) return std::wstring();
    std::vector<wchar_t> buf(static_cast<size_t>(needed) + 1);
    va_copy(copy, args);
    MsFormat(buf.data(), buf.size(), format, copy);
    va_end(copy);
    buf.back() = L'\0';
    return std::wstring(buf.data(), static_cast<size_t>(needed));
}

std::wstring FormatString(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring s = FormatStringV(format, args);
    va_end(args);
    return s;
}

std::string ToUtf8(const wchar_t* text, size_t length) {
    if (length == 0) return std::string();
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], n, nullptr, nullptr);
    return out;
}

std::string ToUtf8(const std::wstring& text) { return ToUtf8(text.data(), text.size()); }

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return std::wstring();
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

bool CopyFixed(wchar_t* dst, size_t count, const wchar_t* src) {
    if (!dst || count == 0) return false;
    size_t len = src ? wcslen(src) : 0;
    if (len >= count) {
        dst[0] = L'\0';
        return false;
    }
    if (len) wmemcpy(dst, src, len);
    dst[len] = L'\0';
    return true;
}

namespace {
// Upper-cases one unit the way the system does for file names (not only ASCII).
wchar_t UpperUnit(wchar_t c) {
    return static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(::CharUpperW(reinterpret_cast<LPWSTR>(
        static_cast<ULONG_PTR>(static_cast<unsigned short>(c))))));
}
}  // namespace

bool EqualsNoCase(const wchar_t* a, const wchar_t* b) {
    if (!a || !b) return a == b;
    for (; *a && *b; ++a, ++b) {
        if (UpperUnit(*a) != UpperUnit(*b)) return false;
    }
    return *a == *b;
}

bool EndsWithNoCase(const wchar_t* text, const wchar_t* suffix) {
    if (!text || !suffix) return false;
    size_t n = wcslen(text), m = wcslen(suffix);
    if (m > n) return false;
    return EqualsNoCase(text + (n - m), suffix);
}

}  // namespace orlyn
