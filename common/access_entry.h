// An explicit access entry for a SID, as SetEntriesInAclW takes it.
#pragma once

#include <windows.h>
#include <aclapi.h>

namespace orlyn {

inline EXPLICIT_ACCESSW SidAccessEntry(PSID sid, DWORD rights, ACCESS_MODE mode, DWORD inheritance,
                                       TRUSTEE_TYPE type) {
    EXPLICIT_ACCESSW entry = {};
    entry.grfAccessPermissions = rights;
    entry.grfAccessMode = mode;
    entry.grfInheritance = inheritance;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = type;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(sid);
    return entry;
}

}  // namespace orlyn
