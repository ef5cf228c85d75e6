// The stand-in payload that the build makes: real programs and DLLs of the right kind.
#include <gtest/gtest.h>

#include <string>

#include "install/payload_extraction.h"
#include "install/payload_test_support.h"
#include "support/test_support.h"

using namespace testing_support;
using payload_testing::PeMachine;
using payload_testing::ResourceBytes;

namespace {

struct FoundWindow {
    DWORD processId;
    HWND window;
};

BOOL CALLBACK FindStandInWindow(HWND window, LPARAM param) {
    auto* found = reinterpret_cast<FoundWindow*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    wchar_t cls[64] = {};
    ::GetClassNameW(window, cls, 64);
    if (pid == found->processId && std::wstring(cls) == L"TesselHubStandIn" && ::IsWindowVisible(window)) {
        found->window = window;
        return FALSE;
    }
    return TRUE;
}

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = {};
    ::GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring ChildTexts(HWND window) {
    std::wstring texts;
    for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        texts += WindowText(child);
    return texts;
}

// Starts the extracted launcher with a link, finds its window and checks what it shows, then closes it.
void RunLauncher(const std::wstring& exe, const std::wstring& title) {
    const std::wstring link = L"tsl://launch?game=7&server=2";
    ChildProcess process;
    ASSERT_TRUE(process.Start(exe, L"\"" + link + L"\""));
    FoundWindow found{process.Id(), nullptr};
    bool shown = WaitUntil([&] {
        found.window = nullptr;
        ::EnumWindows(FindStandInWindow, reinterpret_cast<LPARAM>(&found));
        return found.window != nullptr;
    }, 20000);
    ASSERT_TRUE(shown) << "no window; exited: " << process.WaitForExit(0);
    EXPECT_EQ(WindowText(found.window), title);
    EXPECT_EQ(ChildTexts(found.window), link);
    ASSERT_TRUE(::PostMessageW(found.window, WM_CLOSE, 0, 0));
    ASSERT_TRUE(process.WaitForExit(10000));
    EXPECT_EQ(process.ExitCode(), 0u);
}

// Whether this machine runs 32-bit Windows programs at all (a Wine without WoW64 does not).
bool Runs32BitPrograms() {
    static int answer = -1;
    if (answer < 0) {
        wchar_t system[MAX_PATH] = {};
        UINT n = ::GetSystemWow64DirectoryW(system, MAX_PATH);
        answer = (n > 0 && n < MAX_PATH && GetFileAttributesW((std::wstring(system) + L"\\kernel32.dll").c_str()) !=
                                               INVALID_FILE_ATTRIBUTES)
                     ? 1
                     : 0;
    }
    return answer == 1;
}

}  // namespace

TEST(StandInPayload, FilesAreOfTheirArchitecture) {
    struct Case {
        WORD id;
        WORD machine;
    };
    const Case cases[] = {
        {1005, IMAGE_FILE_MACHINE_I386},  {1006, IMAGE_FILE_MACHINE_I386}, {1007, IMAGE_FILE_MACHINE_I386},
        {1009, IMAGE_FILE_MACHINE_I386},  {1012, IMAGE_FILE_MACHINE_AMD64}, {1013, IMAGE_FILE_MACHINE_AMD64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(PeMachine(ResourceBytes(c.id)), c.machine);
    }
    EXPECT_EQ(PeMachine(ResourceBytes(1014)), 0);  // the licence text
    EXPECT_NE(ResourceBytes(1014).find("Tessel Hub"), std::string::npos);
}

TEST(StandInPayload, Tsl64ShowsTheLinkItWasStartedWith) {
    TempDir dir(L"tsl64");
    std::wstring exe = dir / L"Orlyn\\TSL\\TSL64.exe";
    ASSERT_TRUE(ExtractResourceToFile(1012, exe.c_str()));
    RunLauncher(exe, L"Tessel Hub (x64)");
}

TEST(StandInPayload, TslShowsTheLinkItWasStartedWith) {
    if (!Runs32BitPrograms()) GTEST_SKIP() << "this machine cannot run 32-bit programs";
    TempDir dir(L"tsl32");
    std::wstring exe = dir / L"Orlyn\\TSL\\TSL.exe";
    ASSERT_TRUE(ExtractResourceToFile(1005, exe.c_str()));
    RunLauncher(exe, L"Tessel Hub");
}

TEST(StandInPayload, Dll64LoadsAndRegisters) {
#ifndef _WIN64
    GTEST_SKIP() << "a 64-bit library cannot load into a 32-bit process; this run registers it through "
                    "regsvr32 instead (InstallPayloadFiles.UnderWow64RegistersWithTheSystemToolAndWritesThe64BitPolicy)";
#endif
    TempDir dir(L"dll64");
    std::wstring path = dir / L"TSLDll64.dll";
    ASSERT_TRUE(ExtractResourceToFile(1013, path.c_str()));
    orlyn::UniqueLibrary dll(::LoadLibraryW(path.c_str()));
    ASSERT_TRUE(dll.valid()) << ::GetLastError();
    using Entry = HRESULT(WINAPI*)();
    using Name = const wchar_t*(WINAPI*)();
    auto reg = reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(dll.get(), "DllRegisterServer")));
    auto unreg =
        reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(dll.get(), "DllUnregisterServer")));
    auto name = reinterpret_cast<Name>(reinterpret_cast<void*>(::GetProcAddress(dll.get(), "TslModuleName")));
    ASSERT_TRUE(reg && unreg && name);
    EXPECT_EQ(reg(), S_OK);
    EXPECT_EQ(unreg(), S_OK);
    EXPECT_STREQ(name(), L"TSLDll64");
}

TEST(StandInPayload, KoreanResourceLibraryHoldsItsTexts) {
    TempDir dir(L"reskr");
    std::wstring path = dir / L"TSLResource.dll";
    ASSERT_TRUE(ExtractResourceToFile(1007, path.c_str()));
    // Read as data, which works in either build (the 64-bit one could not run it).
    orlyn::UniqueLibrary dll(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(dll.valid()) << ::GetLastError();
    wchar_t text[128] = {};
    ASSERT_GT(::LoadStringW(dll.get(), 1, text, 128), 0);
    EXPECT_STREQ(text, L"테셀 허브");
}
