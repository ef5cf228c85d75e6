// What the removal sees of 64-bit Windows from the shipped 32-bit program (the i686 run, under WOW64):
// 64-bit processes that hold the module's files, and the system folders that file-system redirection
// hides from a 32-bit process. In the x86_64 run the same tests see a 64-bit process from a 64-bit one.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/singleton.h"
#include "common/string_format.h"
#include "common/windows_version.h"
#include "removal/file_user_fixtures.h"
#include "removal/find_process.h"
#include "removal/path_guard.h"

using namespace testing_support;
using removal_test::CopyFixture;
using removal_test::StartReady;

namespace {

// The 64-bit build of hold_file: in the 32-bit test build its 64-bit twin.
const wchar_t* HoldFile64() {
#ifdef _WIN64
    return L"hold_file.exe";
#else
    return L"hold_file64.exe";
#endif
}

bool IsWow64Process(HANDLE process) {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(process, &wow64) && wow64;
}

// A folder that the program's own view names differently: under WOW64 "%windir%\Sysnative" is the real
// system32, and the 64-bit program folders are named only by the environment.
std::wstring Environment(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    DWORD n = ::GetEnvironmentVariableW(name, value, MAX_PATH);
    return n > 0 && n < MAX_PATH ? value : L"";
}

}  // namespace

TEST(Wow64, TheI686RunIsA32BitProcessOn64BitWindows) {
#ifdef _WIN64
    EXPECT_FALSE(orlyn::IsRunningUnderWow64());
#else
    EXPECT_TRUE(orlyn::IsRunningUnderWow64()) << "the 32-bit tests must run under WoW64";
#endif
}

TEST(FindFileUsers, FindsA64BitProgramThatHoldsAFileOpen) {
    TempDir dir(L"fp64");
    const std::wstring image = UniqueName(L"holder64") + L".exe";
    const std::wstring exe = CopyFixture(dir, HoldFile64(), image);
    const std::wstring file = dir / L"locked.dat";
    ChildProcess holder;
    ASSERT_TRUE(StartReady(holder, exe, file));
    EXPECT_FALSE(IsWow64Process(holder.Handle())) << "the holder is a 64-bit process";

    EXPECT_EQ(CFindProcess::GetProcessBaseName(holder.Id()), image);
    std::vector<FileUser> users = Singleton<CFindProcess>::Instance()->FindFileUsers(file.c_str());
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0].processId, holder.Id());
    EXPECT_STREQ(users[0].imageName, image.c_str());
}

TEST(PathGuard, RefusesTheSystemFoldersThatRedirectionHides) {
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(::GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    std::vector<std::wstring> folders = {std::wstring(windows) + L"\\System32"};
    wchar_t wow64[MAX_PATH] = {};
    if (orlyn::IsRunningUnderWow64()) {
        ASSERT_GT(::GetSystemWow64DirectoryW(wow64, MAX_PATH), 0u);
        folders.push_back(wow64);                                   // what system32 shows this process
        folders.push_back(std::wstring(windows) + L"\\Sysnative");  // the real system32
        for (const wchar_t* name : {L"ProgramW6432", L"CommonProgramW6432"}) {
            const std::wstring folder = Environment(name);
            EXPECT_FALSE(folder.empty()) << orlyn::ToUtf8(name);
            if (!folder.empty()) folders.push_back(folder);
        }
    }
    for (const std::wstring& folder : folders) {
        SCOPED_TRACE(orlyn::ToUtf8(folder));
        EXPECT_EQ(orlyn::CheckTreePathOnThisSystem(folder.c_str()), orlyn::TreeRefusal::Protected);
        EXPECT_EQ(orlyn::CheckTreePathOnThisSystem((folder + L"\\").c_str()), orlyn::TreeRefusal::Protected);
    }
}
