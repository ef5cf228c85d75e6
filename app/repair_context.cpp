#include "app/repair_context.h"

#include "browser/browser_steps.h"
#include "browser/cache_cleanup.h"
#include "common/string_format.h"
#include "common/windows_version.h"
#include "install/install_routine.h"
#include "removal/module_check.h"
#include "removal/removal_routine.h"

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

bool CRepairContext::CheckOldModule() { return ::CheckOldModule(*this, *this, *this, removalList, aclInfo); }

bool CRepairContext::RemoveOldModule() {
    return ::RemoveOldModule(*this, logHandle, *this, *this, removalList,
                             [this] { return RemoveBrowserIntegration(); });
}

bool CRepairContext::ClearInternetCache() { return ::ClearInternetCache(*this, logHandle, *this, *this); }

bool CRepairContext::InstallModule() {
    return ::InstallModule(*this, *this, *this, payloadList, aclInfo, *this,
                           [this] { return InstallBrowserIntegration(); });
}

bool CRepairContext::InstallPayloadFiles() {
    return ::InstallPayloadFiles(*this, *this, *this, payloadList, *this);
}

bool CRepairContext::RegisterPreApprovedControls() {
    return ::RegisterPreApprovedControls(*this, *this, [this] { return InstallBrowserIntegration(); });
}

bool CRepairContext::IsWow64() const { return orlyn::IsRunningUnderWow64(); }

bool CRepairContext::RemoveBrowserIntegration() { return ::RemoveBrowserIntegration(*this, chromeRestart); }

bool CRepairContext::InstallBrowserIntegration() { return ::InstallBrowserIntegration(*this, chromeRestart); }

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
