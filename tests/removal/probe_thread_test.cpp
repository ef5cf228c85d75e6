#include <windows.h>

#include <gtest/gtest.h>

#include "common/unique_handle.h"
#include "removal/probe_thread.h"
#include "support/test_support.h"

using orlyn::UniqueFileHandle;
using orlyn::UniqueHandle;

namespace {

UniqueHandle NewEvent() { return UniqueHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr)); }

// Hooks that count what the probe thread does. The thread's start can be held up (until `release` is
// set, or for at most holdMs), and the try of one handle can be made never to return. They run on the
// probe thread, which may be ended at any point, so they touch only interlocked counters and waits.
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
    HANDLE volatile lastTried = nullptr;

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
        ::SetEvent(self->entered.get());
        ::WaitForSingleObject(self->release.get(), self->holdMs);
        ::SetEvent(self->begun.get());
    }
    static void Try(HANDLE handle, void* context) {
        auto* self = static_cast<ThreadScript*>(context);
        ::InterlockedIncrement(&self->tries);
        self->lastTried = handle;
        if (handle == self->hangOn) ::WaitForSingleObject(self->never.get(), INFINITE);
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
    EXPECT_EQ(script.lastTried, first.get());
    EXPECT_TRUE(probe.Probe(second.get()));
    EXPECT_EQ(script.lastTried, second.get());
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
    EXPECT_EQ(script.lastTried, plain.get());
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

TEST(CProbeThread, DestructionLetsAThreadStillStartingBeginFirst) {
    ThreadScript script;
    script.holdMs = 300;  // a start that takes a while, then goes on by itself
    DWORD start = 0;
    {
        CProbeThread probe;
        probe.SetHooks(script.Hooks(true));
        ASSERT_TRUE(probe.Start());
        ASSERT_EQ(::WaitForSingleObject(script.entered.get(), 10000), WAIT_OBJECT_0);
        EXPECT_FALSE(IsSet(script.begun));
        start = ::GetTickCount();
    }
    const DWORD spent = ::GetTickCount() - start;
    // Ended only once its start was over, and without waiting out the whole grace time.
    EXPECT_TRUE(IsSet(script.begun));
    EXPECT_LT(spent, 4000u);
}

TEST(CProbeThread, DestructionEndsAThreadThatDoesNotBeginWithinTheGraceTime) {
    ThreadScript script;  // the start is held until release, which is never set
    DWORD start = 0;
    {
        CProbeThread probe;
        probe.SetHooks(script.Hooks(true));
        ASSERT_TRUE(probe.Start());
        ASSERT_EQ(::WaitForSingleObject(script.entered.get(), 10000), WAIT_OBJECT_0);
        start = ::GetTickCount();
    }
    const DWORD spent = ::GetTickCount() - start;
    EXPECT_FALSE(IsSet(script.begun));
    // Five seconds of grace, then it is ended rather than waited for without end.
    EXPECT_GE(spent, 4500u);
    EXPECT_LT(spent, 10000u);
}
