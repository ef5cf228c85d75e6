// The hosts scan: which lines of a hosts file's text redirect a web domain. Text in, lines out.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace hosts_check {

// Splits file text into the pieces that a line reader with a 1024-unit buffer returns: each piece
// ends after a line feed or after 1023 units, whichever comes first.
std::vector<std::wstring> SplitReads(const std::wstring& text, size_t maxUnits = 1023);

// The lines whose first host name (second token) ends in one of the suffixes (case-insensitive; a
// token must be longer than or equal to the suffix). Lines are returned without trailing white space,
// in input order. Empty lines and lines starting with '#' are skipped; leading blanks are kept, so an
// indented '#' is not a comment. The case-insensitive comparison is the caller's (the system's case
// table), so this file needs nothing of Windows.
using EndsWithNoCaseFn = bool (*)(const wchar_t* text, const wchar_t* suffix);
std::vector<std::wstring> FindRedirectedLines(const std::vector<std::wstring>& lines,
                                              const std::vector<std::wstring>& suffixes,
                                              EndsWithNoCaseFn endsWithNoCase);

}  // namespace hosts_check
