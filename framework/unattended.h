// The one place that knows how this run meets a person. In an interactive run every prompt is a
// message box; in a passive or quiet run (command line) no prompt is shown: each gets a fixed answer
// and the repair log a line saying what was answered in place of the person.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "framework/run_mode.h"

// The program's prompts, each with its fixed unattended answer.
enum class Prompt {
    StartConfirmation,    // IDOK: the repair starts
    InitialisationError,  // IDOK: logged; the run ends
    FileHolderNotice,     // IDOK: the program that holds the file is ended
    ReachabilityWarning,  // IDOK: logged only
    RegistrationFailure,  // IDOK: logged only
    RestartOffer,         // IDYES: the restart state; it requests the restart only with /forcerestart
    HostsWarning,         // IDOK: logged only (the lines themselves are logged by the check)
    RepairSucceeded,      // IDNO: no web page is opened
    PhaseFailed,          // IDCANCEL: no retry
};

namespace unattended {

struct Settings {
    RunMode mode = RunMode::Interactive;
    bool forceRestart = false;
    std::wstring logCopyPath;     // where a copy of the final repair log goes; empty for none
    std::wstring resumeSwitches;  // what the RunOnce entry adds after --start (each with a blank before it)
};

// Set once at start-up, before any thread asks; tests set it around a run and reset it after.
void Configure(const Settings& settings);
void Reset();
const Settings& Current();
bool IsUnattended();
// False in a quiet run: the dialog is hosted in a message-only window and nothing is shown.
bool ShowsWindows();

// Interactive: shows the message box (through the seam) and returns the button. Unattended: shows
// nothing, writes the answered line to the answer log and returns the fixed answer. The line carries
// what the person would have read where it matters (the error, which program holds which file, the
// phase that failed), folded onto one line.
int AskPerson(Prompt prompt, HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags);

// The writer of answered lines (the repair log); lines answered while there is none (the start
// confirmation comes before the log is opened) wait and are written when it is set. Empty: none.
void SetAnswerLog(std::function<void(const wchar_t* line)> writer);

// Restart state: whether the program asks the system for the restart. Interactive: yes (the person
// chose it); unattended: only with /forcerestart.
bool RequestsRestartItself();
// Whether the program asked for the restart and the system accepted (exit code 1641).
void NoteRestartStarted();
bool RestartStarted();

// The text folded onto one line: every run of line breaks becomes one blank, ends trimmed.
std::wstring FoldLines(const wchar_t* text);

}  // namespace unattended
