#include "app/repair_context.h"

#include "common/string_format.h"
#include "common/unique_handle.h"

CRepairContext::CRepairContext() { ::InitializeCriticalSection(&lock); }

CRepairContext::~CRepairContext() { ::DeleteCriticalSection(&lock); }

void CRepairContext::WriteLog(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLogV(format, args);
    va_end(args);
}

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

void CRepairContext::ResetProgress() {
    orlyn::CriticalSectionLock guard(lock);
    phaseCount = 3;
    phasesDone = 0;
    phaseItemCount = 1;
    phaseItemsDone = 0;
}

void CRepairContext::BeginPhaseItems(DWORD itemCount) {
    orlyn::CriticalSectionLock guard(lock);
    phaseItemCount = itemCount;
    phaseItemsDone = 0;
}

void CRepairContext::AddPhaseItemDone() {
    orlyn::CriticalSectionLock guard(lock);
    ++phaseItemsDone;
}

void CRepairContext::CompletePhaseItems() {
    orlyn::CriticalSectionLock guard(lock);
    phaseItemsDone = phaseItemCount;
}

void CRepairContext::CompletePhase() {
    orlyn::CriticalSectionLock guard(lock);
    ++phasesDone;
    phaseItemsDone = 0;
}

void CRepairContext::StepSimulatedProgress() {
    orlyn::CriticalSectionLock guard(lock);
    // Signed arithmetic: a count below 10 must not wrap around and let the step run away.
    if (static_cast<long long>(phaseItemsDone) < static_cast<long long>(phaseItemCount) - 10) ++phaseItemsDone;
}

CRepairContext::Progress CRepairContext::ReadProgress() const {
    orlyn::CriticalSectionLock guard(lock);
    return Progress{phaseCount, phasesDone, phaseItemCount, phaseItemsDone};
}
