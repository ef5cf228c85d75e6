#include "removal/probe_thread.h"

#include "common/win_api.h"

namespace {

constexpr ULONG kFileNameInformation = 9;
// How long the destruction waits for a thread that is still starting before it ends it anyway.
constexpr DWORD kStartGraceMs = 5000;

}  // namespace

CProbeThread::CProbeThread() {
    ntQueryInformationFile_ = orlyn::LookupProc<NtQueryInformationFileFn>(L"ntdll.dll", "NtQueryInformationFile");
    doneEvent_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    startEvent_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    readyEvent_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

CProbeThread::~CProbeThread() {
    // The thread uses this object: one still starting gets time to begin, then it is ended anyway.
    if (thread_) ::WaitForSingleObject(readyEvent_.get(), kStartGraceMs);
    Terminate();
}

DWORD WINAPI CProbeThread::ThreadMain(void* param) {
    auto* self = static_cast<CProbeThread*>(param);
    // The hooks do not change while a scan runs; a copy keeps this thread off the field.
    const ProbeHooks hooks = self->hooks_;
    if (hooks.begin) hooks.begin(hooks.context);
    ::SetEvent(self->readyEvent_.get());
    for (;;) {
        if (::WaitForSingleObject(self->startEvent_.get(), INFINITE) != WAIT_OBJECT_0) return 1;
        // The answer is not used: what matters is whether the query on this handle returns at all.
        // Only the stack is touched, so the thread can be ended at any point.
        if (hooks.query) {
            hooks.query(self->handleUnderQuery_, hooks.context);
        } else if (self->ntQueryInformationFile_) {
            ULONG_PTR status[2];
            ULONG_PTR info[1024 / sizeof(ULONG_PTR)];
            self->ntQueryInformationFile_(self->handleUnderQuery_, status, info, sizeof(info), kFileNameInformation);
        }
        ::SetEvent(self->doneEvent_.get());
    }
}

bool CProbeThread::Start() {
    if (thread_) return true;
    if (!doneEvent_ || !startEvent_ || !readyEvent_) return false;
    // A thread ended just before it set the done event must not answer for the next handle.
    ::ResetEvent(doneEvent_.get());
    ::ResetEvent(startEvent_.get());
    ::ResetEvent(readyEvent_.get());
    thread_.reset(::CreateThread(nullptr, 64 * 1024, ThreadMain, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    return static_cast<bool>(thread_);
}

bool CProbeThread::Probe(HANDLE handle) {
    if (TryHandle(handle)) return true;
    ++timeouts_;
    return false;
}

bool CProbeThread::TryHandle(HANDLE handle) {
    handleUnderQuery_ = handle;
    if (!Start()) return false;
    // A new thread that has not begun within the guard time costs this handle, not the scan: the handle
    // is skipped and the thread is kept for the next one (ending it while it starts is unsafe).
    if (::WaitForSingleObject(readyEvent_.get(), kTimeoutMs) != WAIT_OBJECT_0) return false;
    ::SetEvent(startEvent_.get());
    if (::WaitForSingleObject(doneEvent_.get(), kTimeoutMs) == WAIT_OBJECT_0) return true;
    // The query did not return: that thread, which has begun, is of no more use.
    Terminate();
    return false;
}

void CProbeThread::End() {
    // A thread ended while it is still starting can leave the loader lock taken for good, and with it the
    // whole program; one that has not begun yet is kept and serves the next scan.
    if (thread_ && ::WaitForSingleObject(readyEvent_.get(), 0) == WAIT_OBJECT_0) Terminate();
}

void CProbeThread::Terminate() {
    if (!thread_) return;
    ::TerminateThread(thread_.get(), 0);
    ::WaitForSingleObject(thread_.get(), 1000);
    thread_.reset();
}
