#include "install/file_security.h"

#include <aclapi.h>

#include <cstdio>

#include "common/access_entry.h"
#include "common/string_format.h"

namespace {

DWORD MajorWindowsVersion() {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExW(&version)) return 0;
#pragma GCC diagnostic pop
    return version.dwMajorVersion;
}

void ReportFailure(const char* what) {
    std::printf("%s Error %lu\n", what, static_cast<unsigned long>(::GetLastError()));
    std::fflush(stdout);
}


}  // namespace

CFileSecurity::CFileSecurity() { Build(MajorWindowsVersion()); }

CFileSecurity::CFileSecurity(DWORD majorVersion) { Build(majorVersion); }

CFileSecurity::~CFileSecurity() = default;

void CFileSecurity::Build(DWORD majorVersion) {
    securityAttributes = {};
    if (majorVersion < 6) return;  // before Windows Vista files keep the system's default security

    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    if (!::AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                    everyoneSid_.put()) ||
        !::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                    0, 0, administratorsSid_.put())) {
        ReportFailure("AllocateAndInitializeSid");
        return;
    }

    EXPLICIT_ACCESSW entries[2] = {
        orlyn::SidAccessEntry(everyoneSid_.get(), kEveryoneFileRights, SET_ACCESS, NO_INHERITANCE, TRUSTEE_IS_WELL_KNOWN_GROUP),
        orlyn::SidAccessEntry(administratorsSid_.get(), GENERIC_ALL, GRANT_ACCESS, NO_INHERITANCE, TRUSTEE_IS_GROUP),
    };
    DWORD rc = ::SetEntriesInAclW(2, entries, nullptr, reinterpret_cast<PACL*>(newFileAcl_.put()));
    if (rc != ERROR_SUCCESS) {
        ::SetLastError(rc);
        ReportFailure("SetEntriesInAcl");
        return;
    }

    descriptor_.reset(::LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!descriptor_) {
        ReportFailure("LocalAlloc");
        return;
    }
    auto descriptor = static_cast<PSECURITY_DESCRIPTOR>(descriptor_.get());
    if (!::InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION)) {
        ReportFailure("InitializeSecurityDescriptor");
        return;
    }
    if (!::SetSecurityDescriptorDacl(descriptor, TRUE, orlyn::LocalAs<ACL>(newFileAcl_), FALSE)) {
        ReportFailure("SetSecurityDescriptorDacl");
        return;
    }

    securityAttributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    securityAttributes.lpSecurityDescriptor = descriptor;
    securityAttributes.bInheritHandle = FALSE;
}

bool CFileSecurity::EveryoneSIDAllowed(const wchar_t* path) {
    if (!everyoneSid_) {
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    // A path that does not fit is refused rather than cut, which would name another file.
    wchar_t target[MAX_PATH];
    if (!path || !orlyn::CopyFixed(target, MAX_PATH, path)) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }

    PACL oldAcl = nullptr;
    orlyn::UniqueLocal descriptor;
    DWORD rc = ::GetNamedSecurityInfoW(target, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldAcl,
                                       nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
    if (rc != ERROR_SUCCESS) {
        ::SetLastError(rc);
        return false;
    }
    if (!oldAcl) {
        ::SetLastError(ERROR_INVALID_ACL);
        return false;
    }

    EXPLICIT_ACCESSW entry = orlyn::SidAccessEntry(everyoneSid_.get(), kEveryoneFileRights, SET_ACCESS,
                                      SUB_CONTAINERS_AND_OBJECTS_INHERIT, TRUSTEE_IS_WELL_KNOWN_GROUP);
    orlyn::UniqueLocal newAcl;
    rc = ::SetEntriesInAclW(1, &entry, oldAcl, reinterpret_cast<PACL*>(newAcl.put()));
    if (rc == ERROR_SUCCESS) {
        rc = ::SetNamedSecurityInfoW(target, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                     orlyn::LocalAs<ACL>(newAcl), nullptr);
    }
    ::SetLastError(rc);
    return rc == ERROR_SUCCESS;
}
