// The process exit code: what deployment tools read, with the meanings msiexec gives these numbers.
#pragma once

namespace run_result {

constexpr int kSuccess = 0;
constexpr int kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER: an unknown switch
constexpr int kUserCancelled = 1602;   // ERROR_INSTALL_USEREXIT
constexpr int kFatalError = 1603;      // ERROR_INSTALL_FAILURE
constexpr int kAnotherRunActive = 1618;  // ERROR_INSTALL_ALREADY_RUNNING: another copy is repairing
constexpr int kRestartStarted = 1641;  // ERROR_SUCCESS_REBOOT_INITIATED
constexpr int kRestartRequired = 3010; // ERROR_SUCCESS_REBOOT_REQUIRED

// How a run ended, as the application object sees it after the dialog closed.
struct RunEnd {
    bool started = false;          // the start confirmation was accepted
    bool dialogRan = false;        // the dialog could be created
    bool sequenceStarted = false;  // initialisation succeeded and the phases began
    int sequenceState = 0;         // the state the dialog closed in
    bool restartStarted = false;   // the program asked for the restart and the system accepted
    bool cutShort = false;         // an unattended run ended by the program itself: a worker or timer
                                   // could not be started, or the run took longer than its bound
    bool anotherRunActive = false; // another copy was repairing: this one stood down at once
};

// 1618 when another copy was repairing; 0 after the final state; 3010 or 1641 from the restart state;
// 1603 after an initialisation error, a failure or a run cut short; 1602 when the person declined the
// start or closed the dialog during a phase.
int ExitCodeFor(const RunEnd& end);

}  // namespace run_result
