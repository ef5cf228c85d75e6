// Shared helpers of the test programs: temporary folders, files, fixture processes, scripted message
// boxes and log reading. Everything a test makes it removes again.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "framework/seams.h"

namespace testing_support {

// A new empty folder under %TEMP%, removed with everything in it at the end of the scope.
class TempDir {
public:
    explicit TempDir(const wchar_t* tag = L"t");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Deletes a folder tree (clearing read-only attributes); never follows links. For test clean-up only.
void DeleteTree(const std::wstring& path);

std::wstring UniqueName(const wchar_t* tag);  // tag + process id + counter
std::wstring TestProgramFolder();            // folder of the running test program (and of the fixtures)
std::wstring FixturePath(const wchar_t* fileName);  // e.g. FixturePath(L"hold_file.exe")

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool WriteFileText(const std::wstring& path, const std::wstring& text);  // UTF-8, no BOM
std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
bool CreateFolders(const std::wstring& path);  // every missing folder of path

// Reads a repair log: checks the UTF-8 BOM, splits at CR LF, and returns each entry's message with the
// 19-character timestamp and its tab removed (lines without a timestamp, such as the system report,
// are returned whole). `rawLines` gets the lines as stored.
std::vector<std::wstring> ReadLogMessages(const std::wstring& path, std::vector<std::wstring>* rawLines = nullptr,
                                          bool* hadBom = nullptr);

// A started process, ended (TerminateProcess) and waited for at the end of the scope.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(ChildProcess&&) = default;
    ChildProcess& operator=(ChildProcess&&) = default;
    // Starts exe with the arguments (the command line is "\"exe\" args"). Returns false on failure.
    bool Start(const std::wstring& exe, const std::wstring& args = L"", bool inheritHandles = false);
    // Waits up to timeoutMs for the process to end; returns true when it ended.
    bool WaitForExit(DWORD timeoutMs);
    DWORD ExitCode() const;
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_.get(); }
    void Kill();

private:
    orlyn::UniqueHandle process_;
    DWORD id_ = 0;
};

// Waits (polling at most every 10 ms) until pred() holds or timeoutMs passes. Returns pred()'s last value.
template <typename Pred>
bool WaitUntil(Pred pred, DWORD timeoutMs) {
    DWORD start = ::GetTickCount();
    for (;;) {
        if (pred()) return true;
        if (::GetTickCount() - start >= timeoutMs) return pred();
        ::Sleep(10);
    }
}

// Waits until a named event (created by a fixture to say it is ready) is signalled.
bool WaitForNamedEvent(const std::wstring& name, DWORD timeoutMs);

// Installs a message-box handler for the scope: answers from the queue (IDOK when empty) and records
// every call. Thread-safe: workers may show message boxes.
class ScriptedMessageBoxes {
public:
    explicit ScriptedMessageBoxes(std::deque<int> answers = {});
    ~ScriptedMessageBoxes();
    void Push(int answer);
    std::vector<seams::MessageBoxCall> Calls() const;
    size_t Count() const;

private:
    mutable std::mutex mutex_;
    std::deque<int> answers_;
    std::vector<seams::MessageBoxCall> calls_;
};

// Replaces the restart request and the web-page opener for the scope and records the calls.
class RecordedSystemCalls {
public:
    explicit RecordedSystemCalls(BOOL restartResult = TRUE);
    ~RecordedSystemCalls();
    int RestartCount() const;
    UINT LastRestartFlags() const;
    DWORD LastRestartReason() const;
    std::vector<std::wstring> OpenedPages() const;

private:
    mutable std::mutex mutex_;
    int restarts_ = 0;
    UINT flags_ = 0;
    DWORD reason_ = 0;
    std::vector<std::wstring> pages_;
};

// A registry key created for the test and deleted with its tree at the end of the scope.
class ScopedRegKey {
public:
    ScopedRegKey(HKEY root, const std::wstring& path, REGSAM view = 0);
    ~ScopedRegKey();
    HKEY root() const { return root_; }
    const std::wstring& path() const { return path_; }
    HKEY key() const { return key_.get(); }

private:
    HKEY root_;
    std::wstring path_;
    REGSAM view_;
    orlyn::UniqueHkey key_;
};

// Whether root\path opens for reading in the view flag given (0, KEY_WOW64_64KEY or KEY_WOW64_32KEY).
bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = 0);

// Deletes root\path with all subkeys in the given view flag (0 or KEY_WOW64_64KEY); ignores a missing key.
void DeleteRegTreeForTest(HKEY root, const std::wstring& path, REGSAM view = 0);

// Creates root\path (default view) and writes the REG_SZ value name (nullptr: the key's default value);
// fails the test when it cannot.
void SetRegStringForTest(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text);

// The maker's key, HKLM\SOFTWARE\Orlyn, that tests write below: deleted with its tree at the end of the
// scope when the scope began without it, since later tests look for its absence.
class MakerKeyScope {
public:
    MakerKeyScope();
    ~MakerKeyScope();
    MakerKeyScope(const MakerKeyScope&) = delete;
    MakerKeyScope& operator=(const MakerKeyScope&) = delete;
    bool existedBefore() const { return existed_; }

private:
    bool existed_;
};

// Replaces a key's access list with the SDDL given (for example read and WRITE_DAC only); fails the test
// when it cannot.
void SetKeyAclForTest(HKEY root, const std::wstring& path, const wchar_t* sddl, REGSAM view = 0);

bool RunningUnderWine();

}  // namespace testing_support

// Marks an assertion that differs on Wine from Windows: skipped (and said) under Wine only.
#define ORLYN_SKIP_ON_WINE(why)                                     \
    do {                                                            \
        if (::testing_support::RunningUnderWine()) GTEST_SKIP() << "Wine differs: " << why; \
    } while (0)
