// CFindProcess finds the programs that use a file or folder: those that have it loaded as a module
// and those that hold an open handle on it, found by walking the system's handle table. A probe
// thread (CProbeThread) tries each handle first, so a name query that would not return only skips
// that handle.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "common/singleton.h"
#include "common/unique_handle.h"
#include "removal/handle_table.h"
#include "removal/probe_thread.h"

// One program that uses a file.
struct FileUser {
    DWORD processId;
    wchar_t imageName[MAX_PATH];  // base name of its executable; empty if it cannot be read
    wchar_t windowTitle[1024];    // text of a visible top-level window; empty if none
};

namespace orlyn {
// Whether two file paths name the same file: case ignored as the system ignores it in file names, a
// "\\?\" prefix and a trailing backslash (other than a drive root's) do not count, and full paths
// compare in the tree guard's comparison form (slashes, "." and "..", doubled backslashes, trailing
// dots and spaces of a part).
bool SamePath(const wchar_t* a, const wchar_t* b);
}  // namespace orlyn

// Whether the users already hold this process, or another process of exactly this image name (the
// users are ended by name, so one entry per name is enough).
bool IsAlreadyListed(const std::vector<FileUser>& users, DWORD processId, const wchar_t* imageName);

class CFindProcess {
public:
    // Reached through Singleton<CFindProcess>; enables the debug privilege for the process.
    CFindProcess();
    virtual ~CFindProcess();
    CFindProcess(const CFindProcess&) = delete;
    CFindProcess& operator=(const CFindProcess&) = delete;

    // All programs found to use the path, in the order of discovery; this program itself is never
    // among them. Not for two threads at once.
    std::vector<FileUser> FindFileUsers(const wchar_t* path);

    // The steps, public so that they can be tried one by one.
    void ScanModules(const wchar_t* path);
    bool SnapshotHandles();  // file handles of all processes into handleTable()
    void ScanHandles(const wchar_t* path);
    // The object manager's name of a handle of this process; empty when it has none, the query
    // fails, or the probe thread does not begin or come back within the guard time. `key` (0: none)
    // names the handle where it came from (process and handle value), so that one whose earlier try
    // has not come back yet is skipped without another.
    std::wstring QueryHandleName(HANDLE handle, uint64_t key = 0);

    const std::vector<orlyn::HandleEntry>& handleTable() const { return handleTable_; }
    const std::vector<FileUser>& results() const { return results_; }
    // The file object type number of the last snapshot (learnt from a handle of our own), or 0.
    DWORD fileTypeNumber() const { return fileTypeNumber_; }
    // Whether the last snapshot used the extended (pointer-sized) layout.
    bool extendedLayout() const { return extendedLayout_; }
    // Number of handles skipped since construction because the probe thread did not begin or did not
    // come back within the guard time.
    unsigned probeTimeouts() const { return probe_.timeouts(); }
    // Probe threads given up on in a try that have not come back yet.
    size_t abandonedProbes() { return probe_.abandonedThreads(); }

    // What the probe thread does when it begins and with each handle; set it while no scan runs.
    using ProbeHooks = CProbeThread::ProbeHooks;
    void SetProbeHooks(const ProbeHooks& hooks) { probe_.SetHooks(hooks); }

    // A device path rewritten with the drive letter that stands for its device (unchanged if none).
    static std::wstring ToDrivePath(const std::wstring& name);
    static std::vector<orlyn::DriveMapping> CurrentDriveMappings();
    // Base name of a process's executable; empty when it cannot be read.
    static std::wstring GetProcessBaseName(DWORD processId);
    // Text of the process's last visible titled top-level window in enumeration order; empty if none.
    static std::wstring FindWindowTitle(DWORD processId);

    // How the scan opens a process and takes over one of its handles: never inheritable, so programs
    // started meanwhile do not receive them.
    static orlyn::UniqueHandle OpenForDuplicate(DWORD processId);
    static orlyn::UniqueHandle DuplicateFrom(HANDLE process, ULONG_PTR handleValue);

private:
    using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    using NtQueryObjectFn = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
    using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
    using GetModuleFileNameExFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);

    bool QuerySnapshot(ULONG infoClass, std::unique_ptr<BYTE[]>* buffer, size_t* size);
    bool AddUser(DWORD processId, const std::wstring& imageName, bool unlessNamed);

    std::vector<DWORD> processIds_;
    std::vector<orlyn::HandleEntry> handleTable_;
    std::vector<FileUser> results_;
    std::vector<orlyn::DriveMapping> drives_;
    DWORD fileTypeNumber_ = 0;
    bool extendedLayout_ = false;
    CProbeThread probe_;

    NtQuerySystemInformationFn ntQuerySystemInformation_ = nullptr;
    NtQueryObjectFn ntQueryObject_ = nullptr;
    EnumProcessesFn enumProcesses_ = nullptr;
    EnumProcessModulesFn enumProcessModules_ = nullptr;
    GetModuleFileNameExFn getModuleFileNameEx_ = nullptr;
};
