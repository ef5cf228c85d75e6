#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/repair_context.h"
#include "common/string_format.h"
#include "common/unique_handle.h"
#include "diagnostics/access_report.h"
#include "install/access_list_readback.h"
#include "support/temp_log.h"
#include "support/test_support.h"

using testing_support::SetRegStringForTest;
using testing_support::TempDir;
using testing_support::TempLogContext;

namespace {

const std::wstring kRule(55, L'=');
const wchar_t kMakerKey[] = L"SOFTWARE\\Orlyn";

// The maker's key as the test finds it. An empty key (other tests of this prefix may leave one) names no
// target; one with values or subkeys is not ours to change.
enum class MakerKey { Absent, Empty, Filled };

MakerKey MakerKeyNow() {
    orlyn::UniqueHkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMakerKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return MakerKey::Absent;
    DWORD subkeys = 0, values = 0;
    if (::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                           nullptr, nullptr) != ERROR_SUCCESS)
        return MakerKey::Filled;
    return subkeys || values ? MakerKey::Filled : MakerKey::Empty;
}

// The error lines of a target search that finds no target: the key cannot be opened, or it has no values.
std::wstring NoTargetErrors(MakerKey state) {
    return state == MakerKey::Absent ? L"SOFTWARE\\Orlyn Registry Key open() Failure - Error : 2\n"
                                       L"SOFTWARE\\Orlyn Registry Key open() Failure - Error : 2\n"
                                     : L"SOFTWARE\\Orlyn - RootPath : No Data\n"
                                       L"SOFTWARE\\Orlyn - Executable : No Data\n";
}

using access_readback::WellKnownSid;

std::vector<std::wstring> Pieces(const std::wstring& text) { return SplitLogPieces(text); }

void Append(std::vector<std::wstring>& to, const std::vector<std::wstring>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

bool IsEntryLine(const std::wstring& line) {
    bool lead = line.rfind(L"Allowed to: ", 0) == 0 || line.rfind(L"Denied from: ", 0) == 0;
    return lead && line.size() >= 6 && line.compare(line.size() - 6, 2, L" [") == 0 && line.back() == L']';
}

// Compares the log with the expected lines; "<entries>" stands for one or more access-entry lines.
void ExpectLogMatches(const std::vector<std::wstring>& expected, const std::vector<std::wstring>& actual) {
    size_t a = 0;
    for (size_t e = 0; e < expected.size(); ++e) {
        SCOPED_TRACE(testing::Message() << "expected line " << e << ", log line " << a);
        if (expected[e] == L"<entries>") {
            ASSERT_LT(a, actual.size());
            EXPECT_TRUE(IsEntryLine(actual[a])) << orlyn::ToUtf8(actual[a]);
            while (a < actual.size() && IsEntryLine(actual[a])) ++a;
            continue;
        }
        ASSERT_LT(a, actual.size());
        EXPECT_EQ(orlyn::ToUtf8(expected[e]), orlyn::ToUtf8(actual[a]));
        ++a;
    }
    EXPECT_EQ(actual.size(), a) << "no further lines";
}

// The report's user section as this machine gives it.
struct UserInfo {
    std::wstring report, errors;
    UserInfo() { WriteUserInfo(report, errors); }
};

}  // namespace

TEST(AccessColumns, LettersForAllowedNeedEveryBitAndForDeniedAny) {
    struct Case {
        ACCESS_MASK mask;
        bool allowed;
        const wchar_t* columns;
    } cases[] = {
        {FILE_READ_ATTRIBUTES, false, L"R  "},
        {FILE_READ_ATTRIBUTES, true, L"   "},
        {FILE_READ_DATA | FILE_READ_ATTRIBUTES, true, L"R  "},
        {FILE_ALL_ACCESS, true, L"RWX"},
        {0x1200A9, true, L"R X"},  // read and execute
        {0x116, true, L" W "},
        {0x120116, true, L" W "},
        {FILE_WRITE_ATTRIBUTES, true, L"   "},
        {FILE_WRITE_ATTRIBUTES, false, L" W "},
        {FILE_EXECUTE, false, L"  X"},
        {FILE_READ_DATA, false, L"R X"},
        {FILE_READ_DATA, true, L"   "},
        {GENERIC_ALL, true, L"   "},
        {0, true, L"   "},
        {0, false, L"   "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.mask << (c.allowed ? " allowed" : " denied"));
        EXPECT_EQ(c.columns, AccessColumns(c.mask, c.allowed));
    }
}

TEST(SplitLogPieces, KeepsThePieceAfterTheLastLineFeed) {
    EXPECT_EQ(std::vector<std::wstring>({L""}), SplitLogPieces(L""));
    EXPECT_EQ(std::vector<std::wstring>({L"a", L""}), SplitLogPieces(L"a\n"));
    EXPECT_EQ(std::vector<std::wstring>({L"a", L"b"}), SplitLogPieces(L"a\nb"));
    EXPECT_EQ(std::vector<std::wstring>({L"", L"", L""}), SplitLogPieces(L"\n\n"));
}

TEST(WriteAces, NamesAccountsAndLeavesOutUnknownSids) {
    AccessTarget target;
    target.path = L"C:\\x";
    std::vector<BYTE> everyone = WellKnownSid(WinWorldSid);
    std::vector<BYTE> administrators = WellKnownSid(WinBuiltinAdministratorsSid);
    ASSERT_FALSE(everyone.empty());
    ASSERT_FALSE(administrators.empty());
    // S-1-5-21-111-222-333-4444 maps to no account.
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    orlyn::UniqueSid unknown;
    ASSERT_TRUE(::AllocateAndInitializeSid(&nt, 5, 21, 111, 222, 333, 4444, 0, 0, 0, unknown.put()));
    const BYTE* u = static_cast<const BYTE*>(unknown.get());
    std::vector<BYTE> unknownSid(u, u + ::GetLengthSid(unknown.get()));

    target.entries = {
        {everyone, FILE_READ_ATTRIBUTES, false},
        {everyone, FILE_READ_ATTRIBUTES, true},
        {unknownSid, FILE_ALL_ACCESS, true},
        {administrators, FILE_ALL_ACCESS, true},
    };
    std::wstring report;
    WriteAces(target, report);
    EXPECT_EQ(orlyn::ToUtf8(L"Denied from: Everyone [R  ]\n"
                            L"Allowed to: Everyone [   ]\n"
                            L"Allowed to: BUILTIN\\Administrators [RWX]\n"),
              orlyn::ToUtf8(report));
}

TEST(ReadDacl, ListsTheEntriesOfAFileAndFailsQuietlyForAMissingPath) {
    TempDir dir(L"dacl");
    AccessTarget file{dir / L"f.txt", {}};
    ASSERT_TRUE(testing_support::WriteFileBytes(file.path, "x"));
    std::wstring failure = L"preset";
    EXPECT_TRUE(ReadDacl(file, failure));
    EXPECT_TRUE(failure.empty());
    EXPECT_FALSE(file.entries.empty());

    AccessTarget missing{dir / L"gone", {}};
    failure = L"preset";
    EXPECT_FALSE(ReadDacl(missing, failure));
    EXPECT_EQ(L"", failure) << "a path without a descriptor gives an empty failure text";
    EXPECT_TRUE(missing.entries.empty());
}

TEST(WriteAccessReport, ReportsTheTargetsOfTheMakersKey) {
    const MakerKey before = MakerKeyNow();
    if (before == MakerKey::Filled) GTEST_SKIP() << "HKLM\\SOFTWARE\\Orlyn has content on this machine";
    // The key is deleted at the end; an empty one that was there before is made again.
    struct PutBack {
        bool empty;
        ~PutBack() {
            orlyn::UniqueHkey key;
            if (empty) ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMakerKey, 0, nullptr, 0, KEY_READ, nullptr, key.put(), nullptr);
        }
    } putBack{before == MakerKey::Empty};
    TempDir dir(L"acr");
    const std::wstring game = dir / L"game";
    const std::wstring exe = game + L"\\game.exe";
    const std::wstring missing = dir / L"missing folder";
    ASSERT_TRUE(testing_support::CreateFolders(game));
    ASSERT_TRUE(testing_support::WriteFileBytes(exe, "MZ"));

    testing_support::ScopedRegKey maker(HKEY_LOCAL_MACHINE, kMakerKey);
    const std::wstring key = kMakerKey;
    SetRegStringForTest(HKEY_LOCAL_MACHINE, key + L"\\A_Game", L"RootPath", game);
    SetRegStringForTest(HKEY_LOCAL_MACHINE, key + L"\\A_Game\\Sub", L"RootPath", dir / L"never searched");
    SetRegStringForTest(HKEY_LOCAL_MACHINE, key + L"\\A_Game\\Sub", L"Executable", exe);
    // B_Tools itself has no values.
    SetRegStringForTest(HKEY_LOCAL_MACHINE, key + L"\\B_Tools\\Inner", L"RootPath", missing);

    UserInfo user;
    TempLogContext<> context(L"acrlog");
    ASSERT_TRUE(context.logOpened());
    WriteAccessReport(context, context.aclInfo);
    context.CloseLog();

    ASSERT_EQ(3u, context.aclInfo.targets.size());
    EXPECT_EQ(game, context.aclInfo.targets[0].path);
    EXPECT_EQ(missing, context.aclInfo.targets[1].path);
    EXPECT_EQ(exe, context.aclInfo.targets[2].path);
    EXPECT_FALSE(context.aclInfo.targets[0].entries.empty());

    std::wstring errors = user.errors;
    errors += L"SOFTWARE\\Orlyn - RootPath : No Data\n"
              L"SOFTWARE\\Orlyn\\B_Tools - RootPath : No Data\n"
              L"SOFTWARE\\Orlyn - Executable : No Data\n"
              L"SOFTWARE\\Orlyn\\A_Game - Executable : No Data\n"
              L"SOFTWARE\\Orlyn\\B_Tools - Executable : No Data\n"
              L"SOFTWARE\\Orlyn\\B_Tools\\Inner - Executable : No Data\n"
              L"\n";  // the missing folder has no descriptor: an empty failure text
    std::vector<std::wstring> expected = {L"**Access Control Lists", L"", kRule, L"**에러 내역", L""};
    Append(expected, Pieces(errors));
    Append(expected, {kRule, L""});
    std::vector<std::wstring> report = Pieces(user.report);
    report.pop_back();  // the report text goes on after the user section
    Append(expected, report);
    Append(expected, {kRule, L"Target Name : " + game, L"", L"<entries>", kRule, L""});
    Append(expected, {kRule, L"Target Name : " + missing, L"", kRule, L""});
    Append(expected, {kRule, L"Target Name : " + exe, L"", L"<entries>", kRule, L""});
    expected.push_back(L"");  // the piece after the report's last line feed
    ExpectLogMatches(expected, context.Messages());
}

TEST(WriteAccessReport, WithoutAnyTargetReportsOnlyTheUserAndTheKeysErrors) {
    const MakerKey state = MakerKeyNow();
    if (state == MakerKey::Filled) GTEST_SKIP() << "HKLM\\SOFTWARE\\Orlyn has content on this machine";
    UserInfo user;
    TempLogContext<> context(L"acrlog");
    context.aclInfo.targets.push_back(AccessTarget{L"C:\\left over from before", {}});
    ASSERT_TRUE(context.logOpened());
    WriteAccessReport(context, context.aclInfo);
    context.CloseLog();

    EXPECT_TRUE(context.aclInfo.targets.empty()) << "each report replaces the target list";
    std::wstring errors = user.errors + NoTargetErrors(state);
    std::vector<std::wstring> expected = {L"**Access Control Lists", L"", kRule, L"**에러 내역", L""};
    Append(expected, Pieces(errors));
    Append(expected, {kRule, L""});
    Append(expected, Pieces(user.report));
    ExpectLogMatches(expected, context.Messages());
}

TEST(ApplyEveryoneAccess, GrantsOnTheLastTargetsWarnsAboutMissingFilesAndReportsAgain) {
    const MakerKey state = MakerKeyNow();
    if (state == MakerKey::Filled) GTEST_SKIP() << "HKLM\\SOFTWARE\\Orlyn has content on this machine";
    TempDir dir(L"ace");
    const std::wstring folder = dir / L"game";
    const std::wstring present = dir / L"present.exe";
    const std::wstring gone = dir / L"gone.exe";
    ASSERT_TRUE(testing_support::CreateFolders(folder));
    ASSERT_TRUE(testing_support::WriteFileBytes(present, "MZ"));

    using access_readback::AllowedFileRights;
    using access_readback::FileAces;
    using access_readback::Reach;
    const std::vector<BYTE> everyone = WellKnownSid(WinWorldSid);
    // Read, write, execute and delete in the file system's own rights.
    const ACCESS_MASK kFullUse = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
    for (const std::wstring& path : {folder, present}) {
        ASSERT_NE(kFullUse, AllowedFileRights(FileAces(path), everyone, Reach::Object) & kFullUse)
            << orlyn::ToUtf8(path) << ": Everyone may already do everything";
    }

    UserInfo user;
    TempLogContext<> context(L"acelog");
    context.aclInfo.targets = {AccessTarget{folder, {}}, AccessTarget{present, {}}, AccessTarget{gone, {}}};
    ASSERT_TRUE(context.logOpened());
    ApplyEveryoneAccess(context, context.aclInfo);
    context.CloseLog();

    // Read back: Everyone really got full use of each target, and a folder passes it on to what is inside.
    for (const std::wstring& path : {folder, present}) {
        SCOPED_TRACE(orlyn::ToUtf8(path));
        DWORD error = 0;
        std::vector<access_readback::Ace> aces = FileAces(path, &error);
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), error);
        EXPECT_EQ(kFullUse, AllowedFileRights(aces, everyone, Reach::Object) & kFullUse);
        if (path == folder) {
            EXPECT_EQ(kFullUse, AllowedFileRights(aces, everyone, Reach::FilesAndFoldersBelow) & kFullUse);
        }
    }

    std::vector<std::wstring> expected = {
        L"OK\tACL data 변경 작업 완료하였습니다.",
        L"",
        L"**Warnings",
        gone + L" : 레지스트리에는 값이 있지만 해당 파일이 없습니다. Error No : 2",
        L"",
        L"**Access Control Lists",
        L"",
        kRule,
        L"**에러 내역",
        L"",
    };
    Append(expected, Pieces(user.errors + NoTargetErrors(state)));
    Append(expected, {kRule, L""});
    Append(expected, Pieces(user.report));
    ExpectLogMatches(expected, context.Messages());
    EXPECT_TRUE(context.aclInfo.targets.empty());
}

TEST(WriteUserInfo, NamesTheUserAndTheGroupsOfTheLinkedToken) {
    std::wstring report, errors;
    WriteUserInfo(report, errors);
    wchar_t name[MAX_PATH + 1];
    DWORD length = MAX_PATH + 1;
    ASSERT_TRUE(::GetUserNameW(name, &length));
    EXPECT_EQ(0u, report.rfind(std::wstring(L"Current User Name : ") + name + L"\n", 0)) << orlyn::ToUtf8(report);
    // Every further line is one of the membership lines; the section ends with an empty line.
    std::vector<std::wstring> lines = SplitLogPieces(report);
    for (size_t i = 1; i + 2 < lines.size(); ++i) {
        SCOPED_TRACE(orlyn::ToUtf8(lines[i]));
        bool known = lines[i] == L"This Process is executed with Admin auth. And elevated." ||
                     lines[i] == L"The user is in Admin group" || lines[i] == L"The user is in User group" ||
                     lines[i] == L"The user is in Guest group" ||
                     lines[i] == L"The user is in Authenticated User group";
        EXPECT_TRUE(known);
    }
    if (errors.find(L"Linked token") == std::wstring::npos) {
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(L"", lines[lines.size() - 2]);
    }
}

TEST(CheckMemberGroup, ReportsAFailedTestAsAnError) {
    std::wstring report, errors;
    // A process handle is not a token: the membership test fails.
    EXPECT_FALSE(CheckMemberGroup(::GetCurrentProcess(), WinBuiltinUsersSid, L"User", report, errors));
    EXPECT_TRUE(report.empty());
    EXPECT_EQ(0u, errors.rfind(L"CheckMemberGroup - error( User ) : ", 0)) << orlyn::ToUtf8(errors);
    EXPECT_EQ(L'\n', errors.back());
}
