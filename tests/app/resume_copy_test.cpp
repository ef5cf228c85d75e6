#include <gtest/gtest.h>

#include <vector>

#include "app/command_line.h"
#include "app/protected_files.h"
#include "app/resume_copy.h"
#include "app/resume_entry.h"
#include "common/protected_folder.h"
#include "common/registry.h"
#include "common/string_format.h"
#include "framework/unattended.h"
#include "support/acl_check.h"
#include "support/temp_log.h"
#include "support/test_support.h"

using testing_support::FixturePath;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

namespace {

std::wstring OwnProgramPath() {
    wchar_t path[MAX_PATH];
    EXPECT_TRUE(resume_entry::GetProgramPath(path));
    return path;
}

// A context whose close request is only counted.
class ClosingContext : public CRepairContext {
public:
    void PostCloseRequest() override { ++closeRequests; }
    int closeRequests = 0;
};

// Sets the unattended run's settings as the command line would, and resets them at the end of the scope.
class UnattendedScope {
public:
    explicit UnattendedScope(const std::vector<std::wstring>& arguments) {
        CommandLineOptions options = ParseCommandLine(arguments);
        unattended::Settings settings;
        settings.mode = options.mode;
        settings.forceRestart = options.forceRestart;
        settings.logCopyPath = options.logCopyPath;
        settings.resumeSwitches = ResumeSwitches(options);
        unattended::Configure(settings);
    }
    ~UnattendedScope() { unattended::Reset(); }
};

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// The files whose deletion waits for the next restart (the first of each pair of names).
std::vector<std::wstring> PendingDeletions() {
    std::vector<std::wstring> names;
    orlyn::UniqueHkey key;
    if (orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, kSessionManager, KEY_READ, orlyn::RegView::Default, key) != ERROR_SUCCESS)
        return names;
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return names;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, &type,
                           reinterpret_cast<BYTE*>(&text[0]), &size) != ERROR_SUCCESS)
        return names;
    std::vector<std::wstring> all;
    for (size_t at = 0; at < text.size() && text[at];) {
        all.emplace_back(&text[at]);
        at += all.back().size() + 1;
        if (at < text.size() && !text[at] && all.size() % 2 == 1) {  // an empty target: a deletion
            all.emplace_back();
            ++at;
        }
    }
    for (size_t i = 0; i + 1 < all.size(); i += 2) {
        if (all[i + 1].empty()) names.push_back(all[i]);
    }
    return names;
}

void ForgetPendingDeletions() {
    orlyn::UniqueHkey key;
    if (orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, kSessionManager, KEY_ALL_ACCESS, orlyn::RegView::Default, key) ==
        ERROR_SUCCESS)
        ::RegDeleteValueW(key.get(), L"PendingFileRenameOperations");
}

}  // namespace

TEST(ResumeCopy, TheEntryStartsACheckedCopyInTheProtectedFolderWithTheSameSwitches) {
    TempDir root(L"appdata");
    testing_support::TempLogContext<ClosingContext> context(L"copy");
    orlyn::CopyFixed(context.allUsersAppDataFolder, MAX_PATH, root.path().c_str());
    UnattendedScope quiet({L"/quiet", L"/log", L"C:\\logs\\"});
    resume_entry::RemoveResumeEntry();
    testing_support::RecordedSystemCalls calls;
    context.RebootAndResume();
    EXPECT_EQ(calls.RestartCount(), 0) << "/norestart leaves the restart to others";
    EXPECT_EQ(context.closeRequests, 1);

    std::wstring folder = root / L"OrlynRepair";
    std::wstring copy = folder + L"\\OrlynRepair.exe";
    std::wstring command;
    ASSERT_TRUE(resume_entry::ReadResumeEntry(command));
    EXPECT_EQ(command, L"\"" + copy + L"\" --start /quiet /norestart /log \"C:\\logs\\\\\"");
    EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(OwnProgramPath())) << "the copy is not byte-identical";
    acl_check::ExpectOnlyAdministratorsMayChange(folder);
    acl_check::ExpectOnlyAdministratorsMayChange(copy);
    context.CloseLog();
    std::vector<std::wstring> log = context.Messages();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        L"OK\t재시작 후 실행할 프로그램을 보호 폴더에 복사하였습니다 : " + copy),
              log.end());

    // The resumed run, started from the copy, needs another restart: the copy stays where it is.
    std::wstring again;
    DWORD error = 0;
    EXPECT_EQ(resume_copy::MakeResumeCopy(copy.c_str(), root.path(), again, error), resume_copy::Step::None);
    EXPECT_EQ(again, copy);
    // As it ends, it keeps the copy while the entry starts it, and deletes it once the entry has run.
    EXPECT_EQ(resume_copy::RemoveResumeCopy(copy.c_str(), root.path()), resume_copy::Removal::KeptForResume);
    EXPECT_TRUE(testing_support::FileExists(copy));
    ASSERT_TRUE(resume_entry::RemoveResumeEntry());
    EXPECT_EQ(resume_copy::RemoveResumeCopy(copy.c_str(), root.path()), resume_copy::Removal::Deleted);
    EXPECT_FALSE(testing_support::FileExists(copy));
    EXPECT_EQ(resume_copy::RemoveResumeCopy(OwnProgramPath().c_str(), root.path()),
              resume_copy::Removal::NotTheCopy);
}

TEST(ResumeCopy, WithoutACopyTheEntryStartsTheProgramItselfAndTheLogSaysWhy) {
    TempDir root(L"appdata");
    // The protected folder's name is taken by a file.
    ASSERT_TRUE(testing_support::WriteFileBytes(root / L"OrlynRepair", "not a folder"));
    testing_support::TempLogContext<ClosingContext> context(L"copy");
    orlyn::CopyFixed(context.allUsersAppDataFolder, MAX_PATH, root.path().c_str());
    resume_entry::RemoveResumeEntry();
    testing_support::RecordedSystemCalls calls;
    context.RebootAndResume();

    std::wstring self = OwnProgramPath();
    std::wstring command;
    ASSERT_TRUE(resume_entry::ReadResumeEntry(command));
    EXPECT_EQ(command, resume_entry::BuildResumeCommand(self.c_str()));
    context.CloseLog();
    std::vector<std::wstring> log = context.Messages();
    auto line = std::find(log.begin(), log.end(),
                          L"Error\t재시작 후 실행할 프로그램을 보호 폴더에 복사하지 못했습니다. (보호 폴더를 만들 수 "
                          L"없습니다) 원래 경로로 등록합니다 : " +
                              self);
    ASSERT_NE(line, log.end());
    ASSERT_NE(line + 1, log.end());
    EXPECT_EQ(line[1], L"\t## 에러 코드 = 267 ##");
    resume_entry::RemoveResumeEntry();
}

TEST(ResumeCopy, MakesNoCopyOfAFileThatIsNotTheRunningProgram) {
    TempDir root(L"appdata");
    struct Case {
        const char* what;
        std::wstring program;
        std::wstring appDataRoot;
        resume_copy::Step step;
        DWORD error;
    } cases[] = {
        {"another program at the path", FixturePath(L"write_args.exe"), root.path(), resume_copy::Step::NotTheProgram,
         ERROR_FILE_INVALID},
        {"no file at the path", root / L"gone.exe", root.path(), resume_copy::Step::ReadProgram, ERROR_FILE_NOT_FOUND},
        {"no application data folder", OwnProgramPath(), L"", resume_copy::Step::PrepareFolder, ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring copy;
        DWORD error = 0;
        EXPECT_EQ(resume_copy::MakeResumeCopy(c.program.c_str(), c.appDataRoot, copy, error), c.step);
        EXPECT_EQ(error, c.error);
        EXPECT_FALSE(testing_support::FolderExists(root / L"OrlynRepair")) << "a folder made for nothing";
    }
}

TEST(ResumeCopy, ACopyStillRunningIsDeletedAtTheNextRestart) {
    TempDir root(L"appdata");
    ASSERT_EQ(protected_files::PrepareFolder(root.path()), static_cast<DWORD>(ERROR_SUCCESS));
    std::wstring copy = protected_files::FilePath(root.path(), protected_files::kResumeCopyName);
    ASSERT_TRUE(::CopyFileW(FixturePath(L"hold_file.exe").c_str(), copy.c_str(), FALSE));
    std::wstring ready = testing_support::UniqueName(L"ready");
    orlyn::UniqueHandle readyEvent(::CreateEventW(nullptr, TRUE, FALSE, ready.c_str()));
    testing_support::ChildProcess running;
    ASSERT_TRUE(running.Start(copy, L"\"" + (root / L"held.txt") + L"\" " + ready + L" - share"));
    ASSERT_EQ(::WaitForSingleObject(readyEvent.get(), 30000), WAIT_OBJECT_0);
    resume_entry::RemoveResumeEntry();
    ForgetPendingDeletions();

    EXPECT_EQ(resume_copy::RemoveResumeCopy(copy.c_str(), root.path()), resume_copy::Removal::AtNextRestart);
    EXPECT_EQ(PendingDeletions(), std::vector<std::wstring>{L"\\??\\" + copy});
    ForgetPendingDeletions();
    running.Kill();
}
