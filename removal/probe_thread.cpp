#include "removal/probe_thread.h"

#include <new>

#include "common/win_api.h"

namespace {

constexpr ULONG kFileNameInformation = 9;
// How long the end of a scan waits for an idle thread it told to exit, so that the scan leaves no
// thread or handle of its own behind. Such a thread is not in a query; it only has to be scheduled.
constexpr DWORD kExitWaitMs = 1000;

using NtQueryInformationFileFn = LONG(WINAPI*)(HANDLE, PVOID, PVOID, ULONG, ULONG);

}  // namespace

// What one probe thread uses, shared by a count between the thread and this object (while it has not
// given the thread up), so that whichever lets go last frees it.
struct CProbeThread::Context {
    LONG references = 1;
    orlyn::UniqueHandle startEvent;  // auto reset: set to make the thread try `handle`
    orlyn::UniqueHandle doneEvent;   // auto reset: set by the thread after each try
    orlyn::UniqueHandle readyEvent;  // manual reset: set once the thread has begun
    orlyn::UniqueHandle exitEvent;   // manual reset: set to make the thread exit
    // The thread's own copy of the handle under query, so that the caller may close the handle it tried
    // while an abandoned try still uses it. Set before the start event; the thread closes it as soon as
    // its query returns, so that a late one keeps no file open longer than the query itself does.
    orlyn::UniqueHandle handle;
    ProbeHooks hooks;
    NtQueryInformationFileFn queryInformationFile = nullptr;

    bool Valid() const { return startEvent && doneEvent && readyEvent && exitEvent; }
};

CProbeThread::CProbeThread() = default;

CProbeThread::~CProbeThread() {
    // Neither a thread still starting nor one abandoned in a try is waited for: each exits by itself.
    if (thread_) Dismiss(0);
}

void CProbeThread::Release(Context* context) {
    if (::InterlockedDecrement(&context->references) == 0) delete context;
}

DWORD WINAPI CProbeThread::ThreadMain(void* param) {
    auto* context = static_cast<Context*>(param);
    const ProbeHooks& hooks = context->hooks;
    if (hooks.begin) hooks.begin(hooks.context);
    ::SetEvent(context->readyEvent.get());
    // The exit event comes first, so a thread told to exit never takes another try.
    const HANDLE events[2] = {context->exitEvent.get(), context->startEvent.get()};
    while (::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        // The answer is not used: what matters is whether the query on this handle returns at all.
        if (hooks.query) {
            hooks.query(context->handle.get(), hooks.context);
        } else if (context->queryInformationFile) {
            ULONG_PTR status[2];
            ULONG_PTR info[1024 / sizeof(ULONG_PTR)];
            context->queryInformationFile(context->handle.get(), status, info, sizeof(info), kFileNameInformation);
        }
        context->handle.reset();
        ::SetEvent(context->doneEvent.get());
    }
    Release(context);
    return 0;
}

bool CProbeThread::Start() {
    if (thread_) return true;
    PruneAbandoned();
    if (abandoned_.size() >= kMaxAbandoned) return false;
    auto* context = new (std::nothrow) Context;
    if (!context) return false;
    context->startEvent.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    context->doneEvent.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    context->readyEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    context->exitEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    context->hooks = hooks_;
    context->queryInformationFile =
        orlyn::LookupProc<NtQueryInformationFileFn>(L"ntdll.dll", "NtQueryInformationFile");
    if (!context->Valid()) {
        Release(context);
        return false;
    }
    context->references = 2;  // one for the thread
    thread_.reset(
        ::CreateThread(nullptr, 64 * 1024, ThreadMain, context, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread_) {
        context->references = 1;
        Release(context);
        return false;
    }
    context_ = context;
    return true;
}

bool CProbeThread::Probe(HANDLE handle, uint64_t key) {
    if (TryHandle(handle, key)) return true;
    ++timeouts_;
    return false;
}

bool CProbeThread::TryHandle(HANDLE handle, uint64_t key) {
    if (key != 0) {
        PruneAbandoned();
        for (const Abandoned& a : abandoned_) {
            if (a.key == key) return false;
        }
    }
    if (!Start()) return false;
    // A new thread that has not begun within the guard time costs this handle, not the scan: the handle
    // is skipped and the thread is kept for the next one.
    if (::WaitForSingleObject(context_->readyEvent.get(), kTimeoutMs) != WAIT_OBJECT_0) return false;
    HANDLE copy = nullptr;
    const HANDLE self = ::GetCurrentProcess();
    if (!::DuplicateHandle(self, handle, self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) return false;
    context_->handle.reset(copy);
    ::SetEvent(context_->startEvent.get());
    if (::WaitForSingleObject(context_->doneEvent.get(), kTimeoutMs) == WAIT_OBJECT_0) return true;
    // The try did not come back: that thread may be inside a system call, where ending it could leave a
    // lock of the process taken for good. It is left to come back, or not, on its own.
    Abandon(key);
    // The next handle's thread starts now, so that it has begun by the time that handle needs it.
    Start();
    return false;
}

void CProbeThread::End() {
    // One that has not begun yet is kept and serves the next scan.
    if (thread_ && ::WaitForSingleObject(context_->readyEvent.get(), 0) == WAIT_OBJECT_0) Dismiss(kExitWaitMs);
}

void CProbeThread::Abandon(uint64_t key) {
    ::SetEvent(context_->exitEvent.get());
    Release(context_);
    context_ = nullptr;
    abandoned_.push_back({std::move(thread_), key});
}

void CProbeThread::Dismiss(DWORD waitMs) {
    ::SetEvent(context_->exitEvent.get());
    Release(context_);
    context_ = nullptr;
    if (waitMs) ::WaitForSingleObject(thread_.get(), waitMs);
    thread_.reset();
}

void CProbeThread::PruneAbandoned() {
    size_t kept = 0;
    for (Abandoned& a : abandoned_) {
        if (::WaitForSingleObject(a.thread.get(), 0) == WAIT_TIMEOUT) abandoned_[kept++] = std::move(a);
    }
    abandoned_.resize(kept);
}

size_t CProbeThread::abandonedThreads() {
    PruneAbandoned();
    return abandoned_.size();
}
