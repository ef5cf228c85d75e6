#include "app/run_result.h"

namespace run_result {

int ExitCodeFor(const RunEnd& end) {
    if (end.anotherRunActive) return kAnotherRunActive;
    if (!end.started) return kUserCancelled;
    if (!end.dialogRan || !end.sequenceStarted || end.cutShort) return kFatalError;
    switch (end.sequenceState) {
    case 6:  // final
        return kSuccess;
    case 4:  // restart: requested and accepted, or left to the next restart (refused or /norestart)
        return end.restartStarted ? kRestartStarted : kRestartRequired;
    case 7:  // failure, not retried
        return kFatalError;
    default:  // closed while a phase ran: only the person at the screen does that
        return kUserCancelled;
    }
}

}  // namespace run_result
