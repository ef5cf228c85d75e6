// The machine snapshot that opens the repair log: processor, memory, system disk, graphics adapter,
// Windows version, Internet Explorer and the versions of a few system libraries.
#pragma once

#include <windows.h>

#include <string>

namespace orlyn {
class LogStream;
}

constexpr size_t kSystemInfoTextSize = 1024;
constexpr size_t kSystemInfoDllCount = 10;

// The libraries whose versions the report lists, in its order.
extern const wchar_t* const kSystemInfoDlls[kSystemInfoDllCount];

struct SystemInfo {
    wchar_t processorIdentifier[kSystemInfoTextSize] = {};
    wchar_t processorVendor[kSystemInfoTextSize] = {};
    wchar_t processorName[kSystemInfoTextSize] = {};
    DWORD processorMhz = 0;
    DWORD memoryMb = 0;
    DWORD systemDiskMb = 0;
    wchar_t adapterDescription[kSystemInfoTextSize] = {};
    ULONGLONG adapterDriverVersion = 0;  // four 16-bit parts, most significant first
    DWORD adapterVendorId = 0;
    DWORD adapterDeviceId = 0;
    DWORD adapterSubSysId = 0;
    DWORD adapterRevision = 0;
    DWORD osMajor = 0;
    DWORD osMinor = 0;
    DWORD osBuild = 0;
    DWORD osPlatformId = 0;
    wchar_t osServicePack[kSystemInfoTextSize] = {};
    wchar_t ieVersion[kSystemInfoTextSize] = {};
    // File versions, most significant half (DWORD) in the high 32 bits; 0 when unknown.
    ULONGLONG dllVersions[kSystemInfoDllCount] = {};
};

// Fills the record; a query that fails leaves its field empty or 0.
void GatherSystemInfo(SystemInfo& info);
// The adapter's description from the video device map (used when Direct3D 9 cannot name the adapter):
// the map's value \Device\Video0 names the device's key under HKLM, whose "Device Description" it reads.
constexpr const wchar_t* kVideoDeviceMapKey = L"HARDWARE\\DEVICEMAP\\VIDEO";
bool ReadAdapterDescriptionFromRegistry(wchar_t* description, size_t count,
                                        const wchar_t* deviceMapKey = kVideoDeviceMapKey);
// "\\Registry\\Machine\\..." (any case) to the key path below HKLM; false for anything else.
bool MachineKeyPathFromDeviceMap(const wchar_t* value, std::wstring& keyPath);

// The section's text, every line as the log shows it. userIsAdmin fills the administrator line.
std::wstring FormatSystemInfo(const SystemInfo& info, bool userIsAdmin);
// The OS name line for a version, or empty when the table has none.
std::wstring OsNameLine(DWORD major, DWORD minor, DWORD platformId);
// "%u.%u.%u.%u" of a file version.
std::wstring FormatFileVersion(ULONGLONG version);

// Writes the section to the log stream without timestamps.
void WriteSystemInfo(const SystemInfo& info, orlyn::LogStream& stream);
