// Reads a file's or a key's access list back as plain entries, for tests that check what a grant or a
// repair really stored.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/unique_handle.h"

namespace access_readback {

struct Ace {
    BYTE type;   // ACCESS_ALLOWED_ACE_TYPE, ACCESS_DENIED_ACE_TYPE, ...
    BYTE flags;  // inheritance flags
    ACCESS_MASK mask;
    std::vector<BYTE> sid;
};

inline std::vector<BYTE> WellKnownSid(WELL_KNOWN_SID_TYPE type) {
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    if (!::CreateWellKnownSid(type, nullptr, sid.data(), &size)) return {};
    sid.resize(size);
    return sid;
}

inline std::vector<Ace> AcesOf(PACL dacl) {
    std::vector<Ace> aces;
    if (!dacl) return aces;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* raw = nullptr;
        if (!::GetAce(dacl, i, &raw)) continue;
        auto header = static_cast<ACE_HEADER*>(raw);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE) continue;
        auto ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);  // the denied entry has the same layout
        const BYTE* sid = reinterpret_cast<const BYTE*>(&ace->SidStart);
        aces.push_back(Ace{header->AceType, header->AceFlags, ace->Mask,
                           std::vector<BYTE>(sid, sid + ::GetLengthSid(&ace->SidStart))});
    }
    return aces;
}

// The entries of a file's or folder's list; `error` gets the read's result.
inline std::vector<Ace> FileAces(const std::wstring& path, DWORD* error = nullptr) {
    PACL dacl = nullptr;
    orlyn::UniqueLocal descriptor;
    DWORD rc = ::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                       &dacl, nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
    if (error) *error = rc;
    return rc == ERROR_SUCCESS ? AcesOf(dacl) : std::vector<Ace>{};
}

// The entries of a key's list, read through a handle in the given view flag.
inline std::vector<Ace> KeyAces(HKEY root, const std::wstring& path, REGSAM view = 0, DWORD* error = nullptr) {
    orlyn::UniqueHkey key;
    DWORD rc = static_cast<DWORD>(::RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL | view, key.put()));
    PACL dacl = nullptr;
    orlyn::UniqueLocal descriptor;
    if (rc == ERROR_SUCCESS) {
        rc = ::GetSecurityInfo(key.get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                               nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
    }
    if (error) *error = rc;
    return rc == ERROR_SUCCESS ? AcesOf(dacl) : std::vector<Ace>{};
}

// Rights with the generic bits turned into the object's own (Windows may store either form).
inline ACCESS_MASK FileRights(ACCESS_MASK mask) {
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    ::MapGenericMask(&mask, &mapping);
    return mask;
}
inline ACCESS_MASK KeyRights(ACCESS_MASK mask) {
    GENERIC_MAPPING mapping = {KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS};
    ::MapGenericMask(&mask, &mapping);
    return mask;
}

// The file rights that a trustee's allowed entries give: those on the object itself, or (inherited)
// those that files and folders below receive.
enum class Reach { Object, FilesAndFoldersBelow };
inline ACCESS_MASK AllowedFileRights(const std::vector<Ace>& aces, const std::vector<BYTE>& sid, Reach reach) {
    ACCESS_MASK rights = 0;
    for (const Ace& ace : aces) {
        if (ace.type != ACCESS_ALLOWED_ACE_TYPE || ace.sid != sid) continue;
        if (reach == Reach::Object && (ace.flags & INHERIT_ONLY_ACE)) continue;
        const BYTE both = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        if (reach == Reach::FilesAndFoldersBelow && (ace.flags & both) != both) continue;
        rights |= FileRights(ace.mask);
    }
    return rights;
}

// The entries of every other trustee.
inline std::vector<Ace> WithoutSid(std::vector<Ace> aces, const std::vector<BYTE>& sid) {
    aces.erase(std::remove_if(aces.begin(), aces.end(), [&](const Ace& ace) { return ace.sid == sid; }), aces.end());
    return aces;
}

inline bool operator==(const Ace& a, const Ace& b) {
    return a.type == b.type && a.flags == b.flags && a.mask == b.mask && a.sid == b.sid;
}

}  // namespace access_readback
