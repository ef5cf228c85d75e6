#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/repair_context.h"
#include "build_settings.h"
#include "browser/custom_scheme.h"
#include "common/registry.h"
#include "common/string_format.h"
#include "diagnostics/access_report.h"
#include "install/machine_key_file.h"
#include "install/payload_manifest_parse.h"
#include "install/system_registrations.h"
#include "support/temp_log.h"
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
class InstallContext : public TempLogContext<> {
public:
    InstallContext() : TempLogContext(L"inst") {
        orlyn::CopyFixed(windowsFolder, MAX_PATH, (dir() / L"Windows").c_str());
        orlyn::CopyFixed(programFilesFolder, MAX_PATH, (dir() / L"Program Files").c_str());
        orlyn::CopyFixed(allUsersAppDataFolder, MAX_PATH, (dir() / L"ProgramData").c_str());
    }
    HWND OwnerWindow() const override { return owner; }
    std::wstring AppData() const { return allUsersAppDataFolder; }

    HWND owner = nullptr;  // the dialog, for the boxes it owns
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

// Removes what an install writes outside the test's folder, before and after a test.
class InstallTraces {
public:
    InstallTraces() {
        wchar_t appData[MAX_PATH] = {};
        ::SHGetSpecialFolderPathW(nullptr, appData, CSIDL_COMMON_APPDATA, FALSE);
        orlynData_ = std::wstring(appData) + L"\\Orlyn";
        hadOrlynData_ = FolderExists(orlynData_);
        hadPreApproved64_ = KeyExists(HKEY_LOCAL_MACHINE, PreApprovedParent(), KEY_WOW64_64KEY);
        Clean();
    }
    ~InstallTraces() {
        Clean();
        // The product folder and the machine key file's folder, where the install made them.
        if (!hadOrlynData_) DeleteTree(orlynData_);
        // The 64-bit view's PreApproved key, and the keys above the product key (maker_), where the install
        // made them: later tests look for their absence.
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
    MakerKeyScope maker_;
    bool hadPreApproved64_ = false;
    bool hadOrlynData_ = false;
};

// The install routine initialises COM itself, so it runs on a thread of its own as on the worker. This
// thread serves its messages meanwhile, as the dialog thread does: a box shown by the worker disables its
// owner window, which waits on the thread that made the window.
bool RunInstall(InstallContext& ctx) {
    bool result = false;
    orlyn::UniqueHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE doneEvent = done.get();
    std::thread worker([&] {
        result = ctx.InstallModule();
        ::SetEvent(doneEvent);
    });
    while (::MsgWaitForMultipleObjects(1, &doneEvent, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
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
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kPolicyRoot) + L"{OrlynTestPolicy}", KEY_WOW64_64KEY));
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
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kPolicyRoot) + L"{OrlynTestPolicy}"))
        << "the 64-bit program's policy is not in the 32-bit view";
}

// Without the PreApproved key the five keys of the default view are skipped. Under WOW64 the two keys
// of the 64-bit view are made all the same: that step creates its path in the 64-bit view.
TEST(RegisterPreApprovedControls, WithoutThePreApprovedKeyMakesNoKeyAndStillSucceeds) {
    InstallTraces traces;
    const std::wstring parent(kPreApproved, wcslen(kPreApproved) - 1);
    if (KeyExists(HKEY_LOCAL_MACHINE, parent)) GTEST_SKIP() << "the system has the PreApproved key";
    const bool hadParent64 = KeyExists(HKEY_LOCAL_MACHINE, parent, KEY_WOW64_64KEY);
    InstallContext ctx;
    EXPECT_TRUE(ctx.RegisterPreApprovedControls());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, parent));
    std::vector<std::wstring> expected;
    if (ctx.IsWow64()) {
        for (const wchar_t* clsid : kControls64) {
            expected.push_back(std::wstring(L"OK\t") + clsid + L" 64bit 레지스트리를 등록하였습니다.");
            EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kPreApproved + std::wstring(clsid), KEY_WOW64_64KEY));
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
                EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPreApproved + std::wstring(clsid), KEY_WOW64_64KEY));
            }
        }
        for (const wchar_t* clsid : kControls64) {
            EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, kPreApproved + std::wstring(clsid), KEY_WOW64_64KEY),
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

namespace {

const wchar_t kBannerRule[] = L"=========================";
const std::wstring kReportRule(55, L'=');
const wchar_t kMakerKey[] = L"SOFTWARE\\Orlyn";

// A key made for the test and left with read access only, so that opening it for writing is refused;
// opened up again and deleted at the end.
class ReadOnlyKey {
public:
    ReadOnlyKey(HKEY root, std::wstring path, REGSAM view = 0) : root_(root), path_(std::move(path)), view_(view) {
        orlyn::UniqueHkey key;
        EXPECT_EQ(::RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr, key.put(),
                                    nullptr),
                  ERROR_SUCCESS);
        SetKeyAclForTest(root_, path_, L"D:P(A;;KR;;;WD)(A;;KR;;;BA)", view_);
    }
    ~ReadOnlyKey() {
        SetKeyAclForTest(root_, path_, L"D:(A;;KA;;;BA)(A;;KA;;;WD)", view_);
        DeleteRegTreeForTest(root_, path_, view_);
    }
    ReadOnlyKey(const ReadOnlyKey&) = delete;
    ReadOnlyKey& operator=(const ReadOnlyKey&) = delete;

private:
    HKEY root_;
    std::wstring path_;
    REGSAM view_;
};

// The PreApproved key itself, made for the test when the system lacks it.
class PreApprovedParent {
public:
    PreApprovedParent() : path_(kPreApproved, wcslen(kPreApproved) - 1) {
        made_ = !KeyExists(HKEY_LOCAL_MACHINE, path_);
        orlyn::UniqueHkey key;
        EXPECT_EQ(orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, path_.c_str(), KEY_ALL_ACCESS, orlyn::RegView::Default, key),
                  ERROR_SUCCESS);
    }
    ~PreApprovedParent() {
        if (made_) DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, path_);
    }

private:
    std::wstring path_;
    bool made_ = false;
};

// The report's lines for the user section, as this machine gives them (who runs the test is not ours to
// fix).
struct UserSection {
    std::wstring report, errors;
    UserSection() { WriteUserInfo(report, errors); }
};

void AppendPieces(std::vector<std::wstring>& to, const std::wstring& text) {
    for (const std::wstring& piece : SplitLogPieces(text)) to.push_back(piece);
}

bool IsAccessEntryLine(const std::wstring& line) {
    bool lead = line.rfind(L"Allowed to: ", 0) == 0 || line.rfind(L"Denied from: ", 0) == 0;
    return lead && line.size() >= 6 && line.compare(line.size() - 6, 2, L" [") == 0 && line.back() == L']';
}

// Compares the whole log, line for line; "<entries>" stands for the access-entry lines of one target,
// which must include the line given after it in `mustHave`.
void ExpectExactLog(const std::vector<std::wstring>& expected, const std::vector<std::wstring>& actual,
                    const std::wstring& mustHave = L"") {
    size_t a = 0;
    for (size_t e = 0; e < expected.size(); ++e) {
        SCOPED_TRACE(testing::Message() << "expected line " << e << ", log line " << a);
        ASSERT_LT(a, actual.size()) << "the log ends early, before " << orlyn::ToUtf8(expected[e]);
        if (expected[e] == L"<entries>") {
            bool found = false;
            const size_t first = a;
            while (a < actual.size() && IsAccessEntryLine(actual[a])) found |= actual[a++] == mustHave;
            EXPECT_LT(first, a) << "no entry lines";
            EXPECT_TRUE(mustHave.empty() || found) << "no line " << orlyn::ToUtf8(mustHave);
            continue;
        }
        EXPECT_EQ(orlyn::ToUtf8(expected[e]), orlyn::ToUtf8(actual[a]));
        ++a;
    }
    EXPECT_EQ(a, actual.size()) << "lines after the expected ones, the first: "
                                << (a < actual.size() ? orlyn::ToUtf8(actual[a]) : "");
}

std::vector<std::wstring> Banner() { return {L"", kBannerRule, L"   신규 모듈 설치 루틴", kBannerRule}; }

}  // namespace

TEST(InstallModule, AWholeInstallWritesExactlyTheseLinesInThisOrder) {
    // The maker's key is the access report's source; the test needs it to itself.
    MakerKeyScope makerKey;  // removed at the end when the test made it
    if (makerKey.existedBefore()) {
        orlyn::UniqueHkey maker;
        DWORD subkeys = 0, values = 0;
        ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMakerKey, 0, KEY_READ, maker.put()), ERROR_SUCCESS);
        ASSERT_EQ(::RegQueryInfoKeyW(maker.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                     nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        if (subkeys || values) GTEST_SKIP() << "HKLM\\SOFTWARE\\Orlyn has content on this machine";
    }
    InstallTraces traces;
    PreApprovedParent preApproved;
    ScriptedMessageBoxes boxes;  // the sign-on server's warning
    TempDir game(L"game");
    const std::wstring gameExe = game / L"game.exe";
    ASSERT_TRUE(WriteFileBytes(gameExe, "MZ"));
    const std::wstring gameKey = std::wstring(kMakerKey) + L"\\Game";
    struct GameKeyCleanup {
        std::wstring path;
        ~GameKeyCleanup() { DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, path); }
    } gameKeyCleanup{gameKey};
    {
        orlyn::UniqueHkey key;
        ASSERT_EQ(orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, gameKey.c_str(), KEY_ALL_ACCESS, orlyn::RegView::Default,
                                      key),
                  ERROR_SUCCESS);
        ASSERT_EQ(orlyn::SetRegString(key.get(), L"RootPath", game.path().c_str()), ERROR_SUCCESS);
        ASSERT_EQ(orlyn::SetRegString(key.get(), L"Executable", gameExe.c_str()), ERROR_SUCCESS);
    }

    InstallContext ctx;
    struct Window {
        HWND handle = ::CreateWindowExW(0, L"STATIC", L"dialog", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                        nullptr);
        ~Window() { ::DestroyWindow(handle); }
    } dialog;
    ASSERT_NE(dialog.handle, nullptr);
    ctx.owner = dialog.handle;
    ctx.payloadList.entries = {
        Entry(1014, L"$AppData$\\Orlyn\\TSL\\LICENSE.txt", 0),
        Entry(1005, L"$AppData$\\Orlyn\\TSL\\TSL.exe", 1, L"Tessel Hub"),
        Entry(1012, L"$AppData$\\Orlyn\\TSL\\TSL64.exe", 3, L"Tessel Hub (x64)", L"{OrlynTestPolicy}"),
    };
    // What the module check's access report left: the targets the grant works on.
    ctx.aclInfo.targets = {AccessTarget{game.path(), {}}, AccessTarget{gameExe, {}}};
    UserSection user;
    EXPECT_TRUE(RunInstall(ctx));

    const std::wstring tsl = ctx.AppData() + L"\\Orlyn\\TSL\\";
    std::vector<std::wstring> expected = Banner();
    for (const std::wstring& line : {
             L"OK\t" + tsl + L"LICENSE.txt 파일을 설치하였습니다.",
             L"OK\t" + tsl + L"TSL.exe 파일을 설치하였습니다.",
             L"OK\t" + tsl + L"TSL.exe 파일을 윈도우 방화벽에 등록하였습니다.",
             L"OK\t" + tsl + L"TSL64.exe 파일을 설치하였습니다.",
             L"OK\t" + tsl + L"TSL64.exe 파일을 윈도우 방화벽에 등록하였습니다.",
             L"OK\t" + tsl + L"TSL64.exe 파일을 등록하였습니다.",
             std::wstring(L"OK\t{080F7E03-AC50-4949-AACA-E79F82D3099F} 레지스트리를 등록하였습니다."),
             std::wstring(L"OK\t{5D605A2B-ACDE-49CD-9642-7B268923ACD9} 레지스트리를 등록하였습니다."),
             std::wstring(L"OK\t{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD} 레지스트리를 등록하였습니다."),
             std::wstring(L"OK\t{871D8DC2-84A4-4D1F-99D5-2A4E3BE2E87C} 레지스트리를 등록하였습니다."),
             std::wstring(L"OK\t{A7B202AB-A508-4235-9C97-C25799782590} 레지스트리를 등록하였습니다."),
             // Only a 32-bit process on 64-bit Windows writes the two 64-bit keys (the i686 run).
             std::wstring(ctx.IsWow64() ? L"OK\t{E16C6003-9217-4626-83B0-757C9EA47E53} 64bit 레지스트리를 등록하였습니다."
                                        : L"<no 64-bit key>"),
             std::wstring(ctx.IsWow64() ? L"OK\t{EF9547D2-97F6-412f-A886-BABD7005A4D8} 64bit 레지스트리를 등록하였습니다."
                                        : L"<no 64-bit key>"),
             std::wstring(L"OK\t신규 모듈 설치에 성공하였습니다."),
             std::wstring(L"OK\t데이터 파일 생성에 성공하였습니다."),
             // The reachability message is one entry with its own CR LF line ends: its second line has
             // no timestamp.
             std::wstring(ORLYN_SIGNON_HOST) + L" DNS 조회에 실패하였습니다.(11001)",
             std::wstring(L"로그인이 실패할 경우 네트워크 관리자에게 문의하세요."),
             std::wstring(L"OK\tACL data 변경 작업 완료하였습니다."),
             std::wstring(L""),
             // The second access-control report: the maker's key names the two targets again.
             std::wstring(L"**Access Control Lists"),
             std::wstring(L""),
             kReportRule,
             std::wstring(L"**에러 내역"),
             std::wstring(L""),
         }) {
        if (line != L"<no 64-bit key>") expected.push_back(line);
    }
    AppendPieces(expected, user.errors + L"SOFTWARE\\Orlyn - RootPath : No Data\n"
                                         L"SOFTWARE\\Orlyn - Executable : No Data\n");
    expected.insert(expected.end(), {kReportRule, L""});
    std::vector<std::wstring> userLines = SplitLogPieces(user.report);
    userLines.pop_back();  // the report text goes on after the user section
    expected.insert(expected.end(), userLines.begin(), userLines.end());
    for (const std::wstring& target : {game.path(), gameExe})
        expected.insert(expected.end(), {kReportRule, L"Target Name : " + target, L"", L"<entries>", kReportRule, L""});
    expected.push_back(L"");  // the piece after the report's last line feed
    // Each target now lets Everyone read, write and execute.
    ExpectExactLog(expected, ctx.Messages(), L"Allowed to: Everyone [RWX]");

    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Calls()[0].text, std::wstring(ORLYN_SIGNON_HOST) +
                                         L" DNS 조회에 실패하였습니다.(11001)\r\n로그인이 실패할 경우 네트워크 "
                                         L"관리자에게 문의하세요.\r\n");
    EXPECT_EQ(boxes.Calls()[0].caption, L"오를린 에러복구 프로그램");
    EXPECT_EQ(boxes.Calls()[0].flags, static_cast<UINT>(MB_OK | MB_ICONWARNING));
    EXPECT_EQ(boxes.Calls()[0].owner, dialog.handle) << "the warning is owned by the dialog";
    EXPECT_EQ(ctx.aclInfo.targets.size(), 2u);
}

TEST(InstallModule, AFailedRegistrationOrPreApprovalEndsTheInstallWithExactlyTheseLines) {
    const std::wstring policyKey = std::wstring(kPolicyRoot) + L"{OrlynTestPolicy}";
    const std::wstring lockedControl = kPreApproved + std::wstring(L"{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}");
    const std::wstring lockedControl64 = kPreApproved + std::wstring(L"{E16C6003-9217-4626-83B0-757C9EA47E53}");
    struct Case {
        const char* name;
        std::vector<PayloadEntry> entries;
        const std::wstring* lockedKey;  // nullptr: none
        bool needsWow64;                // the 64-bit keys are written only by a 32-bit process on 64-bit Windows
        std::vector<std::wstring> lines;  // after the banner; "<tsl>" stands for the product folder
    } cases[] = {
        {"COM server that does not load",
         {Entry(1014, L"$AppData$\\Orlyn\\TSL\\NotALibrary.dll", 2),
          Entry(1014, L"$AppData$\\Orlyn\\TSL\\LICENSE.txt", 0)},
         nullptr,
         false,
         {L"OK\t<tsl>NotALibrary.dll 파일을 설치하였습니다.", L"Error\t<tsl>NotALibrary.dll 파일을 등록하지 못하였습니다.",
          L"Error\tLoadLibraryEx Failed(193)", L"OK\t<tsl>LICENSE.txt 파일을 설치하였습니다.",
          L"Error\t신규 모듈 설치에 실패하였습니다."}},
        {"elevation policy refused",
         {Entry(1012, L"$AppData$\\Orlyn\\TSL\\TSL64.exe", 3, L"Tessel Hub (x64)", L"{OrlynTestPolicy}"),
          Entry(1014, L"$AppData$\\Orlyn\\TSL\\LICENSE.txt", 0)},
         &policyKey,
         false,
         {L"OK\t<tsl>TSL64.exe 파일을 설치하였습니다.", L"OK\t<tsl>TSL64.exe 파일을 윈도우 방화벽에 등록하였습니다.",
          L"Error\t<tsl>TSL64.exe 파일을 등록하지 못하였습니다.", L"OK\t<tsl>LICENSE.txt 파일을 설치하였습니다.",
          L"Error\t신규 모듈 설치에 실패하였습니다."}},
        {"pre-approval key refused",
         {Entry(1014, L"$AppData$\\Orlyn\\TSL\\LICENSE.txt", 0)},
         &lockedControl,
         false,
         {L"OK\t<tsl>LICENSE.txt 파일을 설치하였습니다.",
          L"OK\t{080F7E03-AC50-4949-AACA-E79F82D3099F} 레지스트리를 등록하였습니다.",
          L"OK\t{5D605A2B-ACDE-49CD-9642-7B268923ACD9} 레지스트리를 등록하였습니다.",
          L"Error\t{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD} 레지스트리를 등록하지 못하였습니다.",
          L"Error\t신규 모듈 설치에 실패하였습니다."}},
        {"64-bit pre-approval key refused",
         {},
         &lockedControl64,
         true,
         {L"OK\t{080F7E03-AC50-4949-AACA-E79F82D3099F} 레지스트리를 등록하였습니다.",
          L"OK\t{5D605A2B-ACDE-49CD-9642-7B268923ACD9} 레지스트리를 등록하였습니다.",
          L"OK\t{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD} 레지스트리를 등록하였습니다.",
          L"OK\t{871D8DC2-84A4-4D1F-99D5-2A4E3BE2E87C} 레지스트리를 등록하였습니다.",
          L"OK\t{A7B202AB-A508-4235-9C97-C25799782590} 레지스트리를 등록하였습니다.",
          L"Error\t{E16C6003-9217-4626-83B0-757C9EA47E53} 64bit 레지스트리를 등록하지 못하였습니다.",
          L"Error\t신규 모듈 설치에 실패하였습니다."}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        InstallTraces traces;
        PreApprovedParent preApproved;
        InstallContext ctx;
        if (c.needsWow64 && !ctx.IsWow64()) continue;  // the i686 run takes this case
        std::unique_ptr<ReadOnlyKey> locked;
        if (c.lockedKey)
            locked = std::make_unique<ReadOnlyKey>(HKEY_LOCAL_MACHINE, *c.lockedKey,
                                                   c.needsWow64 ? KEY_WOW64_64KEY : 0);
        ctx.payloadList.entries = c.entries;
        EXPECT_FALSE(RunInstall(ctx));

        const std::wstring tsl = ctx.AppData() + L"\\Orlyn\\TSL\\";
        std::vector<std::wstring> expected = Banner();
        for (std::wstring line : c.lines) {
            size_t at = line.find(L"<tsl>");
            if (at != std::wstring::npos) line.replace(at, 5, tsl);
            expected.push_back(line);
        }
        ExpectExactLog(expected, ctx.Messages());
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, orlyn::FormatString(kUninstallKeyFormat, kProductCode)));
        EXPECT_FALSE(InstallTraces::MachineKeyFileExists());
    }
}
