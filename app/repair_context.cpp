#include "app/repair_context.h"

#include "common/string_format.h"

CRepairContext::CRepairContext() = default;

CRepairContext::~CRepairContext() = default;

void CRepairContext::WriteLogV(const wchar_t* format, va_list args) {
    if (!IsLogOpen()) return;
    wchar_t message[4096];
    orlyn::FormatV(message, 4096, format, args);  // a longer message is cut, never overrun
    std::wstring line = orlyn::FormatLogTime();
    line += L'\t';
    line += message;
    logStream->Write(line);
}

bool CRepairContext::OpenLog(const wchar_t* path) {
    orlyn::CopyFixed(logPath, MAX_PATH, path);
    logStream = orlyn::LogStream::Create(path);
    logHandle.Attach(logStream, false);
    return logStream != nullptr;
}

void CRepairContext::CloseLog() {
    if (logStream) logStream->Close();
    logStream.reset();
}

bool CRepairContext::BuildRemovalList() { return ::BuildRemovalList(removalList); }

void CRepairContext::GatherSystemInfo() { ::GatherSystemInfo(systemInfo); }

void CRepairContext::WriteSystemInfo() {
    if (IsLogOpen()) ::WriteSystemInfo(systemInfo, *logStream);
}

bool CRepairContext::ExtractPayloadManifest(std::wstring& text) {
    if (!::ExtractPayloadManifest(text)) return false;
    orlyn::CopyFixed(manifestTempPath, MAX_PATH, text.c_str());
    return true;
}
