#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/repair_context.h"
#include "common/registry.h"
#include "common/string_format.h"
#include "removal/removal_list.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const wchar_t kSharedKey[] = L"SOFTWARE\\Orlyn\\Shared";
const wchar_t kTslKey[] = L"SOFTWARE\\Orlyn\\TSL";
const wchar_t kPlugKey[] = L"SOFTWARE\\Orlyn\\OrlynPlug";

// The old module's real keys under HKLM: the test writes them and removes all it wrote, including the
// maker's key when it was not there before.
class OrlynKeys {
public:
    OrlynKeys() {
        for (const wchar_t* path : {kSharedKey, kTslKey, kPlugKey})
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path)) << "left over from elsewhere: " << orlyn::ToUtf8(path);
    }
    ~OrlynKeys() {
        for (const wchar_t* path : {kSharedKey, kTslKey, kPlugKey}) DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, path);
    }
    void Set(const wchar_t* keyPath, const wchar_t* name, DWORD type, const std::vector<BYTE>& bytes) {
        orlyn::UniqueHkey key;
        ASSERT_EQ(orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, keyPath, KEY_ALL_ACCESS, orlyn::RegView::Default, key),
                  ERROR_SUCCESS);
        if (!name && type == REG_NONE) return;  // the key alone
        ASSERT_EQ(::RegSetValueExW(key.get(), name, 0, type, bytes.data(), static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
    }

private:
    MakerKeyScope maker_;
};

std::vector<BYTE> Text(const std::wstring& text, bool withTerminator = true) {
    const BYTE* p = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(p, p + (text.size() + (withTerminator ? 1 : 0)) * sizeof(wchar_t));
}

std::vector<std::wstring> Names(const std::vector<ProcessRow>& rows) {
    std::vector<std::wstring> out;
    for (const auto& r : rows) out.push_back(r.imageName);
    return out;
}

std::vector<std::pair<int, std::wstring>> Paths(const std::vector<PathRow>& rows) {
    std::vector<std::pair<int, std::wstring>> out;
    for (const auto& r : rows) out.emplace_back(r.baseFolder, r.relativePath);
    return out;
}

using PathList = std::vector<std::pair<int, std::wstring>>;

const PathList kBuiltInFolders = {{105, L"Orlyn\\Common"}, {105, L"Orlyn\\TSL"}};

}  // namespace

TEST(BuildRemovalList, OnAMachineWithoutTheOldModule) {
    OrlynKeys keys;
    CRepairContext context;
    ASSERT_TRUE(context.BuildRemovalList());
    const RemovalList& list = context.removalList;

    EXPECT_EQ(Names(list.CopyProcesses()), (std::vector<std::wstring>{L"iexplore.exe", L"ieuser.exe",
                                                                       L"OrlynPlug.exe", L"KVService.exe",
                                                                       L"TSL.exe"}));
    const wchar_t* clsids[] = {L"{080F7E03-AC50-4949-AACA-E79F82D3099F}", L"{5D605A2B-ACDE-49CD-9642-7B268923ACD9}",
                               L"{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}", L"{871D8DC2-84A4-4D1F-99D5-2A4E3BE2E87C}",
                               L"{A7B202AB-A508-4235-9C97-C25799782590}"};
    auto registry = list.CopyRegistryRows();
    ASSERT_EQ(registry.size(), 12u);
    for (size_t i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        std::wstring key = orlyn::FormatString(
            L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats\\%s\\iexplore", clsids[i / 2]);
        EXPECT_EQ(registry[i].wholeKey, 0);
        EXPECT_EQ(registry[i].rootKey, 201);
        EXPECT_EQ(std::wstring(registry[i].keyPath), key);
        EXPECT_EQ(std::wstring(registry[i].valueName), i % 2 == 0 ? L"Blocked" : L"Flags");
        EXPECT_EQ(RegistryRowRoot(registry[i]), HKEY_CURRENT_USER);
        EXPECT_EQ(std::wstring(RegistryRowPrefix(registry[i])), L"HKCU\\");
    }
    EXPECT_EQ(registry[10].wholeKey, 1);
    EXPECT_EQ(registry[10].rootKey, 200);
    EXPECT_EQ(std::wstring(registry[10].keyPath), L"SOFTWARE\\Orlyn\\TSL");
    EXPECT_EQ(std::wstring(registry[10].valueName), L"");
    EXPECT_EQ(registry[11].wholeKey, 1);
    EXPECT_EQ(std::wstring(registry[11].keyPath), L"SOFTWARE\\Orlyn\\Shared");
    EXPECT_EQ(RegistryRowRoot(registry[11]), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(std::wstring(RegistryRowPrefix(registry[11])), L"HKLM\\");

    EXPECT_EQ(Paths(list.CopyFiles()), (PathList{{105, L"Orlyn\\OrlynPlug\\linkinfo.dat"},
                                                 {105, L"Orlyn\\OrlynPlug\\vqmrs.dat"}}));
    EXPECT_EQ(Paths(list.CopyFolders()), kBuiltInFolders);

    // Built once; a second build does not append again.
    ASSERT_TRUE(context.BuildRemovalList());
    EXPECT_EQ(list.processes.size() + list.registryRows.size() + list.files.size() + list.folders.size(), 21u);
}

TEST(BuildRemovalList, TakesFoldersFromTheOldModulesRegistryValues) {
    std::wstring s259(259, L'p');  // with its terminator exactly 520 bytes
    s259[0] = L'D', s259[1] = L':', s259[2] = L'\\';
    std::wstring s260 = s259 + L"q";
    std::wstring root252 = L"D:\\" + std::wstring(249, L'r');  // + "\\KVData" = 259 characters
    std::wstring root253 = root252 + L"s";
    std::wstring root519 = L"D:\\" + std::wstring(516, L't');  // with its terminator 1040 bytes
    struct Value {
        const wchar_t* key;
        const wchar_t* name;
        DWORD type;
        std::vector<BYTE> bytes;
    };
    struct Case {
        const char* name;
        std::vector<Value> values;
        PathList extra;
    } cases[] = {
        {"shared folder", {{kSharedKey, nullptr, REG_SZ, Text(L"D:\\Data\\Shared")}}, {{106, L"D:\\Data\\Shared"}}},
        {"expandable text", {{kSharedKey, nullptr, REG_EXPAND_SZ, Text(L"D:\\Data")}}, {}},
        {"522 bytes", {{kSharedKey, nullptr, REG_SZ, Text(s260)}}, {}},
        {"520 bytes", {{kSharedKey, nullptr, REG_SZ, Text(s259)}}, {{106, s259}}},
        // 520 bytes without a terminator: 260 characters do not fit the field; skipped, not cut.
        {"520 bytes unterminated", {{kSharedKey, nullptr, REG_SZ, Text(s260, false)}}, {}},
        {"download folder", {{kTslKey, L"QrDownload", REG_SZ, Text(L"E:\\Down")}}, {{106, L"E:\\Down"}}},
        {"download folder as number", {{kTslKey, L"QrDownload", REG_DWORD, {1, 0, 0, 0}}}, {}},
        {"key without the value", {{kTslKey, L"Other", REG_SZ, Text(L"E:\\Other")}}, {}},
        {"plug root", {{kPlugKey, L"RootPath", REG_SZ, Text(L"D:\\Games\\Plug")}}, {{106, L"D:\\Games\\Plug\\KVData"}}},
        {"plug root just fits", {{kPlugKey, L"RootPath", REG_SZ, Text(root252)}}, {{106, root252 + L"\\KVData"}}},
        {"plug root too long with KVData", {{kPlugKey, L"RootPath", REG_SZ, Text(root253)}}, {}},
        {"plug root of 1040 bytes", {{kPlugKey, L"RootPath", REG_SZ, Text(root519)}}, {}},
        {"plug root over 1040 bytes", {{kPlugKey, L"RootPath", REG_SZ, Text(root519 + L"u")}}, {}},
        {"plug root expandable", {{kPlugKey, L"RootPath", REG_EXPAND_SZ, Text(L"D:\\Games")}}, {}},
        {"all three, in order, duplicates kept",
         {{kPlugKey, L"RootPath", REG_SZ, Text(L"F:\\Plug")},
          {kTslKey, L"QrDownload", REG_SZ, Text(L"C:\\ProgramData\\Orlyn\\TSL")},
          {kSharedKey, nullptr, REG_SZ, Text(L"C:\\ProgramData\\Orlyn\\TSL")}},
         {{106, L"C:\\ProgramData\\Orlyn\\TSL"}, {106, L"C:\\ProgramData\\Orlyn\\TSL"}, {106, L"F:\\Plug\\KVData"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OrlynKeys keys;
        for (const auto& v : c.values) keys.Set(v.key, v.name, v.type, v.bytes);
        CRepairContext context;
        ASSERT_TRUE(context.BuildRemovalList());
        PathList expected = kBuiltInFolders;
        expected.insert(expected.end(), c.extra.begin(), c.extra.end());
        EXPECT_EQ(Paths(context.removalList.CopyFolders()), expected);
        EXPECT_EQ(context.removalList.files.size(), 2u);
        EXPECT_EQ(context.removalList.registryRows.size(), 12u);
    }
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSharedKey));
}

TEST(ComposeRowPath, JoinsTheBaseFolderWithOneBackslash) {
    std::wstring longBase = L"C:\\" + std::wstring(251, L'b');  // 254 characters
    RowBaseFolders bases{L"C:\\Windows",         L"C:\\Program Files", L"C:\\Users\\Public\\Desktop\\",
                         L"C:\\Users\\Me\\Desktop\\", L"",               L"C:\\ProgramData"};
    RowBaseFolders longBases = bases;
    longBases.allUsersAppData = longBase.c_str();
    std::wstring long259 = L"D:\\" + std::wstring(256, L'x');
    struct Case {
        int base;
        std::wstring relative;
        const RowBaseFolders* folders;
        bool ok;
        std::wstring path;
    } cases[] = {
        {100, L"system32\\x.ocx", &bases, true, L"C:\\Windows\\system32\\x.ocx"},
        {101, L"Orlyn", &bases, true, L"C:\\Program Files\\Orlyn"},
        // The folder fields that end in a backslash get no second one.
        {102, L"TSL.lnk", &bases, true, L"C:\\Users\\Public\\Desktop\\TSL.lnk"},
        {103, L"TSL.lnk", &bases, true, L"C:\\Users\\Me\\Desktop\\TSL.lnk"},
        {104, L"TSL", &bases, false, L""},  // an empty base would make a path on the current drive
        {105, L"Orlyn\\Common", &bases, true, L"C:\\ProgramData\\Orlyn\\Common"},
        {106, L"D:\\Games\\Plug\\KVData", &bases, true, L"D:\\Games\\Plug\\KVData"},
        {106, long259, &bases, true, long259},
        {105, std::wstring(4, L'y'), &longBases, true, longBase + L"\\yyyy"},   // 259 characters
        {105, std::wstring(5, L'y'), &longBases, false, L""},                  // 260: does not fit
        {107, L"x", &bases, false, L""},
        {99, L"x", &bases, false, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base);
        SCOPED_TRACE(orlyn::ToUtf8(c.relative));
        PathRow row;
        ASSERT_TRUE(MakePathRow(c.base, c.relative.c_str(), row));
        wchar_t out[MAX_PATH];
        out[0] = L'?';
        EXPECT_EQ(ComposeRowPath(row, *c.folders, out, MAX_PATH), c.ok);
        EXPECT_EQ(std::wstring(out), c.path);
    }
    // Through the repair context's folder fields.
    CRepairContext context;
    orlyn::CopyFixed(context.allUsersAppDataFolder, MAX_PATH, L"C:\\ProgramData");
    PathRow row;
    ASSERT_TRUE(MakePathRow(105, L"Orlyn\\TSL", row));
    wchar_t out[MAX_PATH];
    ASSERT_TRUE(ComposeRowPath(context, row, out, MAX_PATH));
    EXPECT_EQ(std::wstring(out), L"C:\\ProgramData\\Orlyn\\TSL");
}

TEST(RemovalRows, TextThatDoesNotFitIsRefused) {
    ProcessRow process;
    EXPECT_TRUE(MakeProcessRow(std::wstring(259, L'a').c_str(), process));
    EXPECT_FALSE(MakeProcessRow(std::wstring(260, L'a').c_str(), process));
    RegistryRow reg;
    EXPECT_TRUE(MakeValueRow(201, std::wstring(255, L'k').c_str(), std::wstring(255, L'v').c_str(), reg));
    EXPECT_FALSE(MakeValueRow(201, std::wstring(256, L'k').c_str(), L"v", reg));
    EXPECT_FALSE(MakeKeyRow(200, std::wstring(256, L'k').c_str(), reg));
    reg.rootKey = 7;  // unknown codes mean HKLM
    EXPECT_EQ(RegistryRowRoot(reg), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(std::wstring(RegistryRowPrefix(reg)), L"HKLM\\");
}
