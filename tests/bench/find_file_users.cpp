// Time that FindFileUsers takes per file handle in the system's handle table. A few holder processes
// (each with a number of open files) make the table larger than an idle system's.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "removal/find_process.h"
#include "support/test_support.h"

using namespace testing_support;

int main() {
    TempDir dir(L"bench");
    const int kHolders = 8;
    std::vector<ChildProcess> holders(kHolders);
    for (int i = 0; i < kHolders; ++i) {
        std::wstring ready = UniqueName(L"bench_ready");
        wchar_t name[32];
        _snwprintf(name, 31, L"held%d.dat", i);
        name[31] = 0;
        if (!holders[i].Start(FixturePath(L"hold_file.exe"), L"\"" + (dir / name) + L"\" " + ready) ||
            !WaitForNamedEvent(ready, 15000)) {
            std::fprintf(stderr, "cannot start holder %d\n", i);
            return 1;
        }
    }
    std::wstring target = dir / L"held0.dat";
    CFindProcess finder;
    finder.FindFileUsers(target.c_str());  // warm up: libraries, privilege, first probe thread

    const int kRounds = 10;
    LARGE_INTEGER freq, start, end;
    ::QueryPerformanceFrequency(&freq);
    size_t handles = 0, found = 0;
    ::QueryPerformanceCounter(&start);
    for (int r = 0; r < kRounds; ++r) {
        found += finder.FindFileUsers(target.c_str()).size();
        handles += finder.handleTable().size();
    }
    ::QueryPerformanceCounter(&end);
    double totalMs = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart);
    std::printf("FindFileUsers: %d rounds, %.1f ms per round, %.1f file handles per round, %.1f us per file handle, "
                "%zu users found per round, %u probe time-outs\n",
                kRounds, totalMs / kRounds, static_cast<double>(handles) / kRounds,
                handles ? 1000.0 * totalMs / static_cast<double>(handles) : 0.0, found / kRounds,
                finder.probeTimeouts());
    // The steps one by one.
    auto ms = [&](LARGE_INTEGER a, LARGE_INTEGER b) {
        return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(freq.QuadPart);
    };
    LARGE_INTEGER t0, t1, t2, t3;
    ::QueryPerformanceCounter(&t0);
    finder.ScanModules(target.c_str());
    ::QueryPerformanceCounter(&t1);
    finder.SnapshotHandles();
    ::QueryPerformanceCounter(&t2);
    finder.ScanHandles(target.c_str());
    ::QueryPerformanceCounter(&t3);
    std::printf("steps: module scan %.1f ms, handle snapshot %.1f ms, handle scan %.1f ms (%.1f us per file handle)\n",
                ms(t0, t1), ms(t1, t2), ms(t2, t3),
                finder.handleTable().empty() ? 0.0 : 1000.0 * ms(t2, t3) / finder.handleTable().size());

    // Every name query hanging: each handle costs the guard time and the start of a new probe thread,
    // until the abandoned threads are at their bound; the rest are skipped at once.
    struct Hang {
        static void Query(HANDLE, void* never) { ::WaitForSingleObject(static_cast<HANDLE>(never), INFINITE); }
    };
    orlyn::UniqueHandle never(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    CFindProcess::ProbeHooks hooks;
    hooks.query = &Hang::Query;
    hooks.context = never.get();
    CFindProcess hanging;
    hanging.SetProbeHooks(hooks);
    hanging.SnapshotHandles();
    const unsigned before = hanging.probeTimeouts();
    ::QueryPerformanceCounter(&t0);
    hanging.ScanHandles(target.c_str());
    ::QueryPerformanceCounter(&t1);
    const unsigned timeouts = hanging.probeTimeouts() - before;
    std::printf("every query hanging: %zu file handles, %u probe time-outs, %zu threads abandoned, handle scan "
                "%.1f ms (%.1f ms per time-out, guard %lu ms)\n",
                hanging.handleTable().size(), timeouts, hanging.abandonedProbes(), ms(t0, t1),
                timeouts ? ms(t0, t1) / timeouts : 0.0, CProbeThread::kTimeoutMs);
    return 0;
}
