#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/repair_context.h"
#include "browser/chrome.h"
#include "browser/custom_scheme.h"
#include "common/registry.h"
#include "common/string_format.h"
#include "removal/removal_memo.h"
#include "removal/file_user_fixtures.h"
#include "support/temp_log.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const wchar_t kStatsKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats\\{080F7E03-AC50-4949-AACA-E79F82D3099F}\\iexplore";

// A repair context whose all-users application data folder and log live in a temporary folder.
class RoutineContext : public TempLogContext<> {
public:
    RoutineContext() : TempLogContext(L"rr"), appData_(dir() / L"ProgramData") {
        CreateFolders(appData_);
        orlyn::CopyFixed(allUsersAppDataFolder, MAX_PATH, appData_.c_str());
    }
    const std::wstring& appData() const { return appData_; }

private:
    std::wstring appData_;
};

// Removes the old module's registry rows that a test seeds, before and after it.
class OldModuleKeys {
public:
    OldModuleKeys() { Clean(); }
    ~OldModuleKeys() { Clean(); }
    void Clean() {
        DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlyn\\TSL");
        DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlyn\\Shared");
        DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlyn\\OrlynPlug");
        DeleteRegTreeForTest(HKEY_CURRENT_USER,
                             L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats\\"
                             L"{080F7E03-AC50-4949-AACA-E79F82D3099F}");
        (void)CCustomScheme(L"tsl").Unregister();
    }

private:
    // The maker's key that seeding made goes last: later suites (the access report's) look for it.
    MakerKeyScope maker_;
};

// Index of the first message equal to text at or after from, or npos.
size_t FindFrom(const std::vector<std::wstring>& messages, const std::wstring& text, size_t from) {
    auto it = std::find(messages.begin() + std::min(from, messages.size()), messages.end(), text);
    return it == messages.end() ? std::wstring::npos : static_cast<size_t>(it - messages.begin());
}

void ExpectInOrder(const std::vector<std::wstring>& messages, const std::vector<std::wstring>& expected) {
    size_t at = 0;
    for (const auto& line : expected) {
        size_t found = FindFrom(messages, line, at);
        EXPECT_NE(found, std::wstring::npos) << "missing or out of order: " << orlyn::ToUtf8(line);
        if (found != std::wstring::npos) at = found + 1;
    }
}

const std::vector<std::wstring> kBanner = {L"", L"=========================", L"   기존 모듈 삭제 루틴",
                                           L"========================="};

// The error-code line carries whatever the thread's last error is; the messages give it as
// "\t## 에러 코드 = N ##" once its number has been checked to be one.
std::vector<std::wstring> WithErrorCodesAsN(std::vector<std::wstring> messages) {
    const std::wstring head = L"\t## 에러 코드 = ", tail = L" ##";
    for (std::wstring& m : messages) {
        if (m.size() <= head.size() + tail.size() || m.compare(0, head.size(), head) != 0 ||
            m.compare(m.size() - tail.size(), tail.size(), tail) != 0)
            continue;
        std::wstring number = m.substr(head.size(), m.size() - head.size() - tail.size());
        size_t digits = number[0] == L'-' ? 1 : 0;
        if (digits == number.size()) continue;
        for (; digits < number.size(); ++digits)
            if (number[digits] < L'0' || number[digits] > L'9') break;
        if (digits == number.size()) m = head + L"N" + tail;
    }
    return messages;
}

// Restores a key's access list, so that the key's tree can be removed, at the end of the scope.
class KeyAclRestorer {
public:
    KeyAclRestorer(HKEY root, std::wstring path) : root_(root), path_(std::move(path)) {}
    ~KeyAclRestorer() { SetKeyAclForTest(root_, path_, L"D:(A;OICI;KA;;;WD)"); }

private:
    HKEY root_;
    std::wstring path_;
};

// A key with a subkey of its own, whose access list grants only reading (and changing the list back):
// it cannot be opened fully, so it cannot be emptied, and a key with subkeys is not deleted.
void MakeLockedKey(HKEY root, const std::wstring& path) {
    orlyn::UniqueHkey key;
    ASSERT_EQ(orlyn::CreateRegKey(root, (path + L"\\Inner").c_str(), KEY_ALL_ACCESS, orlyn::RegView::Default, key),
              ERROR_SUCCESS);
    key.reset();
    SetKeyAclForTest(root, path, L"D:P(A;;KRWD;;;WD)");
}

}  // namespace

TEST(RemoveOldModule, OnABareMachineWritesTheBannerAndSucceeds) {
    OldModuleKeys keys;
    RoutineContext rc;
    ASSERT_TRUE(rc.BuildRemovalList());
    EXPECT_TRUE(rc.RemoveOldModule());

    auto messages = rc.Messages();
    std::vector<std::wstring> expected = kBanner;
    expected.push_back(L"OK\t기존 모듈을 모두 삭제하는데 성공하였습니다.\tSUCCESS");
    EXPECT_EQ(messages, expected);
    auto progress = rc.ReadProgress();
    EXPECT_EQ(progress.phaseItemCount, 5u + 12u + 2u + 2u + 200u);
    EXPECT_EQ(progress.phaseItemsDone, progress.phaseItemCount - 200u);
}

TEST(RemoveOldModule, RemovesASeededOldModuleRowByRow) {
    OldModuleKeys keys;
    RoutineContext rc;
    ScriptedMessageBoxes boxes({IDOK});

    // Registry rows, and a folder named by "QrDownload" outside the all-users data folder.
    const std::wstring download = rc.dir() / L"Download";
    CreateFolders(download + L"\\sub");
    ASSERT_TRUE(WriteFileText(download + L"\\sub\\a.bin", L"a"));
    SetRegStringForTest(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlyn\\TSL", L"QrDownload", download);
    SetRegStringForTest(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlyn\\TSL\\Child", L"v", L"x");
    SetRegStringForTest(HKEY_CURRENT_USER, kStatsKey, L"Blocked", L"1");

    // Folders of the module with a read-only file, and a file held open by another program.
    const std::wstring common = rc.appData() + L"\\Orlyn\\Common";
    const std::wstring tsl = rc.appData() + L"\\Orlyn\\TSL";
    CreateFolders(common);
    CreateFolders(tsl);
    ASSERT_TRUE(WriteFileText(common + L"\\ro.txt", L"r"));
    ::SetFileAttributesW((common + L"\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    const std::wstring held = tsl + L"\\held.dat";
    ASSERT_TRUE(WriteFileText(held, L"h"));
    TempDir bin(L"bin");
    ChildProcess holder;
    ASSERT_TRUE(removal_test::StartReady(holder, removal_test::CopyFixture(bin, L"hold_file.exe",
                                                                          UniqueName(L"holder") + L".exe"),
                                         held));
    // A process named like one of the module's.
    TempDir bin2(L"bin2");
    ChildProcess module;
    ASSERT_TRUE(removal_test::StartReady(module, removal_test::CopyFixture(bin2, L"hold_file.exe", L"TSL.exe"),
                                         bin2 / L"lock.tmp", L"- share"));

    ASSERT_TRUE(rc.BuildRemovalList());
    EXPECT_TRUE(rc.RemoveOldModule());
    EXPECT_TRUE(module.WaitForExit(5000));
    EXPECT_TRUE(holder.WaitForExit(5000));

    auto messages = rc.Messages();
    ExpectInOrder(messages, {
        kBanner[2],
        L"OK\tKill Process Processing : Try to kill TSL.exe",
        L"OK\tKill Process Success : TSL.exe",
        L"OK\tTSL.exe 프로세스가 종료되었습니다.\tSUCCESS",
        std::wstring(L"OK\tHKCU\\") + kStatsKey + L"\\Blocked 레지스트리 값이 삭제되었습니다.\tSUCCESS",
        L"OK\tHKLM\\SOFTWARE\\Orlyn\\TSL 레지스트리 키가 삭제되었습니다.\tSUCCESS",
        L"OK\t" + common + L" 폴더가 삭제되었습니다.\tSUCCESS",
        L"OK\t" + tsl + L" 폴더가 삭제되었습니다.\tSUCCESS",
        L"OK\t" + download + L" 폴더가 삭제되었습니다.\tSUCCESS",
        L"OK\t기존 모듈을 모두 삭제하는데 성공하였습니다.\tSUCCESS",
    });
    // Detail lines of a primitive come before the row's result line.
    size_t detail = FindFrom(messages, L"OK\tKill Process Success : TSL.exe", 0);
    size_t result = FindFrom(messages, L"OK\tTSL.exe 프로세스가 종료되었습니다.\tSUCCESS", 0);
    EXPECT_LT(detail, result);

    EXPECT_EQ(boxes.Count(), 1u);  // the notice before the holder is ended
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlyn\\TSL"));
    orlyn::UniqueHkey stats;
    ASSERT_EQ(orlyn::OpenRegKey(HKEY_CURRENT_USER, kStatsKey, KEY_READ, orlyn::RegView::Default, stats),
              ERROR_SUCCESS);
    EXPECT_NE(::RegQueryValueExW(stats.get(), L"Blocked", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_FALSE(FolderExists(common));
    EXPECT_FALSE(FolderExists(tsl));
    EXPECT_FALSE(FolderExists(download));
    EXPECT_TRUE(FolderExists(rc.appData()));
    // What the removal recorded of the folders went with them.
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, removal_memo::kKeyPath));
}

TEST(RemoveOldModule, ASchemeKeyThatCannotBeDeletedFailsThePhase) {
    OldModuleKeys keys;
    RoutineContext rc;
    CCustomScheme scheme(L"tsl");
    ASSERT_TRUE(scheme.Register(HKEY_CURRENT_USER, L"C:\\TSL.exe"));
    const std::wstring locked = L"Software\\Classes\\tsl\\Locked";
    {
        orlyn::UniqueHkey k;
        ASSERT_EQ(orlyn::CreateRegKey(HKEY_CURRENT_USER, (locked + L"\\Inner").c_str(), KEY_ALL_ACCESS,
                                      orlyn::RegView::Default, k),
                  ERROR_SUCCESS);
    }
    // Cannot be emptied, and a key with subkeys is not deleted.
    SetKeyAclForTest(HKEY_CURRENT_USER, locked, L"D:P(A;;KRWD;;;WD)");

    ASSERT_TRUE(rc.BuildRemovalList());
    EXPECT_FALSE(rc.RemoveOldModule());
    auto messages = rc.Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), L"Error\t기존 모듈을 모두 삭제하는데 실패하였습니다.\tFAILURE");

    SetKeyAclForTest(HKEY_CURRENT_USER, locked, L"D:(A;OICI;KA;;;WD)");
}

TEST(RemoveOldModule, TakesTheExclusionOutOfChromeAndShutsItDown) {
    OldModuleKeys keys;
    RoutineContext rc;
    const std::wstring localState = GetLocalStatePath();
    ASSERT_FALSE(localState.empty());
    CreateFolders(localState.substr(0, localState.find_last_of(L'\\')));
    const std::string original = ReadFileBytes(localState);
    const bool hadFile = FileExists(localState);
    ASSERT_TRUE(WriteFileBytes(localState,
                               R"({"a":1,"protocol_handler":{"excluded_schemes":{"tsl":false,"mailto":true}}})"));

    TempDir chromeDir(L"chrome");
    const std::wstring chromeExe = chromeDir / L"chrome.exe";
    ASSERT_TRUE(::CopyFileW(FixturePath(L"fake_chrome.exe").c_str(), chromeExe.c_str(), FALSE));
    ChildProcess chrome;
    ASSERT_TRUE(chrome.Start(chromeExe));
    ASSERT_TRUE(WaitForNamedEvent(orlyn::FormatString(L"orlyn_fake_chrome_%lu", chrome.Id()), 15000));

    ASSERT_TRUE(rc.BuildRemovalList());
    EXPECT_TRUE(rc.RemoveOldModule());
    EXPECT_TRUE(chrome.WaitForExit(10000));
    EXPECT_EQ(rc.chromeRestart, 1);
    EXPECT_EQ(ReadFileBytes(localState), R"({"a":1,"protocol_handler":{"excluded_schemes":{"mailto":true}}})");
    ExpectInOrder(rc.Messages(), {L"OK\t복구를 위해 Google Chrome을 재시작 합니다.",
                                  L"OK\t기존 모듈을 모두 삭제하는데 성공하였습니다.\tSUCCESS"});

    if (hadFile) WriteFileBytes(localState, original);
    else ::DeleteFileW(localState.c_str());
}

TEST(RemoveOldModule, WritesAFailureLineForEveryRowThatStaysAndGoesOn) {
    const std::wstring statsBlocked = std::wstring(L"HKCU\\") + kStatsKey + L"\\Blocked";
    const std::wstring notice =
        L"프로그램이\r\n%s 를 사용하고 있습니다.\r\n\r\n해당 프로그램을 종료하겠습니다.\r\n\r\n"
        L"* 주의 : 프로그램이 종료되므로 확인 버튼을 누르기 전에 필히 저장해 주세요.\r\n";
    struct Case {
        const char* what;
        bool schemeStays;
        const wchar_t* finalLine;
    } cases[] = {
        {"the URL scheme cannot be removed", true, L"Error\t기존 모듈을 모두 삭제하는데 실패하였습니다.\tFAILURE"},
        {"the URL scheme is gone", false, L"OK\t기존 모듈을 모두 삭제하는데 성공하였습니다.\tSUCCESS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OldModuleKeys keys;
        RoutineContext rc;
        ScriptedMessageBoxes boxes;

        // A module process that nobody may end.
        TempDir bin(L"bin");
        ChildProcess module;
        const std::wstring ready = UniqueName(L"orlyn_ready");
        ASSERT_TRUE(module.Start(removal_test::CopyFixture(bin, L"unkillable.exe", L"TSL.exe"), ready));
        ASSERT_TRUE(WaitForNamedEvent(ready, 15000));
        {
            orlyn::UniqueHandle probe(::OpenProcess(PROCESS_TERMINATE, FALSE, module.Id()));
            if (probe) GTEST_SKIP() << "this system lets the tests end a process that denies it";
        }
        ASSERT_TRUE(IsProcessRunning(L"TSL.exe"));

        // A value that goes, and a key that stays.
        SetRegStringForTest(HKEY_CURRENT_USER, kStatsKey, L"Blocked", L"1");
        const std::wstring lockedKey = L"SOFTWARE\\Orlyn\\TSL\\Locked";
        MakeLockedKey(HKEY_LOCAL_MACHINE, lockedKey);
        KeyAclRestorer unlockKey(HKEY_LOCAL_MACHINE, lockedKey);

        // A folder with a file that this program holds open, so its user is not found.
        const std::wstring tsl = rc.appData() + L"\\Orlyn\\TSL";
        const std::wstring open = tsl + L"\\open.dat";
        CreateFolders(tsl);
        orlyn::UniqueFileHandle openFile(
            ::CreateFileW(open.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(openFile);

        // A file held by two programs: ending the first leaves it held by the second.
        const std::wstring plug = rc.appData() + L"\\Orlyn\\OrlynPlug";
        const std::wstring linkinfo = plug + L"\\linkinfo.dat";
        CreateFolders(plug);
        const std::wstring nameA = UniqueName(L"keeperA") + L".exe";
        const std::wstring nameB = UniqueName(L"keeperB") + L".exe";
        ChildProcess a, b;
        ASSERT_TRUE(removal_test::StartReady(a, removal_test::CopyFixture(bin, L"hold_file.exe", nameA), linkinfo,
                                             L"- sharerw"));
        ASSERT_TRUE(removal_test::StartReady(b, removal_test::CopyFixture(bin, L"hold_file.exe", nameB), linkinfo,
                                             L"- sharerw"));

        const std::wstring schemeLock = L"Software\\Classes\\tsl\\Locked";
        std::unique_ptr<KeyAclRestorer> unlockScheme;
        if (c.schemeStays) {
            ASSERT_TRUE(CCustomScheme(L"tsl").Register(HKEY_CURRENT_USER, L"C:\\TSL.exe"));
            MakeLockedKey(HKEY_CURRENT_USER, schemeLock);
            unlockScheme.reset(new KeyAclRestorer(HKEY_CURRENT_USER, schemeLock));
        }

        ASSERT_TRUE(rc.BuildRemovalList());
        EXPECT_EQ(rc.RemoveOldModule(), !c.schemeStays);

        // Whichever holder was found first was ended, by name; the other still holds the file.
        const bool aEnded = a.WaitForExit(0);
        EXPECT_NE(aEnded, b.WaitForExit(0));
        const std::wstring& ended = aEnded ? nameA : nameB;
        const std::wstring& kept = aEnded ? nameB : nameA;
        ASSERT_EQ(boxes.Count(), 1u);
        const seams::MessageBoxCall box = boxes.Calls()[0];
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(box.caption, L"오를린 에러복구 프로그램");
        EXPECT_EQ(box.flags, static_cast<UINT>(MB_ICONWARNING | MB_OK));
        EXPECT_EQ(box.text,
                  ended + L"\r\n" + kept + L"\r\n" + orlyn::FormatString(notice.c_str(), linkinfo.c_str()));

        std::vector<std::wstring> expected = kBanner;
        const std::vector<std::wstring> rows = {
            // A process row that fails gets the error-code line.
            L"Error\tKill Process Failure : Processes named \"TSL.exe\" still exist",
            L"Error\tTSL.exe 프로세스가 종료되지 않았습니다.\tFAILURE",
            L"\t## 에러 코드 = N ##",
            L"OK\tDelete RegValue Success : " + statsBlocked,
            L"OK\t" + statsBlocked + L" 레지스트리 값이 삭제되었습니다.\tSUCCESS",
            // So does a registry row.
            L"Error\tDelete RegKey Failure : HKLM\\SOFTWARE\\Orlyn\\TSL",
            L"Error\tHKLM\\SOFTWARE\\Orlyn\\TSL 레지스트리 키가 삭제되지 않았습니다.\tFAILURE",
            L"\t## 에러 코드 = N ##",
            // Folder and file rows do not.
            L"Error\t" + open + L"를 사용하는 프로세스를 찾지 못했습니다. ",
            L"Error\tDeleteFile Failure(32) : " + open,
            L"Error\t" + tsl + L"를 사용하는 프로세스를 찾지 못했습니다. ",
            L"Error\tDeleteFolder Failure(145) : " + tsl,
            L"Error\t" + tsl + L" 폴더가 삭제되지 않았습니다.\tFAILURE",
            L"OK\tKill Process Processing : Try to kill " + ended,
            L"OK\tKill Process Success : " + ended,
            L"OK\t" + ended + L" 프로세스가 종료되었습니다.",
            L"Error\tDeleteFile Failure(32) : " + linkinfo,
            L"Error\t" + linkinfo + L" 파일이 삭제되지 않았습니다.\tFAILURE",
            c.finalLine,
        };
        expected.insert(expected.end(), rows.begin(), rows.end());
        EXPECT_EQ(WithErrorCodesAsN(rc.Messages()), expected);

        EXPECT_FALSE(module.WaitForExit(0));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlyn\\TSL"));
        EXPECT_TRUE(FileExists(open));
        EXPECT_TRUE(FileExists(linkinfo));
        auto progress = rc.ReadProgress();
        EXPECT_EQ(progress.phaseItemsDone, progress.phaseItemCount - 200u);
    }
}
