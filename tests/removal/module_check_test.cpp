#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/repair_context.h"
#include "common/string_format.h"
#include "removal/log_handle.h"
#include "removal/removal_list.h"
#include "support/temp_log.h"
#include "support/test_support.h"

using testing_support::FixturePath;
using testing_support::TempDir;
using testing_support::TempLogContext;

namespace {

ProcessRow Process(const std::wstring& name) {
    ProcessRow row;
    EXPECT_TRUE(MakeProcessRow(name.c_str(), row));
    return row;
}
RegistryRow Key(int32_t root, const std::wstring& path) {
    RegistryRow row;
    EXPECT_TRUE(MakeKeyRow(root, path.c_str(), row));
    return row;
}
RegistryRow Value(int32_t root, const std::wstring& path, const wchar_t* name) {
    RegistryRow row;
    EXPECT_TRUE(MakeValueRow(root, path.c_str(), name, row));
    return row;
}
PathRow Absolute(const std::wstring& path) {
    PathRow row;
    EXPECT_TRUE(MakePathRow(kBaseAbsolute, path.c_str(), row));
    return row;
}

std::wstring OwnImageName() {
    wchar_t path[MAX_PATH];
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const wchar_t* slash = wcsrchr(path, L'\\');
    return slash ? slash + 1 : path;
}

}  // namespace

TEST(CheckOldModule, MarksEveryRowPresentOrAbsentAndRegistersPresentControls) {
    TempDir dir(L"chk");
    const std::wstring folder = dir / L"Orlyn";
    const std::wstring fileAsFolder = dir / L"plain.dat";
    const std::wstring control = folder + L"\\control.ocx";
    const std::wstring broken = folder + L"\\broken.ocx";
    const std::wstring upperCase = folder + L"\\upper.OCX";
    ASSERT_TRUE(testing_support::CreateFolders(folder));
    ASSERT_TRUE(testing_support::WriteFileBytes(fileAsFolder, "x"));
    ASSERT_TRUE(::CopyFileW(FixturePath(L"com_ok.dll").c_str(), control.c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(FixturePath(L"com_fail.dll").c_str(), broken.c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(FixturePath(L"com_fail.dll").c_str(), upperCase.c_str(), FALSE));
    const std::wstring mark = dir / L"registered.mark";
    ::SetEnvironmentVariableW(L"ORLYN_COM_FIXTURE_MARK", mark.c_str());

    const std::wstring keyPath = L"Software\\" + testing_support::UniqueName(L"OrlynCheckTest");
    testing_support::ScopedRegKey key(HKEY_CURRENT_USER, keyPath);
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.key(), L"Present", 0, REG_SZ,
                                              reinterpret_cast<const BYTE*>(L"1"), 2 * sizeof(wchar_t)));
    const std::wstring absentProcess = testing_support::UniqueName(L"orlyn_absent") + L".exe";

    TempLogContext<> context(L"chklog");
    context.removalList.processes = {Process(OwnImageName()), Process(absentProcess)};
    context.removalList.registryRows = {
        Key(kRootCurrentUser, keyPath),
        Key(kRootCurrentUser, keyPath + L"\\missing"),
        Value(kRootCurrentUser, keyPath, L"Present"),
        Value(kRootCurrentUser, keyPath, L"Absent"),
        Key(kRootLocalMachine, keyPath),  // only under HKCU
    };
    context.removalList.folders = {Absolute(folder), Absolute(fileAsFolder), Absolute(dir / L"gone")};
    context.removalList.files = {Absolute(control), Absolute(broken), Absolute(upperCase), Absolute(folder),
                                 Absolute(dir / L"gone.dll")};
    ASSERT_TRUE(context.logOpened());
    EXPECT_TRUE(context.CheckOldModule());
    context.CloseLog();
    ::SetEnvironmentVariableW(L"ORLYN_COM_FIXTURE_MARK", nullptr);

    std::vector<std::wstring> log = context.Messages();
    const std::wstring rule(25, L'=');
    const std::vector<std::wstring> banner = {L"", rule, L"   모듈 체크 루틴", rule, L"", L"**Access Control Lists"};
    ASSERT_GT(log.size(), banner.size());
    EXPECT_EQ(banner, std::vector<std::wstring>(log.begin(), log.begin() + banner.size()));

    const std::wstring hkcu = L"HKCU\\" + keyPath;
    const std::vector<std::wstring> rows = {
        L"OK\t" + OwnImageName() + L" 프로세스가 있습니다.\tO",
        L"OK\t" + absentProcess + L" 프로세스가 없습니다.\tX",
        L"OK\t" + hkcu + L" 레지스트리 키가 있습니다.\tO",
        L"OK\t" + hkcu + L"\\missing 레지스트리 키가 없습니다.\tX",
        L"OK\t" + hkcu + L"\\Present 레지스트리 값이 있습니다.\tO",
        L"OK\t" + hkcu + L"\\Absent 레지스트리 값이 없습니다.\tX",
        L"OK\tHKLM\\" + keyPath + L" 레지스트리 키가 없습니다.\tX",
        L"OK\t" + folder + L" 폴더가 있습니다.\tO",
        L"OK\t" + fileAsFolder + L" 폴더가 없습니다.\tX",
        L"OK\t" + dir / L"gone" + L" 폴더가 없습니다.\tX",
        L"OK\t" + control + L" 파일이 있습니다.\tO",
        L"OK\t" + broken + L" 파일이 있습니다.\tO",
        L"Error\t" + broken + L" 파일을 등록하지 못하였습니다.",
        L"Error\tCall DllRegisterServer Failed(result = 80040201, scode = 80040201, error code = 1234)",
        L"OK\t" + upperCase + L" 파일이 있습니다.\tO",  // ".OCX" is not ".ocx": not registered
        L"OK\t" + folder + L" 파일이 있습니다.\tO",
        L"OK\t" + dir / L"gone.dll" + L" 파일이 없습니다.\tX",
    };
    ASSERT_GE(log.size(), rows.size());
    std::vector<std::wstring> tail(log.end() - rows.size(), log.end());
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(orlyn::ToUtf8(rows[i]), orlyn::ToUtf8(tail[i])) << i;

    EXPECT_TRUE(testing_support::FileExists(mark)) << "the present control was registered";
    CRepairContext::Progress progress = context.ReadProgress();
    EXPECT_EQ(15u, progress.phaseItemCount);
    EXPECT_EQ(15u, progress.phaseItemsDone);
}

TEST(CheckOldModule, OnAMachineWithoutTheOldModuleEveryRowIsAbsent) {
    for (const wchar_t* image : {L"iexplore.exe"})
        if (IsProcessRunning(image)) GTEST_SKIP() << "Internet Explorer runs on this machine";
    TempDir dir(L"chk");
    TempLogContext<> context(L"chklog");
    // Every base folder is an empty folder of the test.
    const std::wstring base = dir.path() + L"\\";
    for (wchar_t* field : {context.windowsFolder, context.programFilesFolder, context.allUsersDesktopFolder,
                           context.desktopFolder, context.allUsersProgramsFolder})
        wcscpy(field, base.c_str());
    wcscpy(context.allUsersAppDataFolder, dir.path().c_str());
    ASSERT_TRUE(context.BuildRemovalList());
    const RemovalList& list = context.removalList;
    const size_t rowCount = list.processes.size() + list.registryRows.size() + list.folders.size() + list.files.size();

    ASSERT_TRUE(context.logOpened());
    EXPECT_TRUE(context.CheckOldModule());
    context.CloseLog();

    std::vector<std::wstring> log = context.Messages();
    ASSERT_GE(log.size(), rowCount);
    for (auto line = log.end() - rowCount; line != log.end(); ++line) {
        SCOPED_TRACE(orlyn::ToUtf8(*line));
        EXPECT_EQ(0u, line->rfind(L"OK\t", 0));
        EXPECT_EQ(L"\tX", line->substr(line->size() - 2));
    }
    CRepairContext::Progress progress = context.ReadProgress();
    EXPECT_EQ(rowCount, progress.phaseItemCount);
    EXPECT_EQ(rowCount, progress.phaseItemsDone);
}
