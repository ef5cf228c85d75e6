// CProbeThread tries a handle on a thread of its own before the caller queries it, so that a query that
// would not return (one on a pipe with a pending synchronous read) costs that handle and a short wait,
// not the caller's thread.
#pragma once

#include <windows.h>

#include "common/unique_handle.h"

class CProbeThread {
public:
    // What the thread does when it begins and with each handle it is given. Empty members keep the
    // default (no start-up work; a file name query). Lets a test make a probe that is slow to start or a
    // query that never returns, which the system does not give on every machine. Set it while no probe
    // runs; a new thread takes the hooks it finds when it starts.
    struct ProbeHooks {
        void (*begin)(void* context) = nullptr;
        void (*query)(HANDLE handle, void* context) = nullptr;
        void* context = nullptr;
    };

    CProbeThread();
    // A thread still starting gets time to begin, then it is ended anyway.
    ~CProbeThread();
    CProbeThread(const CProbeThread&) = delete;
    CProbeThread& operator=(const CProbeThread&) = delete;

    // Starts a thread unless one is there (running or still starting); false when none can be started.
    bool Start();
    // Has the thread try the handle: true when the try came back within the guard time. False, counted
    // as a time-out, when no thread could be started, when a new thread has not begun within the guard
    // time (it is kept for the next handle), or when the try did not come back (that thread is ended and
    // the next handle gets a new one).
    bool Probe(HANDLE handle);
    // At the end of a scan: ends the thread, unless it is still starting.
    void End();

    void SetHooks(const ProbeHooks& hooks) { hooks_ = hooks; }
    // Handles not tried since construction because the thread did not begin or come back in time.
    unsigned timeouts() const { return timeouts_; }

    // Guard time of a handle's try, and separately of the wait for a new thread to begin.
    static constexpr DWORD kTimeoutMs = 30;

private:
    using NtQueryInformationFileFn = LONG(WINAPI*)(HANDLE, PVOID, PVOID, ULONG, ULONG);

    static DWORD WINAPI ThreadMain(void* param);
    bool TryHandle(HANDLE handle);  // Probe without the count
    void Terminate();  // ends the thread at once

    orlyn::UniqueHandle thread_;
    HANDLE volatile handleUnderQuery_ = nullptr;
    orlyn::UniqueHandle doneEvent_;   // set by the thread after each try
    orlyn::UniqueHandle startEvent_;  // set to make the thread try handleUnderQuery_
    orlyn::UniqueHandle readyEvent_;  // manual reset; set by a new thread once it has begun
    ProbeHooks hooks_;
    unsigned timeouts_ = 0;
    NtQueryInformationFileFn ntQueryInformationFile_ = nullptr;
};
