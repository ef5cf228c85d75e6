// One repair at a time on a PC: a named mutex in the global namespace, so that copies started in the
// console session, a remote session, another user's session or as SYSTEM all see each other.
#pragma once

#include <windows.h>

#include "common/unique_handle.h"

// The name that every copy of the program takes; tests and their fixtures take it too.
inline constexpr wchar_t kRunMutexName[] = L"Global\\OrlynRepair.Run.{6B0E4D5A-93C1-4F27-A8D2-1E5C7F30B9A4}";

class CRunGuard {
public:
    enum class Outcome {
        Taken,           // no other copy repairs: this one may
        TakenAbandoned,  // a copy that held it ended without letting go (killed, crashed): this one may
        OtherRunActive,  // another copy repairs now: this one must touch nothing
    };

    CRunGuard() = default;
    ~CRunGuard() { Release(); }
    CRunGuard(const CRunGuard&) = delete;
    CRunGuard& operator=(const CRunGuard&) = delete;

    // Takes the mutex without waiting. Call once, on the thread that will release it.
    Outcome Acquire(const wchar_t* name = kRunMutexName);
    // Lets go (from the thread that took it); nothing when not held.
    void Release();

private:
    orlyn::UniqueHandle mutex_;
    bool held_ = false;
};
