#include "diagnostics/access_report.h"

#include <cwchar>

#include "common/registry.h"
#include "common/unique_handle.h"
#include "install/file_security.h"

namespace {

const wchar_t kRule[] = L"=======================================================\n";
const wchar_t kMakerKey[] = L"SOFTWARE\\Orlyn";
constexpr DWORD kPathUnits = MAX_PATH;  // registry values, subkey, account and domain names

void AppendNumber(std::wstring& text, DWORD number) { text += std::to_wstring(number); }

// "<key path><what><error code>" and the line end.
void AppendKeyError(std::wstring& errors, const std::wstring& keyPath, const wchar_t* what, LONG rc) {
    errors += keyPath;
    errors += what;
    AppendNumber(errors, static_cast<DWORD>(rc));
    errors += L"\n";
}

// Writes a buffer as log entries, one per line, the piece after the final line feed included.
void WriteBuffer(RepairLogWriter& log, const std::wstring& text) {
    for (const std::wstring& piece : SplitLogPieces(text)) log.WriteLog(L"%s\n", piece.c_str());
}

}  // namespace

std::vector<std::wstring> SplitLogPieces(const std::wstring& text) {
    std::vector<std::wstring> pieces;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::wstring AccessColumns(ACCESS_MASK mask, bool allowed) {
    struct Column {
        wchar_t letter;
        ACCESS_MASK bits;
    };
    static const Column kColumns[] = {
        {L'R', FILE_READ_DATA | FILE_READ_ATTRIBUTES},                                              // 0x81
        {L'W', FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES},        // 0x116
        {L'X', FILE_READ_DATA | FILE_EXECUTE},                                                      // 0x21
    };
    std::wstring columns;
    for (const Column& column : kColumns) {
        bool shown = allowed ? (mask & column.bits) == column.bits : (mask & column.bits) != 0;
        columns += shown ? column.letter : L' ';
    }
    return columns;
}

bool CheckMemberGroup(HANDLE token, WELL_KNOWN_SID_TYPE type, const wchar_t* name, std::wstring& report,
                      std::wstring& errors) {
    BYTE sid[SECURITY_MAX_SID_SIZE];  // 68 bytes
    DWORD size = sizeof(sid);
    BOOL member = FALSE;
    if (!::CreateWellKnownSid(type, nullptr, sid, &size) || !::CheckTokenMembership(token, sid, &member)) {
        DWORD error = ::GetLastError();
        errors += L"CheckMemberGroup - error( ";
        errors += name;
        errors += L" ) : ";
        AppendNumber(errors, error);
        errors += L"\n";
        return false;
    }
    if (member) {
        if (!token) {
            report += L"This Process is executed with Admin auth. And elevated.\n";
        } else {
            report += L"The user is in ";
            report += name;
            report += L" group\n";
        }
    }
    return true;
}

void WriteUserInfo(std::wstring& report, std::wstring& errors) {
    wchar_t userName[kPathUnits + 1] = {};
    DWORD length = kPathUnits + 1;
    if (!::GetUserNameW(userName, &length)) userName[0] = L'\0';
    report += L"Current User Name : ";
    report += userName;
    report += L"\n";

    CheckMemberGroup(nullptr, WinBuiltinAdministratorsSid, L"Admin", report, errors);

    orlyn::UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        errors += L"OpenProcessToken - failed\n";
        return;
    }
    TOKEN_LINKED_TOKEN linked = {};
    DWORD returned = 0;
    if (!::GetTokenInformation(token.get(), TokenLinkedToken, &linked, sizeof(linked), &returned)) {
        DWORD error = ::GetLastError();
        errors += L"GetTokenInformation error - Linked token : ";
        AppendNumber(errors, error);
        errors += L"\n\n";
        return;
    }
    orlyn::UniqueHandle linkedToken(linked.LinkedToken);
    CheckMemberGroup(linkedToken.get(), WinBuiltinAdministratorsSid, L"Admin", report, errors);
    CheckMemberGroup(linkedToken.get(), WinBuiltinUsersSid, L"User", report, errors);
    CheckMemberGroup(linkedToken.get(), WinBuiltinGuestsSid, L"Guest", report, errors);
    CheckMemberGroup(linkedToken.get(), WinAuthenticatedUserSid, L"Authenticated User", report, errors);
    report += L"\n";
}

namespace {

// Depth-first search below HKLM\keyPath for the string value valueName; a key with a non-empty value is
// a target and its subkeys are not searched.
bool EnumKey(const std::wstring& keyPath, const wchar_t* valueName, std::vector<AccessTarget>& collector,
             std::wstring& errors) {
    orlyn::UniqueHkey key;
    LONG rc = orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_READ, orlyn::RegView::Default, key);
    if (rc != ERROR_SUCCESS) {
        AppendKeyError(errors, keyPath, L" Registry Key open() Failure - Error : ", rc);
        return false;
    }

    std::wstring value;
    if (orlyn::ReadRegString(key.get(), valueName, kPathUnits * sizeof(wchar_t), value) != ERROR_SUCCESS) {
        value.clear();
        errors += keyPath;
        errors += L" - ";
        errors += valueName;
        errors += L" : No Data\n";
    }
    if (!value.empty()) {
        collector.push_back(AccessTarget{value, {}});  // the keys below belong to this target
        return true;
    }

    for (DWORD index = 0;; ++index) {
        wchar_t subkey[kPathUnits];
        DWORD length = kPathUnits;
        rc = ::RegEnumKeyExW(key.get(), index, subkey, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) break;
        EnumKey(keyPath + L"\\" + subkey, valueName, collector, errors);
    }
    if (rc != ERROR_NO_MORE_ITEMS) AppendKeyError(errors, keyPath, L" - EnumKey() Error : ", rc);
    return true;
}

}  // namespace

bool ReadDacl(AccessTarget& target, std::wstring& failure) {
    failure.clear();
    target.entries.clear();
    DWORD needed = 0;
    ::GetFileSecurityW(target.path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    if (needed == 0) return false;

    std::vector<BYTE> descriptor(needed);
    if (!::GetFileSecurityW(target.path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed)) {
        DWORD error = ::GetLastError();
        failure = L"[ACLInfo]Failed to get file security information (" + std::to_wstring(error) + L")\n";
        return false;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted)) {
        DWORD error = ::GetLastError();
        failure = L"[ACLInfo]Failed to retrieve DACL from security descriptor (" + std::to_wstring(error) + L")\n";
        return false;
    }
    // A null list (everyone may do everything) has no entries to show either.
    if (!present || !dacl) {
        failure = L"[ACLInfo]DACL was not found.\n";
        return false;
    }

    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        if (!::GetAce(dacl, index, &ace)) continue;
        auto header = static_cast<ACE_HEADER*>(ace);
        // Only allowed and denied entries have the account SID where these records put it; other kinds
        // (object and callback entries) are not listed.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE) continue;
        auto entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);  // same layout for denied entries
        PSID sid = &entry->SidStart;
        if (!::IsValidSid(sid)) continue;
        const BYTE* first = static_cast<const BYTE*>(sid);
        AccessEntry found;
        found.sid.assign(first, first + ::GetLengthSid(sid));
        found.mask = entry->Mask;
        found.allowed = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
        target.entries.push_back(std::move(found));
    }
    return true;
}

void WriteAces(const AccessTarget& target, std::wstring& report) {
    for (const AccessEntry& entry : target.entries) {
        wchar_t account[kPathUnits] = {};
        wchar_t domain[kPathUnits] = {};
        DWORD accountLength = kPathUnits;
        DWORD domainLength = kPathUnits;
        SID_NAME_USE use;
        auto sid = const_cast<PSID>(static_cast<const void*>(entry.sid.data()));
        if (!::LookupAccountSidW(nullptr, sid, account, &accountLength, domain, &domainLength, &use)) continue;
        report += entry.allowed ? L"Allowed to: " : L"Denied from: ";
        if (domain[0]) {
            report += domain;
            report += L"\\";
        }
        if (account[0]) report += account;
        report += L" [";
        report += AccessColumns(entry.mask, entry.allowed);
        report += L"]\n";
    }
}

namespace {

// Replaces info's targets with those the maker's key names, reads their access lists and reports them.
void CollectTargets(CACLInfo& info, std::wstring& report, std::wstring& errors) {
    std::vector<AccessTarget> collector;
    EnumKey(kMakerKey, L"RootPath", collector, errors);
    EnumKey(kMakerKey, L"Executable", collector, errors);
    info.targets = std::move(collector);

    for (AccessTarget& target : info.targets) {
        std::wstring failure;
        if (!ReadDacl(target, failure)) {
            errors += failure;
            errors += L"\n";
        }
    }
    for (const AccessTarget& target : info.targets) {
        report += kRule;
        report += L"Target Name : ";
        report += target.path;
        report += L"\n\n";
        WriteAces(target, report);
        report += kRule;
        report += L"\n";
    }
}

}  // namespace

void WriteAccessReport(RepairLogWriter& log, CACLInfo& info) {
    std::wstring report;
    std::wstring errors;
    WriteUserInfo(report, errors);
    CollectTargets(info, report, errors);

    log.WriteLog(L"**Access Control Lists\n");
    if (!errors.empty()) {
        log.WriteLog(L"\n");
        log.WriteLog(kRule);
        log.WriteLog(L"**에러 내역\n");
        log.WriteLog(L"\n");
        WriteBuffer(log, errors);
        log.WriteLog(kRule);
        log.WriteLog(L"\n");
    }
    WriteBuffer(log, report);
}

void ApplyEveryoneAccess(RepairLogWriter& log, CACLInfo& info) {
    std::wstring errors;
    CFileSecurity* security = CFileSecurity::Instance();
    for (const AccessTarget& target : info.targets) {
        if (security->EveryoneSIDAllowed(target.path.c_str())) continue;
        DWORD error = ::GetLastError();
        errors += target.path;
        if (::GetFileAttributesW(target.path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            errors += L" : EveryoneSIDAllowed - Failed. Error No : ";
            AppendNumber(errors, error);
        } else {
            DWORD searchError = ::GetLastError();
            errors += L" : 레지스트리에는 값이 있지만 해당 파일이 없습니다. Error No : ";
            AppendNumber(errors, searchError);
        }
        errors += L"\n";
    }
    log.WriteLog(L"OK\tACL data 변경 작업 완료하였습니다.\n");
    log.WriteLog(L"\n");
    if (!errors.empty()) {
        log.WriteLog(L"**Warnings\n");
        WriteBuffer(log, errors);
    }
    WriteAccessReport(log, info);
}
