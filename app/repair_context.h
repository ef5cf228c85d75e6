// The repair context: everything the phases share for the life of the repair dialog. The dialog
// (COrlynRepairDlg) is one; tests make their own with a temporary log and folders.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <memory>
#include <string>

#include "common/log_stream.h"
#include "removal/log_handle.h"
#include "diagnostics/acl_info.h"
#include "diagnostics/system_info.h"
#include "install/payload_list.h"
#include "removal/removal_list.h"

class CRepairContext {
public:
    CRepairContext();
    virtual ~CRepairContext();

    CRepairContext(const CRepairContext&) = delete;
    CRepairContext& operator=(const CRepairContext&) = delete;

    // Writes timestamp, tab and the formatted message (at most 4095 units) to the repair log and
    // flushes. Does nothing when the log is not open (or no longer open).
    void WriteLog(const wchar_t* format, ...);
    void WriteLogV(const wchar_t* format, va_list args);

    // Opens (replaces) the log at path and hands the stream to the primitives' log handle, not owning.
    bool OpenLog(const wchar_t* path);
    // Closes the stream; later writes through either writer do nothing.
    void CloseLog();
    bool IsLogOpen() const { return logStream && logStream->IsOpen(); }

    // Progress counters, each call under the lock.
    void ResetProgress();                    // count 3, done 0, item count 1, items done 0
    void BeginPhaseItems(DWORD itemCount);   // item count = itemCount, items done = 0
    void AddPhaseItemDone();                 // items done + 1
    void CompletePhaseItems();               // items done = item count
    void CompletePhase();                    // phases done + 1, items done = 0
    // Simulated progress: items done + 1 while items done < item count - 10, test and step under the lock.
    void StepSimulatedProgress();
    struct Progress {
        DWORD phaseCount, phasesDone, phaseItemCount, phaseItemsDone;
    };
    Progress ReadProgress() const;

    // How a worker reaches the dialog. The dialog posts these to its own thread; a bare context
    // (tests) records nothing and shows message boxes without an owner.
    virtual HWND OwnerWindow() const { return nullptr; }
    // Arms a one-shot (or, for 111 and 112, periodic) timer on the dialog thread. Safe from any thread.
    virtual void ArmTimer(UINT id, UINT elapseMs) {
        (void)id;
        (void)elapseMs;
    }
    virtual void CancelTimer(UINT id) { (void)id; }
    // Asks the dialog to close (WM_CLOSE posted to it).
    virtual void PostCloseRequest() {}

    // Phase routines; each runs on the worker thread of its state.
    bool CheckOldModule();
    bool RemoveOldModule();
    bool ClearInternetCache();
    bool InstallModule();
    void RebootAndResume();

    // The install routine's steps.
    bool InstallPayloadFiles();
    bool RegisterPreApprovedControls();
    // Whether this (32-bit) program runs on 64-bit Windows. Virtual so a test can give either answer.
    virtual bool IsWow64() const;

    // Browser steps that end the removal and the install.
    bool RemoveBrowserIntegration();
    bool InstallBrowserIntegration();

    // Initialisation steps that the dialog calls.
    bool BuildRemovalList();
    void GatherSystemInfo();
    void WriteSystemInfo();

    HICON applicationIcon = nullptr;
    CLogHandle logHandle;  // the removal primitives' writer; never owns the stream
    RemovalList removalList;
    PayloadList payloadList;
    mutable CRITICAL_SECTION lock;
    DWORD phaseCount = 0;
    DWORD phasesDone = 0;
    DWORD phaseItemCount = 0;
    DWORD phaseItemsDone = 0;
    int sequenceState = 0;
    wchar_t windowsFolder[MAX_PATH] = {};
    wchar_t programFilesFolder[MAX_PATH] = {};
    wchar_t allUsersDesktopFolder[MAX_PATH] = {};    // trailing backslash
    wchar_t desktopFolder[MAX_PATH] = {};            // trailing backslash
    wchar_t allUsersProgramsFolder[MAX_PATH] = {};   // trailing backslash
    wchar_t allUsersAppDataFolder[MAX_PATH] = {};    // no trailing backslash
    wchar_t manifestTempPath[MAX_PATH] = {};
    std::shared_ptr<orlyn::LogStream> logStream;     // the repair log stream; null when not open
    wchar_t logPath[MAX_PATH] = {};
    LONG sequenceStarted = 0;
    LONG chromeRestart = 0;
    POINT dragOffset = {};
    CACLInfo aclInfo;
    SystemInfo systemInfo;  // gathered at initialisation, written as the log's first section
};
