// The repair log's file: UTF-8 with a byte-order mark, every line feed written as CR LF, flushed after
// each write. Shared by the writers that reach it; once closed, writes through any of them do nothing.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "common/log_line_ends.h"
#include "common/unique_handle.h"

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
    explicit LogStream(UniqueFileHandle file) : file_(std::move(file)) {}

    mutable std::mutex mutex_;
    UniqueFileHandle file_;
    LineEndExpander lineEnds_;
};

// The current local time as "%Y-%m-%d %H:%M:%S" (19 characters); empty if formatting fails.
std::wstring FormatLogTime();

}  // namespace orlyn
