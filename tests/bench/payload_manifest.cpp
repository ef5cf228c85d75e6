// How long parsing a manifest and writing the payload take: bench_payload_manifest.exe [rounds].
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/repair_context.h"
#include "install/payload_extraction.h"
#include "install/payload_manifest_parse.h"
#include "support/test_support.h"

namespace {

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
    if (rounds < 1) rounds = 1;

    // A manifest of 10,000 rows aligned with runs of tabs, about 0.7 MB.
    std::string manifest;
    for (int i = 0; i < 10000; ++i)
        manifest += std::to_string(1000 + i % 50000) + "\t\tTSL.exe\t\t$AppData$\\Orlyn\\TSL\\TSL.exe\t\t3\tTessel Hub\tTSL\r\n";
    LARGE_INTEGER t0, t1;
    ::QueryPerformanceCounter(&t0);
    size_t rows = 0;
    for (int r = 0; r < rounds; ++r) {
        std::vector<PayloadEntry> entries;
        if (!ParseManifest(manifest.data(), manifest.size(), entries)) return 1;
        rows += entries.size();
    }
    ::QueryPerformanceCounter(&t1);
    double s = Seconds(t0, t1);
    std::printf("parse: %zu rows in %.3f s, %.0f rows/s, %.1f MB/s\n", rows, s, rows / s,
                manifest.size() * double(rounds) / s / 1e6);

    // The shipped payload written into a temporary folder, as the install does it.
    HMODULE self = ::GetModuleHandleW(nullptr);
    HRSRC info = ::FindResourceW(self, MAKEINTRESOURCEW(999), RT_RCDATA);
    if (!info) return 2;
    const char* bytes = static_cast<const char*>(::LockResource(::LoadResource(self, info)));
    std::vector<PayloadEntry> shipped;
    if (!ParseManifest(bytes, ::SizeofResource(self, info), shipped)) return 3;
    testing_support::TempDir dir(L"bench");
    CRepairContext context;
    wcscpy_s(context.allUsersAppDataFolder, dir.path().c_str());
    ::QueryPerformanceCounter(&t0);
    for (int r = 0; r < rounds; ++r) {
        for (const PayloadEntry& e : shipped) {
            if (!ExtractResourceToFile(e.resourceId, ExpandPathMacros(e.targetPath, context).c_str())) return 4;
        }
    }
    ::QueryPerformanceCounter(&t1);
    s = Seconds(t0, t1);
    std::printf("extract: %zu files x %d rounds in %.3f s, %.2f ms per payload\n", shipped.size(), rounds, s,
                s * 1000.0 / rounds);
    return 0;
}
