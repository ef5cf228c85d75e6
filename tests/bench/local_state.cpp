// Time of adding and removing the scheme exclusion in Local State files of growing size: the pure
// text edit and the whole file operation (read, parse, write a new file, replace).
#include <windows.h>

#include <cstdio>
#include <string>

#include "browser/chrome.h"
#include "browser/local_state_json.h"
#include "support/test_support.h"

namespace {

std::string MakeLocalState(int profiles) {
    std::string text = "{\"browser\":{\"enabled_labs_experiments\":[]},\"profile\":{\"info_cache\":{";
    for (int i = 0; i < profiles; ++i) {
        if (i) text += ',';
        text += "\"Profile " + std::to_string(i) + "\":{\"name\":\"\xEC\x82\xAC\xEC\x9A\xA9\xEC\x9E\x90 " +
                std::to_string(i) + "\",\"active_time\":" + std::to_string(1700000000.25 + i) +
                ",\"gaia_id\":\"" + std::to_string(100000000000000000ULL + i) +
                "\",\"flags\":[true,false,null,1,2,3],\"nested\":{\"deeper\":{\"value\":18446744073709551615}}}";
    }
    text += "}},\"protocol_handler\":{\"excluded_schemes\":{\"afp\":true}}}";
    return text;
}

double Milliseconds(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER freq) {
    return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(freq.QuadPart);
}

}  // namespace

int main() {
    LARGE_INTEGER freq;
    ::QueryPerformanceFrequency(&freq);
    testing_support::TempDir dir(L"bench");
    const std::wstring path = dir / L"Local State";
    std::printf("%10s %14s %14s\n", "bytes", "text add+rm", "file add+rm");
    for (int profiles : {100, 1000, 10000, 40000}) {
        const std::string text = MakeLocalState(profiles);
        const int rounds = profiles >= 10000 ? 5 : 50;

        LARGE_INTEGER a, b;
        ::QueryPerformanceCounter(&a);
        for (int i = 0; i < rounds; ++i) {
            std::string added, removed;
            if (local_state::AddExclusion(text, "tsl", added) != local_state::EditResult::Changed ||
                local_state::RemoveExclusion(added, "tsl", removed) != local_state::EditResult::Changed)
                return 1;
        }
        ::QueryPerformanceCounter(&b);
        const double textMs = Milliseconds(a, b, freq) / rounds;

        if (!testing_support::WriteFileBytes(path, text)) return 2;
        ::QueryPerformanceCounter(&a);
        for (int i = 0; i < rounds; ++i) {
            if (!AddSchemeExclusionToFile(path, L"tsl") || !RemoveSchemeExclusionFromFile(path, L"tsl")) return 3;
        }
        ::QueryPerformanceCounter(&b);
        const double fileMs = Milliseconds(a, b, freq) / rounds;
        std::printf("%10zu %11.2f ms %11.2f ms\n", text.size(), textMs, fileMs);
    }
    return 0;
}
