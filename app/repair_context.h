// The repair context: everything the phases share for the life of the repair dialog. The dialog
// (COrlynRepairDlg) is one; tests make their own with a temporary log and folders.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <memory>
#include <string>

#include "common/log_stream.h"
#include "common/phase_host.h"
#include "common/phase_progress.h"
#include "common/repair_folders.h"
#include "common/repair_log_writer.h"
#include "removal/log_handle.h"
#include "diagnostics/acl_info.h"
#include "diagnostics/system_info.h"
#include "install/payload_list.h"
#include "removal/removal_list.h"

// Built from the log writer, the phase progress, the folders and the phase host, which the phase routines
// of the subsystems take on their own; the phase members below are one-line calls into them.
class CRepairContext : public RepairLogWriter, public PhaseProgress, public RepairFolders, public PhaseHost {
public:
    CRepairContext();
    ~CRepairContext() override;

    CRepairContext(const CRepairContext&) = delete;
    CRepairContext& operator=(const CRepairContext&) = delete;

    // Writes timestamp, tab and the formatted message (at most 4095 units) to the repair log and
    // flushes. Does nothing when the log is not open (or no longer open).
    void WriteLogV(const wchar_t* format, va_list args) override;

    // Opens (replaces) the log at path and hands the stream to the primitives' log handle, not owning.
    bool OpenLog(const wchar_t* path);
    // Closes the stream; later writes through either writer do nothing.
    void CloseLog();
    bool IsLogOpen() const { return logStream && logStream->IsOpen(); }

    // How a worker reaches the dialog. The dialog posts these to its own thread; a bare context
    // (tests) records nothing and shows message boxes without an owner.
    HWND OwnerWindow() const override { return nullptr; }
    void ArmTimer(UINT id, UINT elapseMs) override {
        (void)id;
        (void)elapseMs;
    }
    void CancelTimer(UINT id) override { (void)id; }
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
    bool IsWow64() const override;

    // Browser steps that end the removal and the install.
    bool RemoveBrowserIntegration();
    bool InstallBrowserIntegration();

    // Initialisation steps that the dialog calls.
    bool BuildRemovalList();
    void GatherSystemInfo();
    void WriteSystemInfo();
    // Writes the payload manifest to the temp folder; on success text and manifestTempPath are its path.
    bool ExtractPayloadManifest(std::wstring& text);

    HICON applicationIcon = nullptr;
    CLogHandle logHandle;  // the removal primitives' writer; never owns the stream
    RemovalList removalList;
    PayloadList payloadList;
    int sequenceState = 0;
    wchar_t manifestTempPath[MAX_PATH] = {};
    std::shared_ptr<orlyn::LogStream> logStream;     // the repair log stream; null when not open
    wchar_t logPath[MAX_PATH] = {};
    LONG sequenceStarted = 0;
    LONG chromeRestart = 0;
    POINT dragOffset = {};
    CACLInfo aclInfo;
    SystemInfo systemInfo;  // gathered at initialisation, written as the log's first section
};
