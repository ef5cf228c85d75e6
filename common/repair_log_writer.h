// The repair log as the routines and helpers write it: timestamped, formatted lines. The repair
// context is the one writer the program has; tests may give their own.
#pragma once

#include <cstdarg>
#include <string>

class RepairLogWriter {
public:
    virtual ~RepairLogWriter() = default;

    // Writes timestamp, tab and the formatted message to the log. Outside text is always an argument of
    // the format, never the format.
    void WriteLog(const wchar_t* format, ...);
    virtual void WriteLogV(const wchar_t* format, va_list args) = 0;
};

// The four entries that open a phase routine's part of the log: an empty line, the routine's name
// between two rules.
void WriteRoutineBanner(RepairLogWriter& log, const wchar_t* routineName);
// The line that follows a failure's own line: the Win32 error code.
void WriteErrorCodeLine(RepairLogWriter& log, unsigned long error);
// The same entry as text without its line end, for entries added after the log was closed.
std::wstring ErrorCodeEntry(unsigned long error);
