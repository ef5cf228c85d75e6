#include "removal/find_process.h"

#include <tlhelp32.h>

#include <cstring>
#include <cwchar>

#include "common/string_format.h"
#include "common/win_api.h"
#include "removal/path_guard.h"

using orlyn::HandleEntry;
using orlyn::UniqueFileHandle;
using orlyn::UniqueHandle;

namespace {

constexpr ULONG kObjectNameInformation = 1;
constexpr ULONG kSeDebugPrivilege = 20;
constexpr size_t kNameBufferBytes = 4096;
constexpr size_t kNameBufferCap = 64 * 1024 + 16;  // UNICODE_STRING lengths are 16-bit

using RtlAdjustPrivilegeFn = LONG(WINAPI*)(ULONG, BOOLEAN, BOOLEAN, PBOOLEAN);
using GetModuleBaseNameFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
using QueryFullProcessImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);

// The layout of UNICODE_STRING at the start of OBJECT_NAME_INFORMATION.
struct NameInformation {
    USHORT length;
    USHORT maximumLength;
    const wchar_t* buffer;
};

DWORD WindowsMajorVersion() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    return ::GetVersionExW(&info) ? info.dwMajorVersion : 0;
}

std::wstring SnapshotImageName(DWORD processId) {
    UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return {};
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = ::Process32FirstW(snapshot.get(), &entry); ok; ok = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == processId) return orlyn::BaseNameOf(entry.szExeFile);
    }
    return {};
}

struct TitleSearch {
    DWORD processId;
    std::wstring title;
};

BOOL CALLBACK CollectTitle(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<TitleSearch*>(param);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || ::GetParent(window) || !::IsWindowVisible(window)) return TRUE;
    wchar_t text[1024];
    int n = ::GetWindowTextW(window, text, 1024);
    if (n > 0) search->title.assign(text, static_cast<size_t>(n));  // the last one found wins
    return TRUE;
}

void CopyText(wchar_t* dst, size_t count, const std::wstring& src) {
    size_t n = src.size() < count - 1 ? src.size() : count - 1;
    wmemcpy(dst, src.data(), n);
    dst[n] = 0;
}

// Only an executable image can be loaded as a module: a folder, or a file that we can read and that
// does not begin with "MZ", is in no process's module list, which spares reading every module name of
// every process. A file that cannot be read might be one.
bool CouldBeModule(const wchar_t* path) {
    DWORD attrs = ::GetFileAttributesW(path);
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) return false;
    UniqueFileHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return true;
    char magic[2] = {};
    DWORD got = 0;
    if (!::ReadFile(file.get(), magic, 2, &got, nullptr)) return true;
    return got == 2 && magic[0] == 'M' && magic[1] == 'Z';
}

}  // namespace

// The names compare through the tree guard's normalisation, so a path written "C:/Orlyn/Shared/" or
// "C:\Orlyn\.\Shared" in a registry value meets the name the system reports for the same folder. Two
// differences from the guard stay, because the guard decides what may be deleted and this only whom
// to ask to let go:
// - names the guard does not read as a full path (a device name that no drive letter maps, such as a
//   volume mounted without one) still match by their text: the guard refuses such a path, but the
//   search must still find the holder of exactly the name it was given;
// - nothing is refused here for being a share, device or stream name; such a name is only compared.
// Like the guard, the normalisation drops trailing dots and spaces of each part as Windows does with
// the paths it is given; a file really named so (made through "\\?\") then compares equal to its
// namesake without them, which at worst asks one more program to let go.
bool orlyn::SamePath(const wchar_t* a, const wchar_t* b) {
    std::wstring x = ComparablePath(a);
    std::wstring y = ComparablePath(b);
    if (x.empty()) return false;
    if (EqualsNoCase(x.c_str(), y.c_str())) return true;
    std::wstring formA, formB;
    return NormalizePathForCompare(x, formA) && NormalizePathForCompare(y, formB) && formA == formB;
}

bool IsAlreadyListed(const std::vector<FileUser>& users, DWORD processId, const wchar_t* imageName) {
    for (const FileUser& u : users) {
        if (u.processId == processId) return true;
        // One entry per image name: the users are ended by name anyway.
        if (imageName[0] && wcscmp(u.imageName, imageName) == 0) return true;
    }
    return false;
}

CFindProcess::CFindProcess() {
    if (auto adjust = orlyn::LookupProc<RtlAdjustPrivilegeFn>(L"ntdll.dll", "RtlAdjustPrivilege")) {
        BOOLEAN wasEnabled = FALSE;
        adjust(kSeDebugPrivilege, TRUE, FALSE, &wasEnabled);  // without it we simply see less
    }
    ntQuerySystemInformation_ =
        orlyn::LookupProc<NtQuerySystemInformationFn>(L"ntdll.dll", "NtQuerySystemInformation");
    ntQueryObject_ = orlyn::LookupProc<NtQueryObjectFn>(L"ntdll.dll", "NtQueryObject");
    enumProcesses_ = orlyn::LookupProc<EnumProcessesFn>(L"psapi.dll", "EnumProcesses");
    enumProcessModules_ = orlyn::LookupProc<EnumProcessModulesFn>(L"psapi.dll", "EnumProcessModules");
    getModuleFileNameEx_ = orlyn::LookupProc<GetModuleFileNameExFn>(L"psapi.dll", "GetModuleFileNameExW");
}

CFindProcess::~CFindProcess() = default;

std::vector<FileUser> CFindProcess::FindFileUsers(const wchar_t* path) {
    results_.clear();
    processIds_.clear();
    if (!path || !path[0] || !enumProcesses_) return {};
    // A full buffer may mean that more processes run: grow until the answer leaves room.
    for (DWORD count = 1024; count <= 1024 * 1024; count *= 2) {
        processIds_.assign(count, 0);
        DWORD bytes = 0;
        if (!enumProcesses_(processIds_.data(), count * sizeof(DWORD), &bytes)) {
            processIds_.clear();
            break;
        }
        if (bytes < count * sizeof(DWORD)) {
            processIds_.resize(bytes / sizeof(DWORD));
            break;
        }
    }
    drives_ = CurrentDriveMappings();
    // The probe thread starts now, so that it has begun by the time the first handle needs it.
    probe_.Start();
    ScanModules(path);
    if (SnapshotHandles()) ScanHandles(path);
    else probe_.End();
    drives_.clear();
    return results_;
}

bool CFindProcess::AddUser(DWORD processId, const std::wstring& imageName, bool unlessListed) {
    if (unlessListed && IsAlreadyListed(results_, processId, imageName.c_str())) return false;
    FileUser user{};
    user.processId = processId;
    CopyText(user.imageName, MAX_PATH, imageName);
    CopyText(user.windowTitle, 1024, FindWindowTitle(processId));
    results_.push_back(user);
    return true;
}

void CFindProcess::ScanModules(const wchar_t* path) {
    if (!enumProcessModules_ || !getModuleFileNameEx_ || !CouldBeModule(path)) return;
    const DWORD self = ::GetCurrentProcessId();
    std::vector<HMODULE> modules;
    std::vector<wchar_t> fileName(1024);
    for (DWORD processId : processIds_) {
        if (processId == 0 || processId == self) continue;
        UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
        if (!process) continue;
        modules.assign(1024, nullptr);
        DWORD needed = 0;
        DWORD bytes = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
        if (!enumProcessModules_(process.get(), modules.data(), bytes, &needed)) continue;
        if (needed > bytes) {
            modules.assign(needed / sizeof(HMODULE) + 64, nullptr);
            bytes = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
            if (!enumProcessModules_(process.get(), modules.data(), bytes, &needed)) continue;
        }
        size_t count = (needed < bytes ? needed : bytes) / sizeof(HMODULE);
        for (size_t i = 0; i < count; ++i) {
            DWORD n = getModuleFileNameEx_(process.get(), modules[i], fileName.data(),
                                           static_cast<DWORD>(fileName.size()));
            if (n == 0 || n >= fileName.size()) continue;
            if (orlyn::SamePath(fileName.data(), path)) {
                AddUser(processId, GetProcessBaseName(processId), false);
                break;
            }
        }
    }
}

bool CFindProcess::QuerySnapshot(ULONG infoClass, std::unique_ptr<BYTE[]>* buffer, size_t* size) {
    LONG status = orlyn::QueryGrowingBuffer(
        [this, infoClass](void* data, uint32_t length, uint32_t* needed) {
            ULONG got = 0;
            LONG result = ntQuerySystemInformation_(infoClass, data, length, &got);
            *needed = got;
            return result;
        },
        orlyn::kSnapshotInitialSize, orlyn::kSnapshotSizeCap, buffer, size);
    return status >= 0;
}

bool CFindProcess::SnapshotHandles() {
    handleTable_.clear();
    if (!ntQuerySystemInformation_) return false;
    // The number of the file object type differs between Windows versions (and Wine): a file handle of
    // our own, open while the snapshot is taken, tells which number files have.
    wchar_t self[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    UniqueFileHandle probe;
    if (n > 0 && n < MAX_PATH) {
        probe.reset(::CreateFileW(self, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    }
    const DWORD selfId = ::GetCurrentProcessId();
    const ULONG_PTR probeValue = reinterpret_cast<ULONG_PTR>(probe.get());

    std::vector<HandleEntry> all;
    DWORD learnt = 0;
    bool parsed = false;
    // The extended table first: its handle values and process ids are not cut to 16 bits.
    for (bool extended : {true, false}) {
        std::unique_ptr<BYTE[]> buffer;
        size_t size = 0;
        std::vector<HandleEntry> entries;
        ULONG infoClass = extended ? orlyn::kSystemExtendedHandleInformation : orlyn::kSystemHandleInformation;
        if (!QuerySnapshot(infoClass, &buffer, &size)) continue;
        if (!orlyn::ParseHandleTable(buffer.get(), size, orlyn::NativeHandleTableLayout(extended), orlyn::kAnyType,
                                     &entries)) {
            continue;
        }
        DWORD type = probe ? orlyn::FindHandleType(entries, selfId, probeValue, !extended) : 0;
        if (!parsed || type) {
            all = std::move(entries);
            extendedLayout_ = extended;
            learnt = type;
            parsed = true;
        }
        if (type) break;  // our own handle is where it should be, so the layout is right
    }
    probe.reset();
    if (!parsed) return false;

    if (learnt) fileTypeNumber_ = learnt;
    else if (!fileTypeNumber_) fileTypeNumber_ = orlyn::FallbackFileTypeNumber(WindowsMajorVersion());
    if (!fileTypeNumber_) return false;
    for (const HandleEntry& e : all) {
        if (e.objectTypeNumber == fileTypeNumber_ && e.processId != selfId) handleTable_.push_back(e);
    }
    return true;
}

UniqueHandle CFindProcess::OpenForDuplicate(DWORD processId) {
    return UniqueHandle(::OpenProcess(PROCESS_DUP_HANDLE, FALSE, processId));
}

UniqueHandle CFindProcess::DuplicateFrom(HANDLE process, ULONG_PTR handleValue) {
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(process, reinterpret_cast<HANDLE>(handleValue), ::GetCurrentProcess(), &copy, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
        return UniqueHandle();
    }
    return UniqueHandle(copy);
}

void CFindProcess::ScanHandles(const wchar_t* path) {
    const bool ownDrives = drives_.empty();
    if (ownDrives) drives_ = CurrentDriveMappings();
    // The table comes grouped by process: one open per process rather than one per handle.
    UniqueHandle process;
    DWORD openId = 0;
    bool opened = false;
    for (const HandleEntry& entry : handleTable_) {
        if (!opened || entry.processId != openId) {
            process = OpenForDuplicate(entry.processId);
            openId = entry.processId;
            opened = true;
        }
        if (!process) continue;
        std::wstring name;
        {
            UniqueHandle copy = DuplicateFrom(process.get(), static_cast<ULONG_PTR>(entry.handleValue));
            if (!copy) continue;
            // The same handle of the same process: a try of it that is still out would only wait again.
            const uint64_t key = (static_cast<uint64_t>(entry.processId) << 32) | (entry.handleValue & 0xFFFFFFFFu);
            name = QueryHandleName(copy.get(), key);
        }
        if (name.empty()) continue;
        name = orlyn::MapToDrivePath(name, drives_);
        if (!orlyn::SamePath(name.c_str(), path)) continue;
        AddUser(entry.processId, GetProcessBaseName(entry.processId), true);
    }
    probe_.End();
    if (ownDrives) drives_.clear();
}

std::wstring CFindProcess::QueryHandleName(HANDLE handle, uint64_t key) {
    if (!ntQueryObject_) return {};
    // One try per handle: a handle whose probe does not begin or come back in time is skipped.
    if (!probe_.Probe(handle, key)) return {};

    // Most names fit the first buffer; a longer one is asked for again with the size it needs.
    std::vector<ULONG_PTR> buffer(kNameBufferBytes / sizeof(ULONG_PTR), 0);
    ULONG needed = 0;
    LONG status = ntQueryObject_(handle, kObjectNameInformation, buffer.data(), kNameBufferBytes, &needed);
    if (status < 0 && needed > kNameBufferBytes && needed <= kNameBufferCap) {
        buffer.assign(needed / sizeof(ULONG_PTR) + 1, 0);
        status = ntQueryObject_(handle, kObjectNameInformation, buffer.data(),
                                static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)), &needed);
    }
    if (status < 0) return {};
    NameInformation info;
    std::memcpy(&info, buffer.data(), sizeof(info));
    if (!info.buffer || info.length == 0) return {};
    std::wstring name(info.buffer, info.length / sizeof(wchar_t));
    size_t nul = name.find(L'\0');
    if (nul != std::wstring::npos) name.resize(nul);
    return name;
}

std::vector<orlyn::DriveMapping> CFindProcess::CurrentDriveMappings() {
    std::vector<orlyn::DriveMapping> mappings;
    wchar_t drives[260] = {};
    DWORD n = ::GetLogicalDriveStringsW(259, drives);
    if (n == 0 || n > 259) return mappings;
    for (const wchar_t* d = drives; *d; d += wcslen(d) + 1) {
        wchar_t device[3] = {d[0], L':', 0};
        wchar_t target[MAX_PATH] = {};
        if (!::QueryDosDeviceW(device, target, MAX_PATH)) continue;
        if (wcslen(target) >= MAX_PATH - 1) continue;
        mappings.push_back({device, target});
    }
    return mappings;
}

std::wstring CFindProcess::ToDrivePath(const std::wstring& name) {
    return orlyn::MapToDrivePath(name, CurrentDriveMappings());
}

std::wstring CFindProcess::GetProcessBaseName(DWORD processId) {
    auto enumModules = orlyn::LookupProc<EnumProcessModulesFn>(L"psapi.dll", "EnumProcessModules");
    auto baseName = orlyn::LookupProc<GetModuleBaseNameFn>(L"psapi.dll", "GetModuleBaseNameW");
    if (enumModules && baseName) {
        UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
        HMODULE first = nullptr;
        DWORD needed = 0;
        wchar_t name[MAX_PATH];
        if (process && enumModules(process.get(), &first, sizeof(first), &needed) && needed > 0 &&
            baseName(process.get(), first, name, MAX_PATH) > 0) {
            return name;
        }
    }
    // A 32-bit program cannot list the modules of a 64-bit one (explorer.exe on 64-bit Windows),
    // but the image path and the process snapshot still give the name.
    auto fullName = orlyn::LookupProc<QueryFullProcessImageNameFn>(L"kernel32.dll", "QueryFullProcessImageNameW");
    if (fullName) {
        UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
        wchar_t path[1024];
        DWORD size = 1024;
        if (process && fullName(process.get(), 0, path, &size) && size > 0) return orlyn::BaseNameOf(path);
    }
    return SnapshotImageName(processId);
}

std::wstring CFindProcess::FindWindowTitle(DWORD processId) {
    TitleSearch search{processId, {}};
    ::EnumWindows(CollectTitle, reinterpret_cast<LPARAM>(&search));
    return search.title;
}
