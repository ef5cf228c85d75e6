// The progress of the running phase: how many phases there are and are done, and how many items the
// current phase has and has done. Workers update it, the dialog thread reads it; every call takes the lock.
#pragma once

#include <windows.h>

class PhaseProgress {
public:
    PhaseProgress();
    ~PhaseProgress();

    PhaseProgress(const PhaseProgress&) = delete;
    PhaseProgress& operator=(const PhaseProgress&) = delete;

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

private:
    mutable CRITICAL_SECTION lock;
    DWORD phaseCount = 0;
    DWORD phasesDone = 0;
    DWORD phaseItemCount = 0;
    DWORD phaseItemsDone = 0;
};
