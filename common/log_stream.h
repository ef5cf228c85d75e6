// The repair log's file: UTF-8 with a byte-order mark, every line feed written as CR LF, flushed after
// each write. Shared by the writers that reach it; once closed, writes through any of them do nothing.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <memory>
#include <mutex>
#include <string>

namespace orlyn {

class LogStream {
public:
    // Creates (or replaces) the file. Returns nullptr when it cannot be created.
    static std::shared_ptr<LogStream> Create(const wchar_t* path);
    ~LogStream();

    LogStream(const LogStream&) = delete;
    LogStream& operator=(const LogStream&) = delete;

    // Writes the text encoded as UTF-8 and flushes. A "\n" not preceded by "\r" is written as "\r\n".
    void Write(const wchar_t* text, size_t length);
    void Write(const std::wstring& text) { Write(text.data(), text.size()); }
    void Close();
    bool IsOpen() const;

private:
    explicit LogStream(HANDLE file) : file_(file) {}

    mutable std::mutex mutex_;
    HANDLE file_;
    bool lastWasCr_ = false;
};

// The current local time as "%Y-%m-%d %H:%M:%S" (19 characters); empty if formatting fails.
std::wstring FormatLogTime();

// Turns "\n" into "\r\n", leaving an existing "\r\n" alone. prevCr says whether the text before ended in "\r".
std::wstring ExpandLineEnds(const wchar_t* text, size_t length, bool prevCr);

}  // namespace orlyn
