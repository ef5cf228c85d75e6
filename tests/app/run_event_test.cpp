#include <gtest/gtest.h>

#include "app/protected_files.h"
#include "app/run_event.h"
#include "app/run_finish.h"
#include "app/run_result.h"
#include "common/registry.h"
#include "common/string_format.h"
#include "framework/unattended.h"
#include "scripted_repair_dlg.h"
#include "support/acl_check.h"
#include "support/test_support.h"

using testing_support::ReadFileBytes;
using testing_support::TempDir;

namespace {

const wchar_t kFields[] =
    L"\r\n종료 코드: 1603\r\n실행 방식: quiet\r\n실패한 단계: 기존 모듈 삭제\r\n재시작 후 이어서 실행: 예\r\n로그 파일: "
    L"C:\\Users\\Public\\Desktop\\OrlynRepair.log\r\n";
const wchar_t* const kArguments[] = {L"1603", L"quiet", L"기존 모듈 삭제", L"예",
                                     L"C:\\Users\\Public\\Desktop\\OrlynRepair.log"};

// Each outcome's exit code, the entry it leaves and its message text (with kArguments inserted).
struct Outcome {
    int exitCode;
    WORD shownId;
    WORD type;
    const wchar_t* headline;
};
const Outcome kOutcomes[] = {
    {0, 1000, EVENTLOG_INFORMATION_TYPE, L"복구에 성공했습니다."},
    {3010, 1001, EVENTLOG_WARNING_TYPE,
     L"복구를 마치려면 컴퓨터를 재시작해야 합니다. 재시작 후 본 프로그램이 자동으로 복구를 이어서 진행합니다."},
    {1641, 1002, EVENTLOG_WARNING_TYPE,
     L"복구를 마치기 위해 컴퓨터를 재시작합니다. 재시작 후 본 프로그램이 자동으로 복구를 이어서 진행합니다."},
    {1603, 1003, EVENTLOG_ERROR_TYPE, L"복구에 실패했습니다."},
    {1602, 1004, EVENTLOG_ERROR_TYPE, L"복구가 취소되었습니다."},
    {1618, 1005, EVENTLOG_WARNING_TYPE, L"다른 복구가 진행 중이어서 아무것도 하지 않고 종료했습니다."},
    {87, 1003, EVENTLOG_ERROR_TYPE, L"복구에 실패했습니다."},
};

// The message as the event viewer shows it; empty when the module has none of that ID.
std::wstring FormatFrom(HMODULE module, DWORD messageId) {
    wchar_t* text = nullptr;
    DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER, module,
        messageId, 0, reinterpret_cast<wchar_t*>(&text), 0,
        reinterpret_cast<va_list*>(const_cast<wchar_t**>(kArguments)));
    std::wstring result = length ? std::wstring(text, length) : std::wstring();
    ::LocalFree(text);
    return result;
}

// Deletes the event source's registration at the start and at the end of the scope.
class RegistrationScope {
public:
    RegistrationScope() { Remove(); }
    ~RegistrationScope() { Remove(); }
    static void Remove() {
        orlyn::UniqueHkey key;
        if (orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, run_event::kRegistrationKey, READ_CONTROL, orlyn::RegView::Default,
                              key) != ERROR_SUCCESS)
            return;
        testing_support::SetKeyAclForTest(HKEY_LOCAL_MACHINE, run_event::kRegistrationKey, L"D:(A;;KA;;;WD)");
        (void)orlyn::DeleteRegKey(HKEY_LOCAL_MACHINE, run_event::kRegistrationKey, orlyn::RegView::Default);
    }
};

}  // namespace

TEST(RunEvent, EachOutcomeHasItsEventAndItsTextsByteForByteInTheProgramTheLibraryAndTheirResources) {
    std::wstring bin = testing_support::TestProgramFolder();
    orlyn::UniqueLibrary program(
        ::LoadLibraryExW((bin + L"\\OrlynRepair.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    orlyn::UniqueLibrary library(
        ::LoadLibraryExW((bin + L"\\OrlynRepairEvents.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(program);
    ASSERT_TRUE(library);
    struct Module {
        const char* name;
        HMODULE module;
    } modules[] = {{"OrlynRepair.exe", program.get()},
                   {"OrlynRepairEvents.dll", library.get()},
                   {"this test program", ::GetModuleHandleW(nullptr)}};
    for (const Outcome& outcome : kOutcomes) {
        SCOPED_TRACE(outcome.exitCode);
        run_event::EventKind kind = run_event::EventFor(outcome.exitCode);
        EXPECT_EQ(run_event::ShownEventId(kind.messageId), outcome.shownId);
        EXPECT_EQ(kind.type, outcome.type);
        for (const Module& module : modules) {
            SCOPED_TRACE(module.name);
            EXPECT_EQ(FormatFrom(module.module, kind.messageId), std::wstring(outcome.headline) + kFields);
        }
    }
}

TEST(RunEvent, InsertionStringsNameThePhaseByTheDialogsStates) {
    struct Case {
        bool sequenceStarted;
        int state;
        int previousState;
        const wchar_t* phase;
    } cases[] = {
        {false, 0, 0, L"초기화"},       {true, 6, 5, L""},
        {true, 7, 1, L"기존 모듈 확인"}, {true, 7, 2, L"기존 모듈 삭제"},
        {true, 7, 5, L"신규 모듈 설치"}, {true, 7, 0, L"알 수 없음"},
        {true, 4, 2, L"기존 모듈 삭제"}, {true, 3, 2, L"캐시 정리"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.state << " after " << c.previousState);
        EXPECT_EQ(run_event::PhaseOf(c.sequenceStarted, c.state, c.previousState), c.phase);
    }
    run_event::RunFacts facts;
    facts.exitCode = 3010;
    facts.mode = RunMode::Passive;
    facts.failedPhase = L"기존 모듈 삭제";
    facts.resumed = true;
    facts.logPath = L"C:\\Users\\Public\\Desktop\\OrlynRepair.log";
    EXPECT_EQ(run_event::InsertionStrings(facts),
              (std::vector<std::wstring>{L"3010", L"passive", L"기존 모듈 삭제", L"예", facts.logPath}));
    EXPECT_EQ(run_event::InsertionStrings(run_event::RunFacts()),
              (std::vector<std::wstring>{L"0", L"interactive", L"없음", L"아니요", L"없음"}));
    EXPECT_STREQ(run_event::ModeName(RunMode::Quiet), L"quiet");
}

TEST(RunEvent, RegistersTheSourceWithTheLibraryInTheProtectedFolderWhichLoadsOnItsOwn) {
    RegistrationScope registration;
    TempDir root(L"appdata");
    std::wstring library = protected_files::FilePath(root.path(), protected_files::kEventMessageDllName);
    // A file of that name that someone else left there is replaced.
    ASSERT_TRUE(testing_support::CreateFolders(protected_files::FolderPath(root.path())));
    ASSERT_TRUE(testing_support::WriteFileBytes(library, "MZ planted"));

    EXPECT_EQ(run_event::RegisterEventSource(root.path()), std::vector<std::wstring>());
    EXPECT_EQ(ReadFileBytes(library), ReadFileBytes(testing_support::FixturePath(L"OrlynRepairEvents.dll")));
    acl_check::ExpectOnlyAdministratorsMayChange(library);
    orlyn::UniqueHkey key;
    ASSERT_EQ(orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, run_event::kRegistrationKey, KEY_READ, orlyn::RegView::Default, key),
              ERROR_SUCCESS);
    wchar_t named[MAX_PATH] = {};
    DWORD type = 0, bytes = sizeof(named);
    ASSERT_EQ(::RegQueryValueExW(key.get(), L"EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(named), &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(std::wstring(named), library);
    DWORD types = 0;
    bytes = sizeof(types);
    ASSERT_EQ(::RegQueryValueExW(key.get(), L"TypesSupported", nullptr, &type, reinterpret_cast<BYTE*>(&types), &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(types, static_cast<DWORD>(EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE));

    // The library the registration names holds the messages by itself.
    orlyn::UniqueLibrary loaded(::LoadLibraryExW(library.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(FormatFrom(loaded.get(), run_event::EventFor(0).messageId),
              std::wstring(L"복구에 성공했습니다.") + kFields);
    loaded.reset();
    // Registered already: nothing to do.
    EXPECT_EQ(run_event::RegisterEventSource(root.path()), std::vector<std::wstring>());
    // Under Wine the entry itself is only traced (the end-to-end runs read it there).
    EXPECT_EQ(run_event::ReportRun(run_event::RunFacts()), std::vector<std::wstring>());
}

TEST(RunEvent, ARefusedRegistrationGoesToTheRepairLogAndTheEntryIsStillReported) {
    RegistrationScope registration;
    TempDir root(L"appdata");
    orlyn::UniqueHkey made;
    ASSERT_EQ(orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, run_event::kRegistrationKey, KEY_ALL_ACCESS,
                                  orlyn::RegView::Default, made),
              ERROR_SUCCESS);
    made.reset();
    testing_support::SetKeyAclForTest(HKEY_LOCAL_MACHINE, run_event::kRegistrationKey, L"D:P(A;;KR;;;WD)");
    std::vector<std::wstring> failures = run_event::RegisterEventSource(root.path());
    EXPECT_EQ(failures, (std::vector<std::wstring>{L"Error\t이벤트 로그 등록 실패 : 레지스트리 키를 만들 수 없습니다",
                                                   L"\t## 에러 코드 = 5 ##"}));
    EXPECT_EQ(run_event::ReportRun(run_event::RunFacts()), std::vector<std::wstring>());

    // Added to the log where the run left it, after what the run wrote.
    std::wstring log = root / L"OrlynRepair.log";
    ASSERT_TRUE(testing_support::WriteFileBytes(log, "\xEF\xBB\xBF" "2026-01-01 00:00:00\tOK\tlast line\r\n"));
    ASSERT_TRUE(run_finish::AppendLogEntries(log, failures));
    std::vector<std::wstring> raw;
    bool bom = false;
    std::vector<std::wstring> messages = testing_support::ReadLogMessages(log, &raw, &bom);
    EXPECT_TRUE(bom);
    EXPECT_EQ(messages, (std::vector<std::wstring>{L"OK\tlast line", failures[0], failures[1]}));
    EXPECT_FALSE(run_finish::AppendLogEntries(root / L"missing.log", failures)) << "a log that is gone is not made";
    EXPECT_FALSE(testing_support::FileExists(root / L"missing.log"));
}

TEST(RunEvent, FactsOfARunComeFromHowItsDialogEnded) {
    app_tests::RepairRunScope scope;
    testing_support::TempDir dir(L"logcopy");
    struct Case {
        const char* what;
        int failingInitStep;
        int failingState;
        std::wstring logCopy;
        int exitCode;
        std::wstring phase;
        std::wstring logPath;
    } cases[] = {
        {"install fails", 0, 5, L"", 1603, L"신규 모듈 설치", app_tests::DesktopLogPath()},
        {"initialisation fails, with /log", 2, 0, dir / L"copy.log", 1603, L"초기화", dir / L"copy.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        unattended::Settings settings;
        settings.mode = RunMode::Quiet;
        settings.logCopyPath = c.logCopy;
        unattended::Configure(settings);
        app_tests::ScriptedRepairDlg dialog;
        dialog.SetMessageOnly(true);
        dialog.failingInitStep = c.failingInitStep;
        int failingState = c.failingState;
        dialog.phase = [failingState](app_tests::ScriptedRepairDlg&, int state, int) { return state != failingState; };
        run_result::RunEnd end;
        end.started = true;
        end.dialogRan = dialog.DoModal() != -1;
        end.sequenceStarted = dialog.sequenceStarted != 0;
        end.sequenceState = dialog.sequenceState;
        int exitCode = run_result::ExitCodeFor(end);
        EXPECT_EQ(exitCode, c.exitCode);
        run_event::RunFacts facts = run_finish::FactsOf(end, dialog, exitCode);
        EXPECT_EQ(facts.exitCode, c.exitCode);
        EXPECT_EQ(facts.mode, RunMode::Quiet);
        EXPECT_EQ(facts.failedPhase, c.phase);
        EXPECT_FALSE(facts.resumed);
        EXPECT_EQ(facts.logPath, c.logPath);
        unattended::Reset();
        ::DeleteFileW(app_tests::DesktopLogPath().c_str());
    }
}

TEST(RunEvent, ACopyThatStandsDownReportsOnlyItsEntry) {
    RegistrationScope registration;
    std::wstring folder = protected_files::FolderPath(protected_files::AllUsersAppDataFolder());
    DWORD before = ::GetFileAttributesW(folder.c_str());
    unattended::Settings settings;
    settings.mode = RunMode::Passive;
    unattended::Configure(settings);
    run_finish::ReportStandDown();
    unattended::Reset();
    // Another run is at work: neither the registration nor the protected folder is touched.
    orlyn::UniqueHkey key;
    EXPECT_EQ(orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, run_event::kRegistrationKey, KEY_READ, orlyn::RegView::Default, key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(::GetFileAttributesW(folder.c_str()), before);
    EXPECT_EQ(run_event::ShownEventId(run_event::EventFor(1618).messageId), 1005);
}
