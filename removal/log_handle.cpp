#include "removal/log_handle.h"

#include "common/string_format.h"

void CLogHandle::Close() {
    if (stream_ && ownsStream_) stream_->Close();
    stream_.reset();
    ownsStream_ = false;
}

void CLogHandle::WriteLog(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLogV(format, args);
    va_end(args);
}

void CLogHandle::WriteLogV(const wchar_t* format, va_list args) {
    if (!IsOpen()) return;
    std::wstring line = orlyn::FormatLogTime();
    line += L'\t';
    line += orlyn::FormatStringV(format, args);
    stream_->Write(line);  // one write, so entries of two threads never interleave
}
