// One argument of a command line, quoted so that the system's splitting (CommandLineToArgvW and the C
// run-time's) gives it back unchanged. Pure: takes the text and returns the quoted text.
#pragma once

#include <string>

// The argument between double quotes: a quote inside becomes \" and the backslashes just before it are
// doubled, as are the backslashes at the end (before the closing quote); other backslashes stay as
// they are. "C:\logs\" becomes "C:\logs\\" and a"b becomes "a\"b".
std::wstring QuoteArgument(const std::wstring& argument);
