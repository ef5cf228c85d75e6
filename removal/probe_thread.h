// CProbeThread tries a handle on a thread of its own before the caller queries it, so that a query that
// would not return (one on a pipe with a pending synchronous read) costs that handle and a short wait,
// not the caller's thread.
//
// A thread is never ended from outside: one ended inside a system call can leave a lock of the process
// taken for good (the heap's, the loader's, or under Wine one of its own), and then the whole program
// stops. A try that does not come back in time is abandoned instead: the thread owns what it uses (its
// events, its copy of the handle, the hooks), so it may come back later, or never, without touching
// this object, and when it does it just exits.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "common/unique_handle.h"

class CProbeThread {
public:
    // What the thread does when it begins and with each handle it is given. Empty members keep the
    // default (no start-up work; a file name query). Lets a test make a probe that is slow to start or a
    // query that is slow or never returns, which the system does not give on every machine. Set it while
    // no probe runs; a new thread takes the hooks it finds when it starts. The handle the query gets is
    // the thread's own copy of the one tried. The context must outlive every thread that runs the hooks,
    // also one abandoned inside them, which may come back at any later time.
    struct ProbeHooks {
        void (*begin)(void* context) = nullptr;
        void (*query)(HANDLE handle, void* context) = nullptr;
        void* context = nullptr;
    };

    CProbeThread();
    // Tells the thread to exit (one still starting exits once it has begun) and waits for nothing.
    ~CProbeThread();
    CProbeThread(const CProbeThread&) = delete;
    CProbeThread& operator=(const CProbeThread&) = delete;

    // Starts a thread unless one is there (running or still starting); false when none can be started,
    // also when kMaxAbandoned abandoned threads are still out.
    bool Start();
    // Has the thread try the handle: true when the try came back within the guard time. False, counted
    // as a time-out, when no thread could be started, when a new thread has not begun within the guard
    // time (it is kept for the next handle), when the try did not come back (that thread is abandoned and
    // the next handle gets a new one), or at once, without a try, when the abandoned threads are at their
    // bound or when `key` (0: none) names a handle whose earlier try is still out: it would only wait the
    // same way.
    bool Probe(HANDLE handle, uint64_t key = 0);
    // At the end of a scan: tells a thread that has begun, which is then idle, to exit and lets it; one
    // still starting serves the next scan.
    void End();

    void SetHooks(const ProbeHooks& hooks) { hooks_ = hooks; }
    // Handles not tried since construction because the thread did not begin or come back in time, or
    // because no thread could be had.
    unsigned timeouts() const { return timeouts_; }
    // Threads abandoned in a try that have not come back yet.
    size_t abandonedThreads();

    // Guard time of a handle's try, and separately of the wait for a new thread to begin.
    static constexpr DWORD kTimeoutMs = 30;
    // Bound of the threads abandoned and still out. A query that never returns is rare (a handle of a
    // pipe with a synchronous read pending; a handful on a busy system, and each is tried once while its
    // thread is out), and a try abandoned only because the machine was busy comes back soon. Dozens still
    // out means the system itself is stuck, and starting more threads would only cost memory (a stack
    // reservation each, and under Wine a host thread) and 30 ms per handle.
    static constexpr size_t kMaxAbandoned = 32;

private:
    struct Context;
    struct Abandoned {
        orlyn::UniqueHandle thread;
        uint64_t key;
    };

    static DWORD WINAPI ThreadMain(void* param);
    static void Release(Context* context);
    bool TryHandle(HANDLE handle, uint64_t key);  // Probe without the count
    void Abandon(uint64_t key);                    // gives up on the current thread
    void Dismiss(DWORD waitMs);                    // tells the current thread to exit and forgets it
    void PruneAbandoned();                         // forgets the abandoned threads that have ended

    orlyn::UniqueHandle thread_;
    Context* context_ = nullptr;  // the current thread's, with one reference held here
    std::vector<Abandoned> abandoned_;
    ProbeHooks hooks_;
    unsigned timeouts_ = 0;
};
