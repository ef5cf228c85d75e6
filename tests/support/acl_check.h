// Reading back the owner and access list of a file or folder, and what they let the users' groups do.
#pragma once

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "common/string_format.h"
#include "common/unique_handle.h"

namespace acl_check {

// Rights that let a holder change what is in a folder or a file, or the folder itself.
constexpr DWORD kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                  FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

struct Acl {
    orlyn::UniqueLocal descriptor;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
};

// The owner and access list of a file or folder, read through a handle to it (never through a link).
inline bool ReadAcl(const std::wstring& path, Acl& acl) {
    orlyn::UniqueFileHandle handle(::CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                 nullptr, OPEN_EXISTING,
                                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) return false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(handle.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                          &acl.owner, nullptr, &acl.dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    acl.descriptor.reset(descriptor);
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor, &acl.control, &revision);
    return true;
}

inline orlyn::UniqueLocal SidOf(const wchar_t* sddl) {
    PSID sid = nullptr;
    ::ConvertStringSidToSidW(sddl, &sid);
    return orlyn::UniqueLocal(sid);
}

// The rights that the list allows the SID by an entry of its own (deny entries subtract nothing here).
inline DWORD AllowedRights(PACL dacl, const wchar_t* sidText) {
    orlyn::UniqueLocal sid = SidOf(sidText);
    DWORD rights = 0;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!::GetAce(dacl, i, &entry)) continue;
        auto allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && ::EqualSid(&allowed->SidStart, sid.get()))
            rights |= allowed->Mask;
    }
    return rights;
}

// Fails the test when any of the users' groups may change the object; SYSTEM must have full control.
inline void ExpectOnlyAdministratorsMayChange(const std::wstring& path) {
    SCOPED_TRACE(orlyn::ToUtf8(path));
    Acl acl;
    ASSERT_TRUE(ReadAcl(path, acl));
    ASSERT_NE(acl.dacl, nullptr) << "a missing access list lets everyone in";
    for (const wchar_t* group : {L"BU", L"AU", L"WD", L"IU"}) {
        SCOPED_TRACE(orlyn::ToUtf8(group));
        EXPECT_EQ(AllowedRights(acl.dacl, group) & kChangingRights, 0u);
    }
    EXPECT_EQ(AllowedRights(acl.dacl, L"SY") & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
}

}  // namespace acl_check
