#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/repair_context.h"
#include "common/registry.h"
#include "common/string_format.h"
#include "removal/removal_memo.h"
#include "support/temp_log.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const wchar_t kSharedKey[] = L"SOFTWARE\\Orlyn\\Shared";
const wchar_t kTslKey[] = L"SOFTWARE\\Orlyn\\TSL";
const wchar_t kPlugKey[] = L"SOFTWARE\\Orlyn\\OrlynPlug";

// The old module's keys and the record, removed before and after a test.
class MemoKeys {
public:
    MemoKeys() { Clean(); }
    ~MemoKeys() {
        // A test may have left the record's key readable only.
        if (KeyExists(HKEY_LOCAL_MACHINE, removal_memo::kKeyPath))
            SetKeyAclForTest(HKEY_LOCAL_MACHINE, removal_memo::kKeyPath, L"D:(A;OICI;KA;;;WD)");
        Clean();
    }
    void Clean() {
        for (const wchar_t* path : {kSharedKey, kTslKey, kPlugKey, removal_memo::kKeyPath})
            DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, path);
    }

private:
    MakerKeyScope maker_;
};

// A repair context whose all-users application data folder and log live in a temporary folder; `data`
// is shared by the runs of one test, as one PC's folder is by its runs.
class RunContext : public TempLogContext<> {
public:
    explicit RunContext(const std::wstring& data) : TempLogContext(L"memo") {
        orlyn::CopyFixed(allUsersAppDataFolder, MAX_PATH, data.c_str());
    }
};

std::vector<std::wstring> Paths(const std::vector<PathRow>& rows) {
    std::vector<std::wstring> out;
    for (const PathRow& row : rows) out.push_back(row.relativePath);
    return out;
}

bool Holds(const std::vector<std::wstring>& messages, const std::wstring& line) {
    return std::find(messages.begin(), messages.end(), line) != messages.end();
}

std::wstring Deleted(const std::wstring& path) { return L"OK\t" + path + L" 폴더가 삭제되었습니다.\tSUCCESS"; }
std::wstring NotDeleted(const std::wstring& path) {
    return L"Error\t" + path + L" 폴더가 삭제되지 않았습니다.\tFAILURE";
}

void WriteRecordValue(DWORD type, const std::wstring& units) {
    orlyn::UniqueHkey key;
    ASSERT_EQ(orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, removal_memo::kKeyPath, KEY_ALL_ACCESS, orlyn::RegView::Default,
                                  key),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key.get(), removal_memo::kValueName, 0, type,
                               reinterpret_cast<const BYTE*>(units.data()),
                               static_cast<DWORD>(units.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

// Folders that the old module's Shared and TSL keys name, each with a file in it.
struct OldModuleFolders {
    explicit OldModuleFolders(const TempDir& dir) : shared(dir / L"OrlynShared"), download(dir / L"OrlynDownload") {
        EXPECT_TRUE(CreateFolders(shared + L"\\sub"));
        EXPECT_TRUE(WriteFileText(shared + L"\\sub\\shared.dat", L"s"));
        EXPECT_TRUE(CreateFolders(download));
        EXPECT_TRUE(WriteFileText(download + L"\\qr.bin", L"q"));
        SetRegStringForTest(HKEY_LOCAL_MACHINE, kSharedKey, nullptr, shared);
        SetRegStringForTest(HKEY_LOCAL_MACHINE, kTslKey, L"QrDownload", download);
    }
    std::wstring shared, download;
};

}  // namespace

TEST(RemovalMemo, AnInterruptedRemovalLeavesItsFoldersToTheNextRun) {
    MemoKeys keys;
    TempDir dir(L"memo");
    OldModuleFolders old(dir);
    {
        // The first run records what it learned and deletes the keys; then it is ended.
        RunContext first(dir.path());
        ASSERT_TRUE(first.BuildRemovalList());
        EXPECT_EQ(Paths(first.removalList.learnedFolders), (std::vector<std::wstring>{old.shared, old.download}));
        RecordLearnedFolders(first.removalList.CopyLearnedFolders(), first);
        DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, kTslKey);
        DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, kSharedKey);
        EXPECT_TRUE(first.Messages().empty()) << "recording wrote to the log";
    }
    EXPECT_EQ(removal_memo::ReadFolders(), (std::vector<std::wstring>{old.shared, old.download}));

    RunContext next(dir.path());
    ASSERT_TRUE(next.BuildRemovalList());
    const std::vector<std::wstring> folders = Paths(next.removalList.folders);
    EXPECT_EQ(std::vector<std::wstring>(folders.begin() + 2, folders.end()),
              (std::vector<std::wstring>{old.shared, old.download}));
    EXPECT_TRUE(next.RemoveOldModule());
    const auto messages = next.Messages();
    EXPECT_TRUE(Holds(messages, Deleted(old.shared)));
    EXPECT_TRUE(Holds(messages, Deleted(old.download)));
    EXPECT_FALSE(FolderExists(old.shared));
    EXPECT_FALSE(FolderExists(old.download));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, removal_memo::kKeyPath)) << "the record outlived its folders";
}

TEST(RemovalMemo, AFolderThatALockedFileKeptIsRemovedByTheRunAfterTheRestart) {
    MemoKeys keys;
    TempDir dir(L"memo");
    OldModuleFolders old(dir);
    const std::wstring locked = old.shared + L"\\sub\\shared.dat";
    {
        // Held by this program itself, so no holder is found and ended.
        orlyn::UniqueFileHandle hold(::CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(hold);
        RunContext first(dir.path());
        ASSERT_TRUE(first.BuildRemovalList());
        EXPECT_TRUE(first.RemoveOldModule());
        EXPECT_TRUE(Holds(first.Messages(), NotDeleted(old.shared)));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSharedKey));
        EXPECT_FALSE(FolderExists(old.download));
        // Only what is still there is left to the next run.
        EXPECT_EQ(removal_memo::ReadFolders(), std::vector<std::wstring>{old.shared});
    }  // the restart frees the file

    RunContext resumed(dir.path());
    ASSERT_TRUE(resumed.BuildRemovalList());
    EXPECT_EQ(Paths(resumed.removalList.learnedFolders), std::vector<std::wstring>{old.shared});
    EXPECT_TRUE(resumed.RemoveOldModule());
    EXPECT_TRUE(Holds(resumed.Messages(), Deleted(old.shared)));
    EXPECT_FALSE(FolderExists(old.shared));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, removal_memo::kKeyPath));
}

TEST(RemovalMemo, TakesARecordIntoTheListOnce) {
    TempDir dir(L"memo");
    const std::wstring a = dir / L"A", x = dir / L"X", plug = dir / L"Plug";
    std::wstring lowerA = a;
    ::CharLowerBuffW(&lowerA[0], static_cast<DWORD>(lowerA.size()));
    ASSERT_NE(lowerA, a);
    struct Case {
        const char* what;
        std::vector<std::wstring> record;
        const wchar_t* shared;
        const wchar_t* rootPath;
        std::vector<std::wstring> folders;  // after the two fixed rows
        std::vector<std::wstring> learned;
    } cases[] = {
        {"the keys are gone", {a}, nullptr, nullptr, {a}, {a}},
        {"the key still names it, in other letter case", {lowerA}, a.c_str(), nullptr, {a}, {a}},
        {"another folder after the list's own", {x}, a.c_str(), plug.c_str(), {a, plug + L"\\KVData", x}, {a, x}},
        {"a folder the list has from a key that stays", {plug + L"\\KVData"}, nullptr, plug.c_str(),
         {plug + L"\\KVData"}, {plug + L"\\KVData"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoKeys keys;
        ASSERT_EQ(removal_memo::WriteFolders(c.record), ERROR_SUCCESS);
        if (c.shared) SetRegStringForTest(HKEY_LOCAL_MACHINE, kSharedKey, nullptr, c.shared);
        if (c.rootPath) SetRegStringForTest(HKEY_LOCAL_MACHINE, kPlugKey, L"RootPath", c.rootPath);
        RemovalList list;
        ASSERT_TRUE(BuildRemovalList(list));
        const std::vector<std::wstring> folders = Paths(list.folders);
        ASSERT_GE(folders.size(), 2u);
        EXPECT_EQ(std::vector<std::wstring>(folders.begin() + 2, folders.end()), c.folders);
        EXPECT_EQ(Paths(list.learnedFolders), c.learned);
    }
}

TEST(RemovalMemo, ARecordIsInputLikeAnyRegistryValue) {
    TempDir dir(L"memo");
    wchar_t windows[MAX_PATH];
    ASSERT_GT(::GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::wstring gone = dir / L"Gone";
    struct Case {
        const char* what;
        DWORD type;
        std::wstring units;
        std::vector<std::wstring> folders;  // after the two fixed rows
        std::vector<std::wstring> lines;
    } cases[] = {
        // The deletion refuses it as it would refuse the same path read from the old module's keys.
        {"a system folder", REG_MULTI_SZ, std::wstring(windows) + L'\0' + L'\0', {windows},
         {NotDeleted(windows)}},
        {"a folder that is gone", REG_MULTI_SZ, gone + L'\0' + L'\0', {gone}, {}},
        {"a relative path", REG_MULTI_SZ, std::wstring(L"OrlynNoSuchFolder\0\0", 19), {L"OrlynNoSuchFolder"}, {}},
        {"another type", REG_SZ, dir / L"Typed", {}, {}},
        {"no path at all", REG_MULTI_SZ, std::wstring(L"\0\0", 2), {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoKeys keys;
        WriteRecordValue(c.type, c.units);
        RunContext run(dir.path());
        ASSERT_TRUE(run.BuildRemovalList());
        const std::vector<std::wstring> folders = Paths(run.removalList.folders);
        ASSERT_GE(folders.size(), 2u);
        EXPECT_EQ(std::vector<std::wstring>(folders.begin() + 2, folders.end()), c.folders);
        EXPECT_TRUE(run.RemoveOldModule());
        const auto messages = run.Messages();
        for (const std::wstring& line : c.lines) EXPECT_TRUE(Holds(messages, line)) << orlyn::ToUtf8(line);
        // Nothing that no run could delete is kept, and an odd record goes as well.
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, removal_memo::kKeyPath));
    }
    EXPECT_TRUE(FolderExists(windows));
}

TEST(RemovalMemo, ARecordThatCannotBeWrittenIsLoggedAndTheRemovalGoesOn) {
    MemoKeys keys;
    TempDir dir(L"memo");
    OldModuleFolders old(dir);
    ASSERT_EQ(removal_memo::WriteFolders({L"C:\\OrlynEarlier"}), ERROR_SUCCESS);
    SetKeyAclForTest(HKEY_LOCAL_MACHINE, removal_memo::kKeyPath, L"D:P(A;;KR;;;WD)");

    RunContext run(dir.path());
    ASSERT_TRUE(run.BuildRemovalList());
    EXPECT_TRUE(run.RemoveOldModule());
    const auto messages = run.Messages();
    const std::wstring failure = L"Error\tRecord Folders Failure(5) : HKLM\\SOFTWARE\\OrlynRepair\\PendingFolders";
    ASSERT_GE(messages.size(), 5u);
    EXPECT_EQ(messages[4], failure) << "not right after the banner, before anything is deleted";
    EXPECT_EQ(std::count(messages.begin(), messages.end(), failure), 2) << "recorded, then settled";
    EXPECT_TRUE(Holds(messages, Deleted(old.shared)));
    EXPECT_EQ(messages.back(), L"OK\t기존 모듈을 모두 삭제하는데 성공하였습니다.\tSUCCESS");
}
