#include "common/phase_progress.h"

#include "common/unique_handle.h"

PhaseProgress::PhaseProgress() { ::InitializeCriticalSection(&lock); }

PhaseProgress::~PhaseProgress() { ::DeleteCriticalSection(&lock); }

void PhaseProgress::ResetProgress() {
    orlyn::CriticalSectionLock guard(lock);
    phaseCount = 3;
    phasesDone = 0;
    phaseItemCount = 1;
    phaseItemsDone = 0;
}

void PhaseProgress::BeginPhaseItems(DWORD itemCount) {
    orlyn::CriticalSectionLock guard(lock);
    phaseItemCount = itemCount;
    phaseItemsDone = 0;
}

void PhaseProgress::AddPhaseItemDone() {
    orlyn::CriticalSectionLock guard(lock);
    ++phaseItemsDone;
}

void PhaseProgress::CompletePhaseItems() {
    orlyn::CriticalSectionLock guard(lock);
    phaseItemsDone = phaseItemCount;
}

void PhaseProgress::CompletePhase() {
    orlyn::CriticalSectionLock guard(lock);
    ++phasesDone;
    phaseItemsDone = 0;
}

void PhaseProgress::StepSimulatedProgress() {
    orlyn::CriticalSectionLock guard(lock);
    // Signed arithmetic: a count below 10 must not wrap around and let the step run away.
    if (static_cast<long long>(phaseItemsDone) < static_cast<long long>(phaseItemCount) - 10) ++phaseItemsDone;
}

PhaseProgress::Progress PhaseProgress::ReadProgress() const {
    orlyn::CriticalSectionLock guard(lock);
    return Progress{phaseCount, phasesDone, phaseItemCount, phaseItemsDone};
}
