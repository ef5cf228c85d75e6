// Permissive security for the files the elevated program writes: every user may read, write, execute
// and delete them. One instance per process, created on first use.
#pragma once

#include <windows.h>

#include "common/singleton.h"
#include "common/unique_handle.h"

class CFileSecurity : public Singleton2<CFileSecurity> {
public:
    // Builds the new-file descriptor on Windows Vista and later; before that the object stays empty.
    CFileSecurity();
    // For a given major Windows version (tests use it to stand in for older systems).
    explicit CFileSecurity(DWORD majorVersion);
    virtual ~CFileSecurity();

    CFileSecurity(const CFileSecurity&) = delete;
    CFileSecurity& operator=(const CFileSecurity&) = delete;

    // Attributes for CreateFile and CreateDirectory, or null when there is no usable descriptor (the
    // system's default security is used then).
    SECURITY_ATTRIBUTES* FileAttributes() { return securityAttributes.nLength ? &securityAttributes : nullptr; }

    // Adds an inheritable entry for Everyone (read, write, execute, delete) to an existing file's or
    // folder's access list. On failure the thread's last error holds the reason.
    [[nodiscard]] bool EveryoneSIDAllowed(const wchar_t* path);

    // Length 0 while there is no usable descriptor.
    SECURITY_ATTRIBUTES securityAttributes = {};

private:
    void Build(DWORD majorVersion);

    orlyn::UniqueSid everyoneSid_;
    orlyn::UniqueSid administratorsSid_;
    orlyn::UniqueLocal newFileAcl_;
    orlyn::UniqueLocal descriptor_;
};

// Read, write, execute and delete.
constexpr DWORD kEveryoneFileRights = GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | DELETE;
