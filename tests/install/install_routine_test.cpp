#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "app/repair_context.h"
#include "browser/custom_scheme.h"
#include "common/registry.h"
#include "common/string_format.h"
#include "install/machine_key_file.h"
#include "install/payload_manifest_parse.h"
#include "install/system_registrations.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const wchar_t kPreApproved[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved\\";
const wchar_t* const kDefaultControls[] = {
    L"{080F7E03-AC50-4949-AACA-E79F82D3099F}", L"{5D605A2B-ACDE-49CD-9642-7B268923ACD9}",
    L"{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}", L"{871D8DC2-84A4-4D1F-99D5-2A4E3BE2E87C}",
    L"{A7B202AB-A508-4235-9C97-C25799782590}"};
const wchar_t* const kControls64[] = {L"{E16C6003-9217-4626-83B0-757C9EA47E53}",
                                      L"{EF9547D2-97F6-412f-A886-BABD7005A4D8}"};
const wchar_t kPolicyRoot[] = L"SOFTWARE\\Microsoft\\Internet Explorer\\Low Rights\\ElevationPolicy\\";

// A repair context whose folders and log live in a temporary folder. Its WOW64 answer is the real one:
// true in the i686 run (the shipped 32-bit program under WoW64), false in the x86_64 run, which takes the
// branches of a system without WOW64.
class InstallContext : public CRepairContext {
public:
    InstallContext() : dir_(L"inst") {
        orlyn::CopyFixed(windowsFolder, MAX_PATH, (dir_ / L"Windows").c_str());
        orlyn::CopyFixed(programFilesFolder, MAX_PATH, (dir_ / L"Program Files").c_str());
        orlyn::CopyFixed(allUsersAppDataFolder, MAX_PATH, (dir_ / L"ProgramData").c_str());
        OpenLog((dir_ / L"OrlynRepair.log").c_str());
    }
    ~InstallContext() override { CloseLog(); }
    std::vector<std::wstring> Messages() { return ReadLogMessages(dir_ / L"OrlynRepair.log"); }
    std::wstring AppData() const { return allUsersAppDataFolder; }

private:
    TempDir dir_;
};

PayloadEntry Entry(WORD id, const wchar_t* target, int action, const wchar_t* name = L"",
                   const wchar_t* policy = L"") {
    PayloadEntry e{};
    e.resourceId = id;
    orlyn::CopyFixed(e.fileName, 256, L"file");
    orlyn::CopyFixed(e.targetPath, 260, target);
    e.installAction = action;
    orlyn::CopyFixed(e.displayName, 256, name);
    orlyn::CopyFixed(e.policyKey, 512, policy);
    return e;
}

bool KeyExists(HKEY root, const std::wstring& path, orlyn::RegView view = orlyn::RegView::Default) {
    orlyn::UniqueHkey key;
    return orlyn::OpenRegKey(root, path.c_str(), KEY_READ, view, key) == ERROR_SUCCESS;
}

// Removes what an install writes outside the test's folder, before and after a test.
class InstallTraces {
public:
    InstallTraces() {
        wchar_t appData[MAX_PATH] = {};
        ::SHGetSpecialFolderPathW(nullptr, appData, CSIDL_COMMON_APPDATA, FALSE);
        orlynData_ = std::wstring(appData) + L"\\Orlyn";
        hadOrlynData_ = FolderExists(orlynData_);
        hadMakerKey_ = KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlyn");
        hadPreApproved64_ = KeyExists(HKEY_LOCAL_MACHINE, PreApprovedParent(), orlyn::RegView::Wow64_64);
        Clean();
    }
    ~InstallTraces() {
        Clean();
        // The product folder and the machine key file's folder, where the install made them.
        if (!hadOrlynData_) DeleteTree(orlynData_);
        // The keys above the product key and the 64-bit view's PreApproved key, where the install made
        // them: later tests look for their absence.
        if (!hadMakerKey_) DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlyn");
        if (!hadPreApproved64_) DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, PreApprovedParent(), KEY_WOW64_64KEY);
    }
    static std::wstring PreApprovedParent() { return std::wstring(kPreApproved, wcslen(kPreApproved) - 1); }
    void Clean() {
        for (const wchar_t* clsid : kDefaultControls) DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, kPreApproved + std::wstring(clsid));
        for (const wchar_t* clsid : kControls64)
            DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, kPreApproved + std::wstring(clsid), KEY_WOW64_64KEY);
        DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, orlyn::FormatString(kUninstallKeyFormat, kProductCode));
        DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, std::wstring(kPolicyRoot) + L"{OrlynTestPolicy}");
        DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, std::wstring(kPolicyRoot) + L"{OrlynTestPolicy}", KEY_WOW64_64KEY);
        DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlyn\\TSL");
        (void)CCustomScheme(L"tsl").Unregister();
        wchar_t path[MAX_PATH];
        if (CQrMachineKeyFile::Instance()->MachineKeyFilePath(path)) ::DeleteFileW(path);
    }
    static bool MachineKeyFileExists() {
        wchar_t path[MAX_PATH];
        return CQrMachineKeyFile::Instance()->MachineKeyFilePath(path) && FileExists(path);
    }

private:
    std::wstring orlynData_;
    bool hadMakerKey_ = false;
    bool hadPreApproved64_ = false;
    bool hadOrlynData_ = false;
};

// The install routine initialises COM itself, so it runs on a thread of its own as on the worker.
bool RunInstall(InstallContext& ctx) {
    bool result = false;
    std::thread worker([&] { result = ctx.InstallModule(); });
    worker.join();
    return result;
}

}  // namespace

TEST(InstallPayloadFiles, AnEmptyManifestStillMakesTheFoldersAndSucceeds) {
    InstallContext ctx;
    EXPECT_TRUE(ctx.InstallPayloadFiles());
    EXPECT_TRUE(FolderExists(ctx.windowsFolder));
    EXPECT_TRUE(FolderExists(ctx.AppData() + L"\\Orlyn\\Common"));
    EXPECT_TRUE(FolderExists(ctx.AppData() + L"\\Orlyn\\TSL"));
    EXPECT_EQ(ctx.ReadProgress().phaseItemCount, 0u);
    EXPECT_TRUE(ctx.Messages().empty());
}

TEST(InstallModule, AnEntryThatCannotBeWrittenFailsAfterWritingTheRest) {
    InstallTraces traces;
    InstallContext ctx;
    ctx.payloadList.entries = {
        Entry(1014, L"$AppData$\\Orlyn\\TSL\\LICENSE.txt", 0),
        Entry(4321, L"$AppData$\\Orlyn\\TSL\\missing.bin", 0),  // no such resource
        Entry(1006, L"$AppData$\\Orlyn\\TSL\\TSLDll.dll", 0),
    };
    EXPECT_FALSE(RunInstall(ctx));

    const std::wstring tsl = ctx.AppData() + L"\\Orlyn\\TSL\\";
    EXPECT_TRUE(FileExists(tsl + L"LICENSE.txt"));
    EXPECT_TRUE(FileExists(tsl + L"TSLDll.dll"));
    EXPECT_FALSE(FileExists(tsl + L"missing.bin"));
    auto progress = ctx.ReadProgress();
    EXPECT_EQ(progress.phaseItemCount, 3u);
    EXPECT_EQ(progress.phaseItemsDone, 3u);

    auto messages = ctx.Messages();
    ASSERT_GE(messages.size(), 9u);
    EXPECT_EQ(messages[2], L"   신규 모듈 설치 루틴");
    size_t at = 4;
    while (at < messages.size() && messages[at].find(L"LICENSE.txt") == std::wstring::npos) ++at;
    ASSERT_LT(at + 4, messages.size());
    EXPECT_EQ(messages[at], L"OK\t" + tsl + L"LICENSE.txt 파일을 설치하였습니다.");
    EXPECT_EQ(messages[at + 1], L"Error\t" + tsl + L"missing.bin 파일을 설치하지 못하였습니다.");
    EXPECT_EQ(messages[at + 2].rfind(L"\t## 에러 코드 = ", 0), 0u);
    EXPECT_EQ(messages[at + 3], L"OK\t" + tsl + L"TSLDll.dll 파일을 설치하였습니다.");
    EXPECT_EQ(messages[at + 4], L"Error\t신규 모듈 설치에 실패하였습니다.");

    // Nothing after the payload: no pre-approval keys, no uninstall entry, no machine key file.
    for (const wchar_t* clsid : kDefaultControls)
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPreApproved + std::wstring(clsid)));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, orlyn::FormatString(kUninstallKeyFormat, kProductCode)));
    EXPECT_FALSE(InstallTraces::MachineKeyFileExists());
}

TEST(InstallPayloadFiles, On32BitWindowsThe64BitActionsOnlyWriteTheirFiles) {
    InstallTraces traces;
    InstallContext ctx;
    if (ctx.IsWow64()) GTEST_SKIP() << "under WOW64; the x86_64 run takes this branch";
    ctx.payloadList.entries = {
        Entry(1013, L"$AppData$\\Orlyn\\TSL\\TSLDll64.dll", 5),
        Entry(1012, L"$AppData$\\Orlyn\\TSL\\TSL64.exe", 6, L"Tessel Hub (x64)", L"{OrlynTestPolicy}"),
    };
    EXPECT_TRUE(ctx.InstallPayloadFiles());
    const std::wstring tsl = ctx.AppData() + L"\\Orlyn\\TSL\\";
    EXPECT_EQ(ctx.Messages(), (std::vector<std::wstring>{L"OK\t" + tsl + L"TSLDll64.dll 파일을 설치하였습니다.",
                                                         L"OK\t" + tsl + L"TSL64.exe 파일을 설치하였습니다."}));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kPolicyRoot) + L"{OrlynTestPolicy}",
                           orlyn::RegView::Wow64_64));
}

TEST(InstallPayloadFiles, UnderWow64RegistersWithTheSystemToolAndWritesThe64BitPolicy) {
    InstallTraces traces;
    InstallContext ctx;
    if (!ctx.IsWow64()) GTEST_SKIP() << "not under WOW64; the i686 run takes this branch";
    ctx.payloadList.entries = {
        Entry(1013, L"$AppData$\\Orlyn\\TSL\\TSLDll64.dll", 5),
        Entry(1012, L"$AppData$\\Orlyn\\TSL\\TSL64.exe", 6, L"Tessel Hub (x64)", L"{OrlynTestPolicy}"),
    };
    bool result = false;
    std::thread worker([&] {
        ::CoInitialize(nullptr);  // the firewall objects need an apartment, as on the install worker
        result = ctx.InstallPayloadFiles();
        ::CoUninitialize();
    });
    worker.join();
    EXPECT_TRUE(result);
    const std::wstring tsl = ctx.AppData() + L"\\Orlyn\\TSL\\";
    auto messages = ctx.Messages();
    EXPECT_NE(std::find(messages.begin(), messages.end(), L"OK\t" + tsl + L"TSLDll64.dll 파일을 등록하였습니다."),
              messages.end());
    EXPECT_NE(std::find(messages.begin(), messages.end(), L"OK\t" + tsl + L"TSL64.exe 파일을 등록하였습니다."),
              messages.end());
    orlyn::UniqueHkey policy;
    ASSERT_EQ(orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, (std::wstring(kPolicyRoot) + L"{OrlynTestPolicy}").c_str(),
                                KEY_READ, orlyn::RegView::Wow64_64, policy),
              ERROR_SUCCESS);
    std::wstring appName;
    EXPECT_EQ(orlyn::ReadRegString(policy.get(), L"AppName", 520, appName), ERROR_SUCCESS);
    EXPECT_EQ(appName, L"TSL64.exe");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kPolicyRoot) + L"{OrlynTestPolicy}", orlyn::RegView::Default))
        << "the 64-bit program's policy is not in the 32-bit view";
}

// Without the PreApproved key the five keys of the default view are skipped. Under WOW64 the two keys
// of the 64-bit view are made all the same: that step creates its path in the 64-bit view.
TEST(RegisterPreApprovedControls, WithoutThePreApprovedKeyMakesNoKeyAndStillSucceeds) {
    InstallTraces traces;
    const std::wstring parent(kPreApproved, wcslen(kPreApproved) - 1);
    if (KeyExists(HKEY_LOCAL_MACHINE, parent)) GTEST_SKIP() << "the system has the PreApproved key";
    const bool hadParent64 = KeyExists(HKEY_LOCAL_MACHINE, parent, orlyn::RegView::Wow64_64);
    InstallContext ctx;
    EXPECT_TRUE(ctx.RegisterPreApprovedControls());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, parent));
    std::vector<std::wstring> expected;
    if (ctx.IsWow64()) {
        for (const wchar_t* clsid : kControls64) {
            expected.push_back(std::wstring(L"OK\t") + clsid + L" 64bit 레지스트리를 등록하였습니다.");
            EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kPreApproved + std::wstring(clsid), orlyn::RegView::Wow64_64));
        }
    }
    EXPECT_EQ(ctx.Messages(), expected);
    if (!hadParent64) DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, parent, KEY_WOW64_64KEY);
}

TEST(RegisterPreApprovedControls, MakesTheFiveKeysAndUnderWow64TheTwo64BitOnes) {
    const std::wstring parent(kPreApproved, wcslen(kPreApproved) - 1);
    bool hadParent = KeyExists(HKEY_LOCAL_MACHINE, parent);
    {
        orlyn::UniqueHkey key;
        ASSERT_EQ(orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, parent.c_str(), KEY_ALL_ACCESS, orlyn::RegView::Default, key),
                  ERROR_SUCCESS);
    }
    {
        InstallTraces traces;
        InstallContext ctx;
        const bool wow64 = ctx.IsWow64();
        SCOPED_TRACE(wow64 ? "WOW64" : "without WOW64");
        EXPECT_TRUE(ctx.RegisterPreApprovedControls());
        for (const wchar_t* clsid : kDefaultControls) {
            EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kPreApproved + std::wstring(clsid)));
            // Under WOW64 the default view is the 32-bit one, and the 64-bit view has none of the five.
            if (wow64) {
                EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPreApproved + std::wstring(clsid), orlyn::RegView::Wow64_64));
            }
        }
        for (const wchar_t* clsid : kControls64) {
            EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, kPreApproved + std::wstring(clsid), orlyn::RegView::Wow64_64),
                      wow64);
            orlyn::UniqueHkey view32;
            EXPECT_NE(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kPreApproved + std::wstring(clsid)).c_str(), 0,
                                      KEY_READ | KEY_WOW64_32KEY, view32.put()),
                      ERROR_SUCCESS)
                << "not in the 32-bit view";
        }
        auto messages = ctx.Messages();
        ASSERT_EQ(messages.size(), wow64 ? 7u : 5u);
        EXPECT_EQ(messages[0], std::wstring(L"OK\t") + kDefaultControls[0] + L" 레지스트리를 등록하였습니다.");
        if (wow64) {
            EXPECT_EQ(messages[5], std::wstring(L"OK\t") + kControls64[0] + L" 64bit 레지스트리를 등록하였습니다.");
        }
    }
    if (!hadParent) DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, parent);
}

TEST(InstallModule, AWholeInstallWritesItsLinesInOrderAndKeepsAValidKeyFile) {
    InstallTraces traces;
    ScriptedMessageBoxes boxes;  // the sign-on server cannot be reached here: its warning is answered
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "first install" : "second install");
        InstallContext ctx;
        ctx.payloadList.entries = {Entry(1014, L"$AppData$\\Orlyn\\TSL\\LICENSE.txt", 0)};
        EXPECT_TRUE(RunInstall(ctx));
        auto messages = ctx.Messages();
        auto has = [&](const std::wstring& line) {
            return std::find(messages.begin(), messages.end(), line) != messages.end();
        };
        EXPECT_TRUE(has(L"OK\t신규 모듈 설치에 성공하였습니다."));
        EXPECT_TRUE(has(run == 0 ? L"OK\t데이터 파일 생성에 성공하였습니다." : L"Error\t데이터 파일이 존재합니다."));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, orlyn::FormatString(kUninstallKeyFormat, kProductCode)));
        EXPECT_TRUE(CCustomScheme(L"tsl").IsRegistered(HKEY_LOCAL_MACHINE));
    }
    EXPECT_TRUE(InstallTraces::MachineKeyFileExists());
    ASSERT_EQ(boxes.Count(), 2u);
    EXPECT_EQ(boxes.Calls()[0].caption, L"오를린 에러복구 프로그램");
    EXPECT_EQ(boxes.Calls()[0].flags, static_cast<UINT>(MB_OK | MB_ICONWARNING));
}
