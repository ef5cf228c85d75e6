// What a phase routine asks of the one who runs it: the window that owns its message boxes, timers on
// that window's thread, and whether this 32-bit program runs on 64-bit Windows. The repair dialog
// answers with its own window and timers; a bare repair context (tests) with none.
#pragma once

#include <windows.h>

class PhaseHost {
public:
    virtual HWND OwnerWindow() const = 0;
    // Arms a one-shot (or, for 111 and 112, periodic) timer on the dialog thread. Safe from any thread.
    virtual void ArmTimer(UINT id, UINT elapseMs) = 0;
    virtual void CancelTimer(UINT id) = 0;
    // Virtual so a test can give either answer.
    virtual bool IsWow64() const = 0;

protected:
    ~PhaseHost() = default;
};
