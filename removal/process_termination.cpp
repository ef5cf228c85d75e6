#include "removal/process_termination.h"

#include <tlhelp32.h>

#include "common/program_title.h"
#include "common/string_format.h"
#include "framework/unattended.h"
#include "removal/handle_table.h"
#include "removal/log_handle.h"

using orlyn::UniqueFileHandle;
using orlyn::UniqueHandle;

namespace {

constexpr wchar_t kShellName[] = L"explorer.exe";
// Not STILL_ACTIVE: with that code, whoever asks for the exit code would take the process for running.
constexpr UINT kEndedExitCode = 1;
constexpr DWORD kKillWaitMs = 500;
constexpr int kKillChecks = 5;

bool HasImageName(const PROCESSENTRY32W& entry, const wchar_t* imageName) {
    return orlyn::EqualsNoCase(orlyn::BaseNameOf(entry.szExeFile), imageName);
}

// Whether a process of this name other than `exceptId` runs.
bool IsRunningExcept(const wchar_t* imageName, DWORD exceptId) {
    UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = ::Process32FirstW(snapshot.get(), &entry); ok; ok = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID != exceptId && HasImageName(entry, imageName)) return true;
    }
    return false;
}

// Waits until every process has ended, at most timeoutMs in all; without processes, the whole time.
void WaitForEnded(const std::vector<UniqueHandle>& processes, DWORD timeoutMs) {
    if (processes.empty()) {
        ::Sleep(timeoutMs);
        return;
    }
    DWORD start = ::GetTickCount();
    for (const UniqueHandle& p : processes) {
        DWORD spent = ::GetTickCount() - start;
        if (spent >= timeoutMs) return;
        ::WaitForSingleObject(p.get(), timeoutMs - spent);
    }
}

}  // namespace

bool IsProcessNotToEnd(const wchar_t* imageName) {
    static const wchar_t* const kNames[] = {
        kShellName,     L"System",       L"smss.exe", L"csrss.exe",   L"wininit.exe",
        L"winlogon.exe", L"services.exe", L"lsass.exe", L"svchost.exe",
    };
    for (const wchar_t* name : kNames) {
        if (orlyn::EqualsNoCase(imageName, name)) return true;
    }
    return false;
}

FileUserNotice BuildFileUserNotice(const std::vector<FileUser>& users, const wchar_t* path) {
    FileUserNotice notice;
    bool naming = true;
    for (const FileUser& user : users) {
        if (IsProcessNotToEnd(user.imageName)) {
            if (orlyn::EqualsNoCase(user.imageName, kShellName))
                notice.logLines.push_back(orlyn::FormatString(L"Warnning\t exeplorer.exe가 %s를 사용하고 있습니다.\n", path));
            else
                notice.logLines.push_back(orlyn::FormatString(L"Warnning\t %s가 %s를 사용하고 있습니다.\n", user.imageName, path));
            naming = false;
            continue;
        }
        notice.toEnd.push_back(user);
        if (!naming) continue;
        notice.text += user.imageName;
        if (user.windowTitle[0]) notice.text += orlyn::FormatString(L"(%s)", user.windowTitle);
        notice.text += L"\r\n";
    }
    notice.text += orlyn::FormatString(L"프로그램이\r\n%s 를 사용하고 있습니다.\r\n\r\n해당 프로그램을 종료하겠습니다.\r\n\r\n* 주의 : 프로그램이 종료되므로 확인 버튼을 누르기 전에 필히 저장해 주세요.\r\n", path);
    return notice;
}

bool IsProcessRunning(const wchar_t* imageName) {
    if (!imageName) return false;
    UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = ::Process32FirstW(snapshot.get(), &entry); ok; ok = ::Process32NextW(snapshot.get(), &entry)) {
        if (HasImageName(entry, imageName)) return true;
    }
    return false;
}

bool CLogHandle::KillProcessByName(const wchar_t* imageName) {
    if (!imageName) imageName = L"";
    UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        WriteLog(L"Error\tKill Process Failure : Create snapshot fail\n");
        return false;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (!::Process32FirstW(snapshot.get(), &entry)) {
        snapshot.reset();
        WriteLog(L"OK\tKill Process Processing : There is no process named \"%s\"\n", imageName);
        return true;
    }
    // This program never ends itself, even when another copy of it is what holds a file.
    const DWORD self = ::GetCurrentProcessId();
    std::vector<UniqueHandle> ended;
    do {
        if (entry.th32ProcessID == self || !HasImageName(entry, imageName)) continue;
        UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (!process) continue;
        ::TerminateProcess(process.get(), kEndedExitCode);
        WriteLog(L"OK\tKill Process Processing : Try to kill %s\n", imageName);
        ended.push_back(std::move(process));
    } while (::Process32NextW(snapshot.get(), &entry));
    snapshot.reset();

    WaitForEnded(ended, kKillWaitMs);
    ended.clear();
    for (int check = 1;; ++check) {
        if (!IsRunningExcept(imageName, self)) {
            WriteLog(L"OK\tKill Process Success : %s\n", imageName);
            return true;
        }
        if (check == kKillChecks) break;
        ::Sleep(kKillWaitMs);
    }
    WriteLog(L"Error\tKill Process Failure : Processes named \"%s\" still exist\n", imageName);
    return false;
}

bool CLogHandle::CloseFileUsers(const wchar_t* path) {
    if (!path) return false;
    std::vector<FileUser> users = Singleton<CFindProcess>::Instance()->FindFileUsers(path);
    if (users.empty()) {
        WriteLog(L"Error\t%s를 사용하는 프로세스를 찾지 못했습니다. \n", path);
        return false;
    }
    FileUserNotice notice = BuildFileUserNotice(users, path);
    for (const std::wstring& line : notice.logLines) WriteLog(L"%s", line.c_str());
    if (notice.toEnd.empty()) {
        WriteLog(L"Error\t%s를 사용하는 프로세스를 찾지 못했습니다. \n", path);
        return false;
    }
    // Shown from the removal worker without an owner window, unlike the dialog's own prompts.
    unattended::AskPerson(Prompt::FileHolderNotice, nullptr, notice.text.c_str(), orlyn::kProgramTitle,
                          MB_ICONWARNING | MB_OK);
    const wchar_t* name = notice.toEnd.front().imageName;
    // Without a name there is nothing to end by name (and an empty name would be reported as ended).
    if (name[0] && KillProcessByName(name)) {
        WriteLog(L"OK\t%s 프로세스가 종료되었습니다.\n", name);
        return true;
    }
    WriteLog(L"Error\t%s 프로세스가 종료되지 않았습니다.\n", name);
    return false;
}
