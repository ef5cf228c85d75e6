// printf-style formatting with the Microsoft meaning of %s (a wide string in wide formats), and
// conversions between UTF-16 and UTF-8.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace orlyn {

// Formats into buf (capacity count units, count > 0). Always terminates; a result that does not fit
// is cut at the buffer's end without splitting a surrogate pair. Returns false when it was cut.
bool FormatV(wchar_t* buf, size_t count, const wchar_t* format, va_list args);
bool Format(wchar_t* buf, size_t count, const wchar_t* format, ...);

// Formats without a length limit.
std::wstring FormatStringV(const wchar_t* format, va_list args);
std::wstring FormatString(const wchar_t* format, ...);

std::string ToUtf8(const std::wstring& text);
std::string ToUtf8(const wchar_t* text, size_t length);
std::wstring FromUtf8(const std::string& text);

// Copies src into a fixed buffer of count units; returns false (and leaves dst empty) when it does not fit.
bool CopyFixed(wchar_t* dst, size_t count, const wchar_t* src);

// Case-insensitive comparison of two UTF-16 strings (ordinal, upper-cased).
bool EqualsNoCase(const wchar_t* a, const wchar_t* b);
bool EndsWithNoCase(const wchar_t* text, const wchar_t* suffix);

}  // namespace orlyn
