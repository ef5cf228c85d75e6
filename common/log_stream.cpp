#include "common/log_stream.h"

#include <ctime>
#include <cwchar>

#include "common/string_format.h"

namespace orlyn {

std::shared_ptr<LogStream> LogStream::Create(const wchar_t* path) {
    UniqueFileHandle file(::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    static const unsigned char kBom[] = {0xEF, 0xBB, 0xBF};
    DWORD written = 0;
    ::WriteFile(file.get(), kBom, sizeof(kBom), &written, nullptr);
    return std::shared_ptr<LogStream>(new LogStream(std::move(file)));
}

LogStream::~LogStream() { Close(); }

void LogStream::Write(const wchar_t* text, size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_ || length == 0) return;
    std::string bytes = ToUtf8(lineEnds_.Expand(text, length));
    DWORD written = 0;
    // Write failures are ignored: the log is an aid, never a reason to stop the repair.
    ::WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::FlushFileBuffers(file_.get());
}

void LogStream::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    file_.reset();
}

bool LogStream::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return file_.valid();
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
