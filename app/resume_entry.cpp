#include "app/resume_entry.h"

#include <cwchar>

#include "app/repair_context.h"
#include "app/repair_texts.h"
#include "app/resume_copy.h"
#include "common/registry.h"
#include "common/unique_handle.h"
#include "framework/seams.h"
#include "framework/unattended.h"

namespace resume_entry {

std::wstring BuildResumeCommand(const wchar_t* programPath) {
    std::wstring command = L"\"";
    command += programPath;
    command += L"\" ";
    command += repair_text::kStartArgument;
    // An unattended run resumes the same way (nothing is added for an interactive run).
    command += unattended::Current().resumeSwitches;
    return command;
}

bool HasStartArgument(const wchar_t* commandLine) {
    return commandLine && std::wcsstr(commandLine, repair_text::kStartArgument) != nullptr;
}

LONG WriteResumeEntry(const wchar_t* programPath) {
    orlyn::UniqueHkey key;
    LONG status = orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, repair_text::kRunOnceKey, KEY_ALL_ACCESS,
                                      orlyn::RegView::Default, key);
    if (status != ERROR_SUCCESS) return status;
    return orlyn::SetRegString(key.get(), repair_text::kRunOnceValue, BuildResumeCommand(programPath).c_str());
}

bool RemoveResumeEntry() {
    orlyn::UniqueHkey key;
    LONG status = orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, repair_text::kRunOnceKey, KEY_ALL_ACCESS,
                                    orlyn::RegView::Default, key);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return false;
    status = ::RegDeleteValueW(key.get(), repair_text::kRunOnceValue);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool ReadResumeEntry(std::wstring& command) {
    orlyn::UniqueHkey key;
    if (orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, repair_text::kRunOnceKey, KEY_READ, orlyn::RegView::Default, key) !=
        ERROR_SUCCESS)
        return false;
    return orlyn::ReadRegString(key.get(), repair_text::kRunOnceValue, 4096, command) == ERROR_SUCCESS;
}

bool GetProgramPath(wchar_t (&path)[MAX_PATH]) {
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {  // MAX_PATH means the path was cut
        path[0] = L'\0';
        return false;
    }
    return true;
}

bool EnableShutdownPrivilege() {
    orlyn::UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return false;
    TOKEN_PRIVILEGES privileges = {};
    if (!::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) return false;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr)) return false;
    return ::GetLastError() == ERROR_SUCCESS;
}

}  // namespace resume_entry

namespace {

// The program the entry starts: the checked copy in the protected folder, or, when it cannot be made,
// the program's own path as before (said in the log).
std::wstring ProgramToResume(CRepairContext& context, const wchar_t* programPath) {
    std::wstring copyPath;
    DWORD error = ERROR_SUCCESS;
    resume_copy::Step failed = resume_copy::MakeResumeCopy(programPath, context.allUsersAppDataFolder, copyPath, error);
    if (failed == resume_copy::Step::None) {
        context.WriteLog(L"OK\t재시작 후 실행할 프로그램을 보호 폴더에 복사하였습니다 : %s\n", copyPath.c_str());
        return copyPath;
    }
    context.WriteLog(L"Error\t재시작 후 실행할 프로그램을 보호 폴더에 복사하지 못했습니다. (%s) 원래 경로로 등록합니다 : %s\n",
                     resume_copy::StepText(failed), programPath);
    WriteErrorCodeLine(context, error);
    return programPath;
}

}  // namespace

void CRepairContext::RebootAndResume() {
    wchar_t programPath[MAX_PATH];
    // Without the entry the restart still goes ahead; the program then does not come back by itself.
    if (resume_entry::GetProgramPath(programPath))
        (void)resume_entry::WriteResumeEntry(ProgramToResume(*this, programPath).c_str());
    // An unattended run without /forcerestart leaves the restart to whoever runs the PC (exit code 3010).
    if (!unattended::RequestsRestartItself()) {
        PostCloseRequest();
        return;
    }
    resume_entry::EnableShutdownPrivilege();
    if (RequestRestart(resume_entry::kRestartFlags, resume_entry::kRestartReason)) {
        unattended::NoteRestartStarted();
        PostCloseRequest();
    } else if (unattended::IsUnattended()) {
        // Nobody is there to close the dialog: end the run, the entry resumes it after the next restart.
        WriteLog(L"Error\t무인 복구 : 재시작 요청이 거부되었습니다. 다음 재시작 후 복구를 이어서 진행합니다.\n");
        PostCloseRequest();
    }
}
