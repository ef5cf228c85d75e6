#include "common/log_stream.h"

#include <ctime>
#include <cwchar>

#include "common/string_format.h"

namespace orlyn {

std::shared_ptr<LogStream> LogStream::Create(const wchar_t* path) {
    HANDLE file = ::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    static const unsigned char kBom[] = {0xEF, 0xBB, 0xBF};
    DWORD written = 0;
    ::WriteFile(file, kBom, sizeof(kBom), &written, nullptr);
    return std::shared_ptr<LogStream>(new LogStream(file));
}

LogStream::~LogStream() { Close(); }

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

void LogStream::Write(const wchar_t* text, size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ == INVALID_HANDLE_VALUE || length == 0) return;
    std::string bytes = ToUtf8(ExpandLineEnds(text, length, lastWasCr_));
    lastWasCr_ = text[length - 1] == L'\r';
    DWORD written = 0;
    // Write failures are ignored: the log is an aid, never a reason to stop the repair.
    ::WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::FlushFileBuffers(file_);
}

void LogStream::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }
}

bool LogStream::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return file_ != INVALID_HANDLE_VALUE;
}

std::wstring FormatLogTime() {
    time_t now = time(nullptr);
    struct tm local {};
    if (localtime_s(&local, &now) != 0) return std::wstring();
    wchar_t buf[128];
    size_t n = wcsftime(buf, 128, L"%Y-%m-%d %H:%M:%S", &local);
    return std::wstring(buf, n);
}

}  // namespace orlyn
