// Time of the two diagnostics reports: the machine snapshot gathered while the dialog initialises
// (the user waits for it), and the access-control report over the machine's own maker key.
#include <windows.h>

#include <cstdio>

#include "app/repair_context.h"
#include "diagnostics/access_report.h"
#include "diagnostics/system_info.h"
#include "support/temp_log.h"
#include "support/test_support.h"

namespace {

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main() {
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::CoInitialize(nullptr);

    static SystemInfo info;  // large: keep it off the stack
    ::QueryPerformanceCounter(&start);
    GatherSystemInfo(info);
    ::QueryPerformanceCounter(&end);
    std::printf("GatherSystemInfo, first call: %.1f ms\n", Milliseconds(start, end, frequency));

    const int kRounds = 5;
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < kRounds; ++i) GatherSystemInfo(info);
    ::QueryPerformanceCounter(&end);
    std::printf("GatherSystemInfo, later calls: %.1f ms each\n", Milliseconds(start, end, frequency) / kRounds);

    testing_support::TempLogContext<> context(L"bench");
    if (!context.logOpened()) return 1;
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < kRounds; ++i) WriteAccessReport(context, context.aclInfo);
    ::QueryPerformanceCounter(&end);
    std::printf("WriteAccessReport (%zu targets): %.1f ms each\n", context.aclInfo.targets.size(),
                Milliseconds(start, end, frequency) / kRounds);
    context.CloseLog();
    ::CoUninitialize();
    return 0;
}
