#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "common/unique_handle.h"
#include "common/win_api.h"
#include "removal/probe_thread.h"
#include "support/test_support.h"

using orlyn::UniqueFileHandle;
using orlyn::UniqueHandle;

namespace {

UniqueHandle NewEvent() { return UniqueHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr)); }

// Whether two handles stand for one object: the probe thread tries its own copy of a handle.
bool SameObject(HANDLE a, HANDLE b) {
    using CompareFn = BOOL(WINAPI*)(HANDLE, HANDLE);
    static const auto compare = orlyn::LookupProc<CompareFn>(L"kernelbase.dll", "CompareObjectHandles");
    return a == b || (a && b && compare && compare(a, b));
}

// Hooks that count what the probe thread does. The thread's start can be held up (until `release` is
// set, or for at most holdMs), and the try of one handle can be made never to return. A thread held in
// its start records a handle of itself in `heldThread`.
struct ThreadScript {
    UniqueHandle entered = NewEvent();  // set when a thread's start begins
    UniqueHandle release = NewEvent();  // lets a held-up start finish
    UniqueHandle begun = NewEvent();    // set when a held-up start has finished
    UniqueHandle never = NewEvent();
    UniqueHandle starts{::CreateSemaphoreW(nullptr, 0, 100, nullptr)};  // released as each thread begins
    DWORD holdMs = INFINITE;
    HANDLE hangOn = nullptr;  // the try of this handle does not return
    LONG begins = 0;
    LONG tries = 0;
    HANDLE volatile lastTried = nullptr;  // a copy: the thread's own handle is closed after the try
    HANDLE heldThread = nullptr;
    ~ThreadScript() {
        if (lastTried) ::CloseHandle(lastTried);
        if (heldThread) ::CloseHandle(heldThread);
    }

    // defaultQuery: the thread's own file name query instead of the counted try.
    CProbeThread::ProbeHooks Hooks(bool holdStart = false, bool defaultQuery = false) {
        CProbeThread::ProbeHooks hooks;
        hooks.begin = holdStart ? &HeldStart : &Start;
        hooks.query = defaultQuery ? nullptr : &Try;
        hooks.context = this;
        return hooks;
    }

private:
    static void Start(void* context) {
        auto* self = static_cast<ThreadScript*>(context);
        ::InterlockedIncrement(&self->begins);
        ::ReleaseSemaphore(self->starts.get(), 1, nullptr);
    }
    static void HeldStart(void* context) {
        auto* self = static_cast<ThreadScript*>(context);
        ::InterlockedIncrement(&self->begins);
        ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &self->heldThread,
                          SYNCHRONIZE, FALSE, 0);
        ::SetEvent(self->entered.get());
        ::WaitForSingleObject(self->release.get(), self->holdMs);
        ::SetEvent(self->begun.get());
    }
    static void Try(HANDLE handle, void* context) {
        auto* self = static_cast<ThreadScript*>(context);
        ::InterlockedIncrement(&self->tries);
        HANDLE copy = nullptr;
        ::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, FALSE,
                          DUPLICATE_SAME_ACCESS);
        if (HANDLE old = ::InterlockedExchangePointer(const_cast<HANDLE*>(&self->lastTried), copy)) ::CloseHandle(old);
        if (SameObject(handle, self->hangOn)) ::WaitForSingleObject(self->never.get(), INFINITE);
    }
};

bool IsSet(const UniqueHandle& event) { return ::WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0; }

// Starts a thread and waits until it has begun, so that a busy machine's slow thread start does not
// count against the guard time of the try that follows.
testing::AssertionResult StartAndAwait(CProbeThread& probe, const ThreadScript& script) {
    if (!probe.Start()) return testing::AssertionFailure() << "no thread";
    if (::WaitForSingleObject(script.starts.get(), 10000) != WAIT_OBJECT_0)
        return testing::AssertionFailure() << "the thread did not begin";
    return testing::AssertionSuccess();
}

}  // namespace

TEST(CProbeThread, TriesEachHandleOnOneThreadWithTheFileNameQueryByDefault) {
    testing_support::TempDir dir(L"probe");
    const std::wstring file = dir / L"probed.txt";
    ASSERT_TRUE(testing_support::WriteFileText(file, L"x"));
    UniqueFileHandle f(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(f);
    {
        ThreadScript counter;
        CProbeThread probe;
        probe.SetHooks(counter.Hooks(false, true));
        ASSERT_TRUE(StartAndAwait(probe, counter));
        EXPECT_TRUE(probe.Probe(f.get()));
        EXPECT_TRUE(probe.Probe(f.get()));
        EXPECT_EQ(counter.tries, 0);
        EXPECT_EQ(probe.timeouts(), 0u);
    }

    ThreadScript script;
    UniqueHandle first = NewEvent(), second = NewEvent();
    CProbeThread probe;
    probe.SetHooks(script.Hooks());
    ASSERT_TRUE(StartAndAwait(probe, script));
    EXPECT_TRUE(probe.Probe(first.get()));
    EXPECT_TRUE(SameObject(script.lastTried, first.get()));
    EXPECT_TRUE(probe.Probe(second.get()));
    EXPECT_TRUE(SameObject(script.lastTried, second.get()));
    EXPECT_EQ(script.tries, 2);
    EXPECT_EQ(script.begins, 1);
    // The end of a scan ends a thread that has begun; the next try starts a new one.
    probe.End();
    ASSERT_TRUE(StartAndAwait(probe, script));
    EXPECT_TRUE(probe.Probe(first.get()));
    EXPECT_EQ(script.begins, 2);
    EXPECT_EQ(probe.timeouts(), 0u);
}

TEST(CProbeThread, SkipsAHandleWhoseTryDoesNotReturnAndGivesTheNextANewThread) {
    ThreadScript script;
    UniqueHandle hanging = NewEvent(), plain = NewEvent();
    script.hangOn = hanging.get();
    CProbeThread probe;
    probe.SetHooks(script.Hooks());
    ASSERT_TRUE(StartAndAwait(probe, script));

    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(probe.Probe(hanging.get()));
    EXPECT_LT(::GetTickCount() - start, 2000u);
    EXPECT_EQ(probe.timeouts(), 1u);
    EXPECT_EQ(script.tries, 1);

    // The hung thread is gone: the next try needs a new one.
    ASSERT_TRUE(StartAndAwait(probe, script));
    EXPECT_TRUE(probe.Probe(plain.get()));
    EXPECT_TRUE(SameObject(script.lastTried, plain.get()));
    EXPECT_EQ(script.begins, 2);
    EXPECT_EQ(script.tries, 2);
    EXPECT_EQ(probe.timeouts(), 1u);
}

TEST(CProbeThread, SkipsTheHandleWhileANewThreadIsSlowToStartAndKeepsTheThread) {
    ThreadScript script;
    UniqueHandle handle = NewEvent();
    CProbeThread probe;
    probe.SetHooks(script.Hooks(true));

    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(probe.Probe(handle.get()));
    EXPECT_LT(::GetTickCount() - start, 1000u);
    EXPECT_EQ(script.tries, 0);
    EXPECT_EQ(probe.timeouts(), 1u);

    // Neither the end of a scan nor a new start ends or replaces a thread that is still starting.
    probe.End();
    ASSERT_TRUE(probe.Start());
    ::SetEvent(script.release.get());
    ASSERT_EQ(::WaitForSingleObject(script.begun.get(), 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(probe.Probe(handle.get()));
    EXPECT_EQ(script.begins, 1);
    EXPECT_EQ(script.tries, 1);
    EXPECT_EQ(probe.timeouts(), 1u);
}

TEST(CProbeThread, DestructionNeitherWaitsForNorEndsAThreadStillStartingWhichExitsOnceItHasBegun) {
    ThreadScript script;  // the start is held until release
    auto probe = std::make_unique<CProbeThread>();
    probe->SetHooks(script.Hooks(true));
    ASSERT_TRUE(probe->Start());
    ASSERT_EQ(::WaitForSingleObject(script.entered.get(), 10000), WAIT_OBJECT_0);
    const DWORD start = ::GetTickCount();
    probe.reset();
    EXPECT_LT(::GetTickCount() - start, 1000u);
    ASSERT_TRUE(script.heldThread);
    EXPECT_EQ(::WaitForSingleObject(script.heldThread, 200), static_cast<DWORD>(WAIT_TIMEOUT));
    ::SetEvent(script.release.get());
    // Once it has begun it sees that it is no longer wanted and exits, having tried nothing.
    EXPECT_EQ(::WaitForSingleObject(script.heldThread, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(IsSet(script.begun));
    EXPECT_EQ(script.tries, 0);
}

namespace {

using NtQueryInformationFileFn = LONG(WINAPI*)(HANDLE, PVOID, PVOID, ULONG, ULONG);

// The system's own file name query; its status, or -1 when the query is missing.
LONG QueryFileName(HANDLE file) {
    static const auto query = orlyn::LookupProc<NtQueryInformationFileFn>(L"ntdll.dll", "NtQueryInformationFile");
    if (!query) return -1;
    ULONG_PTR status[2];
    ULONG_PTR info[1024 / sizeof(ULONG_PTR)];
    return query(file, status, info, sizeof(info), 9);
}

// A try that comes back late: it waits for `release` at most delayMs (INFINITE: only for release), then
// runs the system's file name query on the handle it was given. Each try records a handle of its
// thread, so that a test can see the threads end by themselves. The test keeps it until every thread
// that may come back has come back.
struct SlowQuery {
    static constexpr LONG kMaxThreads = 256;
    DWORD delayMs = INFINITE;
    UniqueHandle release = NewEvent();
    UniqueHandle starts{::CreateSemaphoreW(nullptr, 0, 1000, nullptr)};  // released as each thread begins
    LONG entered = 0;
    LONG returned = 0;
    LONG queriesFailed = 0;  // the thread's copy of the handle no longer named the file
    HANDLE threads[kMaxThreads] = {};

    ~SlowQuery() {
        for (LONG i = 0; i < entered && i < kMaxThreads; ++i) ::CloseHandle(threads[i]);
    }
    CProbeThread::ProbeHooks Hooks() {
        CProbeThread::ProbeHooks hooks;
        hooks.begin = &Begin;
        hooks.query = &Query;
        hooks.context = this;
        return hooks;
    }
    // Tries the handle once a thread has begun, so that a busy machine's slow thread start does not
    // count against the guard time of the try. Whether the try came back in time.
    bool TryOnBegunThread(CProbeThread& probe, HANDLE handle, uint64_t key = 0) {
        if (!probe.Start() || ::WaitForSingleObject(starts.get(), 10000) != WAIT_OBJECT_0) return false;
        return probe.Probe(handle, key);
    }
    // Whether `count` tries have entered the query.
    bool Entered(LONG count) const {
        return testing_support::WaitUntil([&] { return entered == count; }, 10000);
    }
    // Whether every thread recorded has ended.
    bool AllEnded(DWORD timeoutMs) const {
        const LONG n = entered < kMaxThreads ? entered : kMaxThreads;
        for (LONG i = 0; i < n; ++i) {
            if (::WaitForSingleObject(threads[i], timeoutMs) != WAIT_OBJECT_0) return false;
        }
        return true;
    }

private:
    static void Begin(void* context) {
        ::ReleaseSemaphore(static_cast<SlowQuery*>(context)->starts.get(), 1, nullptr);
    }
    static void Query(HANDLE handle, void* context) {
        auto* self = static_cast<SlowQuery*>(context);
        const LONG slot = ::InterlockedIncrement(&self->entered) - 1;
        if (slot < kMaxThreads) {
            ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                              &self->threads[slot], SYNCHRONIZE, FALSE, 0);
        }
        ::WaitForSingleObject(self->release.get(), self->delayMs);
        if (QueryFileName(handle) < 0) ::InterlockedIncrement(&self->queriesFailed);
        ::InterlockedIncrement(&self->returned);
    }
};

// What a thread of a process with stuck locks could not do any more: allocate, load a library, ask a
// file's name. Runs on a new thread and tells whether it all came back within ten seconds.
DWORD WINAPI UseTheProcess(void* file) {
    for (int i = 0; i < 1000; ++i) {
        void* block = ::HeapAlloc(::GetProcessHeap(), 0, 64 + static_cast<size_t>(i) * 16);
        if (!block) return 1;
        ::HeapFree(::GetProcessHeap(), 0, block);
        delete[] new char[4096 + i];
    }
    HMODULE library = ::LoadLibraryW(L"version.dll");
    if (!library) return 2;
    ::FreeLibrary(library);
    return QueryFileName(static_cast<HANDLE>(file)) < 0 ? 3 : 0;
}

testing::AssertionResult ProcessStillWorks(HANDLE file) {
    UniqueHandle thread(::CreateThread(nullptr, 0, UseTheProcess, file, 0, nullptr));
    if (!thread) return testing::AssertionFailure() << "no thread";
    if (::WaitForSingleObject(thread.get(), 10000) != WAIT_OBJECT_0)
        return testing::AssertionFailure() << "allocation, library load or file name query hangs";
    DWORD code = 0;
    ::GetExitCodeThread(thread.get(), &code);
    if (code != 0) return testing::AssertionFailure() << "step " << code << " failed";
    return testing::AssertionSuccess();
}

// A file of a temporary folder, open to read.
struct ProbedFile {
    testing_support::TempDir dir{L"probe"};
    UniqueFileHandle handle;
    ProbedFile() {
        const std::wstring path = dir / L"probed.txt";
        if (testing_support::WriteFileText(path, L"x")) {
            handle.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                       nullptr));
        }
    }
};

}  // namespace

TEST(CProbeThread, AbandonsTriesThatComeBackLateAndNeverEndsTheirThreads) {
    ProbedFile file;
    ASSERT_TRUE(file.handle);
    SlowQuery slow;
    slow.delayMs = 200;
    constexpr unsigned kTries = 10;
    CProbeThread probe;
    probe.SetHooks(slow.Hooks());
    for (unsigned i = 0; i < kTries; ++i) {
        // The caller's own copy, closed at once, as a scan does: the late try still has its own.
        UniqueHandle copy;
        ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), file.handle.get(), ::GetCurrentProcess(), copy.put(), 0,
                                      FALSE, DUPLICATE_SAME_ACCESS));
        EXPECT_FALSE(slow.TryOnBegunThread(probe, copy.get()));
    }
    EXPECT_EQ(probe.timeouts(), kTries);
    EXPECT_TRUE(slow.Entered(kTries));  // one thread per handle

    // Each one comes back, queries the file through its own copy and exits by itself.
    EXPECT_TRUE(testing_support::WaitUntil([&] { return slow.returned == static_cast<LONG>(kTries); }, 20000));
    EXPECT_TRUE(slow.AllEnded(10000));
    EXPECT_EQ(slow.queriesFailed, 0);
    EXPECT_EQ(probe.abandonedThreads(), 0u);

    // A try that comes back in time is answered again.
    ::SetEvent(slow.release.get());
    EXPECT_TRUE(slow.TryOnBegunThread(probe, file.handle.get()));
    EXPECT_EQ(probe.timeouts(), kTries);
}

TEST(CProbeThread, ThreadsStillInsideTheirTryOutliveTheObjectAndTheProcessGoesOnWorking) {
    ProbedFile file;
    ASSERT_TRUE(file.handle);
    SlowQuery slow;  // comes back only once released
    constexpr unsigned kTries = 6;
    {
        CProbeThread probe;
        probe.SetHooks(slow.Hooks());
        for (unsigned i = 0; i < kTries; ++i) EXPECT_FALSE(slow.TryOnBegunThread(probe, file.handle.get()));
        EXPECT_EQ(probe.abandonedThreads(), kTries);
        // The thread started for the next handle has begun, so it runs no hook once the test is over.
        ASSERT_EQ(::WaitForSingleObject(slow.starts.get(), 10000), WAIT_OBJECT_0);
    }
    EXPECT_TRUE(slow.Entered(kTries));
    EXPECT_EQ(slow.returned, 0);
    EXPECT_TRUE(ProcessStillWorks(file.handle.get()));

    // They come back after the object is gone, still with a valid copy of the handle, and exit.
    ::SetEvent(slow.release.get());
    EXPECT_TRUE(slow.AllEnded(10000));
    EXPECT_EQ(slow.returned, static_cast<LONG>(kTries));
    EXPECT_EQ(slow.queriesFailed, 0);
    EXPECT_TRUE(ProcessStillWorks(file.handle.get()));
}

TEST(CProbeThread, StopsStartingThreadsOnceTheAbandonedOnesAreAtTheirBound) {
    // Tries that never come back: the script outlives the test, as its threads do.
    auto* never = new SlowQuery;
    UniqueHandle handle = NewEvent();
    CProbeThread probe;
    probe.SetHooks(never->Hooks());
    for (unsigned i = 0; i < CProbeThread::kMaxAbandoned; ++i) EXPECT_FALSE(never->TryOnBegunThread(probe, handle.get()));
    EXPECT_EQ(probe.abandonedThreads(), CProbeThread::kMaxAbandoned);
    EXPECT_TRUE(never->Entered(CProbeThread::kMaxAbandoned));
    // Beyond the bound each handle is skipped at once, without a thread.
    EXPECT_FALSE(probe.Start());
    for (unsigned i = 0; i < 10; ++i) EXPECT_FALSE(probe.Probe(handle.get()));
    EXPECT_EQ(probe.timeouts(), CProbeThread::kMaxAbandoned + 10);
    EXPECT_EQ(never->entered, static_cast<LONG>(CProbeThread::kMaxAbandoned));
}

TEST(CProbeThread, SkipsWithoutATryAHandleWhoseEarlierTryIsStillOut) {
    SlowQuery slow;
    UniqueHandle first = NewEvent(), second = NewEvent();
    {
        CProbeThread probe;
        probe.SetHooks(slow.Hooks());
        ASSERT_TRUE(probe.Start());
        ASSERT_EQ(::WaitForSingleObject(slow.starts.get(), 10000), WAIT_OBJECT_0);
        EXPECT_FALSE(probe.Probe(first.get(), 7));
        EXPECT_TRUE(slow.Entered(1));
        EXPECT_FALSE(probe.Probe(first.get(), 7));
        ASSERT_EQ(::WaitForSingleObject(slow.starts.get(), 10000), WAIT_OBJECT_0);
        EXPECT_FALSE(probe.Probe(second.get(), 8));  // another handle gets a try
        EXPECT_TRUE(slow.Entered(2));
        EXPECT_EQ(probe.timeouts(), 3u);

        // Once that try has come back, the handle is tried again.
        ::SetEvent(slow.release.get());
        EXPECT_TRUE(slow.AllEnded(10000));
        EXPECT_TRUE(slow.TryOnBegunThread(probe, first.get(), 7));
        EXPECT_TRUE(slow.Entered(3));
    }
}

// Run by the next test in a process of its own: leaves threads inside tries that never come back, and
// others busy with real file name queries, and returns.
TEST(CProbeThreadChild, DISABLED_LeavesThreadsInsideTheirTries) {
    ProbedFile file;
    ASSERT_TRUE(file.handle);
    auto* never = new SlowQuery;
    auto* late = new SlowQuery;
    late->delayMs = 0;
    CProbeThread probe;
    probe.SetHooks(never->Hooks());
    for (int i = 0; i < 5; ++i) probe.Probe(file.handle.get());
    probe.SetHooks(late->Hooks());
    for (int i = 0; i < 50; ++i) probe.Probe(file.handle.get());
}

TEST(CProbeThread, TheProcessExitsWhileAbandonedThreadsAreInsideTheirTries) {
    wchar_t self[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    testing_support::ChildProcess child;
    ASSERT_TRUE(child.Start(self, L"--gtest_also_run_disabled_tests "
                                  L"--gtest_filter=CProbeThreadChild.DISABLED_LeavesThreadsInsideTheirTries"));
    const bool ended = child.WaitForExit(60000);
    if (!ended) child.Kill();
    ASSERT_TRUE(ended);
    EXPECT_EQ(child.ExitCode(), 0u);
}
