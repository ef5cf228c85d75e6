#include "app/run_guard.h"

#include <sddl.h>

CRunGuard::Outcome CRunGuard::Acquire(const wchar_t* name) {
    // Every administrator and SYSTEM may open it, whichever of them made it first; nobody else may.
    orlyn::UniqueLocal descriptor;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    PSECURITY_DESCRIPTOR made = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;GA;;;SY)(A;;GA;;;BA)", SDDL_REVISION_1,
                                                               &made, nullptr)) {
        descriptor.reset(made);
        attributes.lpSecurityDescriptor = made;
    }
    mutex_.reset(::CreateMutexW(&attributes, FALSE, name));
    if (!mutex_) {
        // It exists and this account may not open it: a copy of another account holds it.
        if (::GetLastError() == ERROR_ACCESS_DENIED) return Outcome::OtherRunActive;
        // No mutex can be made at all (out of resources): going on unguarded beats refusing a repair.
        return Outcome::Taken;
    }
    switch (::WaitForSingleObject(mutex_.get(), 0)) {
    case WAIT_OBJECT_0:
        held_ = true;
        return Outcome::Taken;
    case WAIT_ABANDONED:
        held_ = true;
        return Outcome::TakenAbandoned;
    case WAIT_TIMEOUT:
        mutex_.reset();
        return Outcome::OtherRunActive;
    default:
        mutex_.reset();
        return Outcome::Taken;
    }
}

void CRunGuard::Release() {
    if (held_) ::ReleaseMutex(mutex_.get());
    held_ = false;
    mutex_.reset();
}
