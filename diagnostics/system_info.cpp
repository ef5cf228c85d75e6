#include "diagnostics/system_info.h"

#include <d3d9.h>
#include <shlobj.h>

#include <cwchar>
#include <vector>

#include "common/log_stream.h"
#include "common/registry.h"
#include "common/string_format.h"
#include "common/unique_handle.h"

const wchar_t* const kSystemInfoDlls[kSystemInfoDllCount] = {
    L"d3d8.dll", L"d3d9.dll", L"ddraw.dll", L"dsound.dll", L"dsound3d.dll",
    L"dmusic.dll", L"dplay.dll", L"wsock32.dll", L"cabinet.dll", L"cabview.dll",
};

namespace {

const wchar_t* const kDllLineFormats[kSystemInfoDllCount] = {
    L"\td3d8.dll     : %s\n", L"\td3d9.dll     : %s\n", L"\tddraw.dll    : %s\n", L"\tdsound.dll   : %s\n",
    L"\tdsound3d.dll : %s\n", L"\tdmusic.dll   : %s\n", L"\tdplay.dll    : %s\n", L"\twsock32.dll  : %s\n",
    L"\tcabinet.dll  : %s\n", L"\tcabview.dll  : %s\n",
};

constexpr DWORD kValueLimitBytes = 1024;
constexpr UINT kD3dSdkVersion = 32;
const wchar_t kMachineRegistryPrefix[] = L"\\Registry\\Machine\\";

DWORD RoundUpMb(ULONGLONG bytes) {
    const ULONGLONG mb = 1024ull * 1024ull;
    return static_cast<DWORD>((bytes + mb - 1) / mb);
}

// A REG_SZ value of at most 1,024 bytes into a fixed field; a missing or larger value leaves it empty.
void ReadTextValue(HKEY key, const wchar_t* name, wchar_t* field, size_t count) {
    std::wstring text;
    if (orlyn::ReadRegString(key, name, kValueLimitBytes, text) != ERROR_SUCCESS) return;
    if (!orlyn::CopyFixed(field, count, text.c_str())) field[0] = L'\0';
}

bool ReadDwordValue(HKEY key, const wchar_t* name, DWORD& value) {
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(data))
        return false;
    value = data;
    return true;
}

void GatherProcessor(SystemInfo& info) {
    orlyn::UniqueHkey key;
    if (orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                          KEY_QUERY_VALUE, orlyn::RegView::Default, key) != ERROR_SUCCESS)
        return;
    ReadTextValue(key.get(), L"Identifier", info.processorIdentifier, kSystemInfoTextSize);
    ReadTextValue(key.get(), L"VendorIdentifier", info.processorVendor, kSystemInfoTextSize);
    ReadTextValue(key.get(), L"ProcessorNameString", info.processorName, kSystemInfoTextSize);
    ReadDwordValue(key.get(), L"~MHz", info.processorMhz);
}

void GatherMemoryAndDisk(SystemInfo& info) {
    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof(memory);
    if (::GlobalMemoryStatusEx(&memory)) info.memoryMb = RoundUpMb(memory.ullTotalPhys);

    wchar_t systemFolder[MAX_PATH] = {};
    UINT length = ::GetSystemDirectoryW(systemFolder, MAX_PATH);
    if (length < 2 || length >= MAX_PATH || systemFolder[1] != L':') return;
    // The volume's root: the drive letter and colon of the system folder.
    wchar_t root[4] = {systemFolder[0], L':', L'\\', L'\0'};
    ULARGE_INTEGER total = {};
    if (::GetDiskFreeSpaceExW(root, nullptr, &total, nullptr)) info.systemDiskMb = RoundUpMb(total.QuadPart);
}

bool GatherAdapterFromDirect3D(SystemInfo& info) {
    orlyn::UniqueLibrary d3d9(::LoadLibraryW(L"d3d9.dll"));
    if (!d3d9) return false;
    using CreateFn = IDirect3D9*(WINAPI*)(UINT);
    auto create = reinterpret_cast<CreateFn>(reinterpret_cast<void*>(::GetProcAddress(d3d9.get(), "Direct3DCreate9")));
    if (!create) return false;
    bool identified = false;
    {
        // Released before the library is unloaded.
        orlyn::ComPtr<IDirect3D9> direct3d;
        direct3d.attach(create(kD3dSdkVersion));
        if (!direct3d) return false;
        D3DADAPTER_IDENTIFIER9 identifier = {};
        if (SUCCEEDED(direct3d->GetAdapterIdentifier(D3DADAPTER_DEFAULT, 0, &identifier))) {
            identifier.Description[sizeof(identifier.Description) - 1] = '\0';
            if (!::MultiByteToWideChar(CP_ACP, 0, identifier.Description, -1, info.adapterDescription,
                                       static_cast<int>(kSystemInfoTextSize)))
                info.adapterDescription[0] = L'\0';
            info.adapterDriverVersion = static_cast<ULONGLONG>(identifier.DriverVersion.QuadPart);
            info.adapterVendorId = identifier.VendorId;
            info.adapterDeviceId = identifier.DeviceId;
            info.adapterSubSysId = identifier.SubSysId;
            info.adapterRevision = identifier.Revision;
            identified = true;
        }
    }
    return identified;
}

void GatherWindowsVersion(SystemInfo& info) {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExW(&version)) return;
#pragma GCC diagnostic pop
    info.osMajor = version.dwMajorVersion;
    info.osMinor = version.dwMinorVersion;
    info.osBuild = version.dwBuildNumber;
    info.osPlatformId = version.dwPlatformId;
    version.szCSDVersion[127] = L'\0';
    orlyn::CopyFixed(info.osServicePack, kSystemInfoTextSize, version.szCSDVersion);
}

void GatherInternetExplorer(SystemInfo& info) {
    orlyn::UniqueHkey key;
    if (orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Internet Explorer", KEY_QUERY_VALUE,
                          orlyn::RegView::Default, key) != ERROR_SUCCESS)
        return;
    ReadTextValue(key.get(), L"svcVersion", info.ieVersion, kSystemInfoTextSize);
    if (!info.ieVersion[0]) ReadTextValue(key.get(), L"Version", info.ieVersion, kSystemInfoTextSize);
}

ULONGLONG FileVersionOfLoaded(const wchar_t* name) {
    wchar_t path[MAX_PATH] = {};
    {
        orlyn::UniqueLibrary library(::LoadLibraryW(name));  // the system's own search picks the file
        if (!library) return 0;
        DWORD length = ::GetModuleFileNameW(library.get(), path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return 0;
    }
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return 0;
    std::vector<BYTE> data(size);
    if (!::GetFileVersionInfoW(path, 0, size, data.data())) return 0;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedLength = 0;
    if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedLength) || !fixed ||
        fixedLength < sizeof(VS_FIXEDFILEINFO))
        return 0;
    return (static_cast<ULONGLONG>(fixed->dwFileVersionMS) << 32) | fixed->dwFileVersionLS;
}

void Append(std::wstring& text, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    text += orlyn::FormatStringV(format, args);
    va_end(args);
}

}  // namespace

bool MachineKeyPathFromDeviceMap(const wchar_t* value, std::wstring& keyPath) {
    const size_t prefixLength = wcslen(kMachineRegistryPrefix);  // 18
    if (!value || wcslen(value) < prefixLength || _wcsnicmp(value, kMachineRegistryPrefix, prefixLength) != 0)
        return false;
    keyPath.assign(value + prefixLength);
    return true;
}

bool ReadAdapterDescriptionFromRegistry(wchar_t* description, size_t count, const wchar_t* deviceMapKey) {
    description[0] = L'\0';
    orlyn::UniqueHkey map;
    if (orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, deviceMapKey, KEY_QUERY_VALUE,
                          orlyn::RegView::Default, map) != ERROR_SUCCESS)
        return false;
    std::wstring device;
    if (orlyn::ReadRegString(map.get(), L"\\Device\\Video0", kValueLimitBytes, device) != ERROR_SUCCESS) return false;
    std::wstring keyPath;
    if (!MachineKeyPathFromDeviceMap(device.c_str(), keyPath)) return false;
    orlyn::UniqueHkey key;
    if (orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_QUERY_VALUE, orlyn::RegView::Default, key) !=
        ERROR_SUCCESS)
        return false;
    ReadTextValue(key.get(), L"Device Description", description, count);
    return description[0] != L'\0';
}

void GatherSystemInfo(SystemInfo& info) {
    info = SystemInfo{};
    GatherProcessor(info);
    GatherMemoryAndDisk(info);
    if (!GatherAdapterFromDirect3D(info)) {
        info.adapterDescription[0] = L'\0';
        ReadAdapterDescriptionFromRegistry(info.adapterDescription, kSystemInfoTextSize);
    }
    GatherWindowsVersion(info);
    GatherInternetExplorer(info);
    for (size_t i = 0; i < kSystemInfoDllCount; ++i) info.dllVersions[i] = FileVersionOfLoaded(kSystemInfoDlls[i]);
}

std::wstring OsNameLine(DWORD major, DWORD minor, DWORD platformId) {
    const wchar_t* name = nullptr;
    switch (major) {
    case 3:
        name = L"Windows NT 3.51";
        break;
    case 4:
        if (minor == 0) name = platformId == VER_PLATFORM_WIN32_NT ? L"Windows NT 4.0" : L"Windows 95";
        else if (minor == 10) name = L"Windows 98";
        else if (minor == 90) name = L"Windows Me";
        else return L"";
        break;
    case 5:
        if (minor == 0) name = L"Windows 2000";
        else if (minor == 1) name = L"Windows XP";
        else if (minor == 2) name = L"Windows Server 2003 family";
        else return L"";
        break;
    case 6:
        if (minor == 0) name = L"Windows Vista";
        else if (minor == 1) name = L"Windows 7";
        else if (minor == 2) name = L"Windows 8";
        else if (minor == 3) name = L"Windows 8.1";
        else return orlyn::FormatString(L"\tOSName        : Windows 6.%d\n", static_cast<int>(minor));
        break;
    case 10:
        if (minor == 0) name = L"Windows 10";
        else return orlyn::FormatString(L"\tOSName        : Windows 10.%d\n", static_cast<int>(minor));
        break;
    default:
        return orlyn::FormatString(L"\tOSName        : Windows %d.%d\n", static_cast<int>(major),
                                   static_cast<int>(minor));
    }
    return orlyn::FormatString(L"\tOSName        : %s\n", name);
}

std::wstring FormatFileVersion(ULONGLONG version) {
    DWORD high = static_cast<DWORD>(version >> 32);
    DWORD low = static_cast<DWORD>(version);
    return orlyn::FormatString(L"%u.%u.%u.%u", high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF);
}

std::wstring FormatSystemInfo(const SystemInfo& info, bool userIsAdmin) {
    std::wstring text;
    text += L"=========================\n";
    text += L"   System Info\n";
    text += L"=========================\n";
    text += L"CPU Info\n";
    Append(text, L"\tvender ID     : %s\n", info.processorVendor);
    Append(text, L"\tidentifier    : %s\n", info.processorIdentifier);
    Append(text, L"\tprocessorName : %s\n", info.processorName);
    Append(text, L"\tspeed         : %u MHz\n", info.processorMhz);
    text += L"BOARD Info\n";
    Append(text, L"\tmemory        : %u MB\n", info.memoryMb);
    Append(text, L"\tmain hdd      : %u MB\n", info.systemDiskMb);
    text += L"VGA Info\n";
    Append(text, L"\tdescription   : %s\n", info.adapterDescription);
    // One number: the driver version's most significant 16-bit part.
    Append(text, L"\tdriverVersion : %u\n", static_cast<unsigned>(info.adapterDriverVersion >> 48));
    Append(text, L"\tvendorId      : %u\n", info.adapterVendorId);
    Append(text, L"\tdeviceId      : %u\n", info.adapterDeviceId);
    Append(text, L"\tsubSysId      : %u\n", info.adapterSubSysId);
    Append(text, L"\trevision      : %u\n", info.adapterRevision);
    text += L"OS Info\n";
    Append(text, L"\tmajorVersion  : %u\n", info.osMajor);
    Append(text, L"\tminorVersion  : %u\n", info.osMinor);
    Append(text, L"\tbuildNumber   : %u\n", info.osBuild);
    Append(text, L"\tplatformId    : %u\n", info.osPlatformId);
    Append(text, L"\tCSDVersion    : %s\n", info.osServicePack);
    text += OsNameLine(info.osMajor, info.osMinor, info.osPlatformId);
    if (info.osMajor >= 5) Append(text, L"\tAdministrator : %s\n", userIsAdmin ? L"true" : L"false");
    text += L"IE Info\n";
    Append(text, L"\tversion       : %s\n", info.ieVersion);
    text += L"DLL Version Info\n";
    for (size_t i = 0; i < kSystemInfoDllCount; ++i)
        Append(text, kDllLineFormats[i], FormatFileVersion(info.dllVersions[i]).c_str());
    text += L"\n\n";
    return text;
}

void WriteSystemInfo(const SystemInfo& info, orlyn::LogStream& stream) {
    bool userIsAdmin = info.osMajor >= 5 && ::IsUserAnAdmin();
    stream.Write(FormatSystemInfo(info, userIsAdmin));
}
