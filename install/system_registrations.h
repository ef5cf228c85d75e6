// Registrations that make Windows aware of the installed module: the product folder, the uninstall
// entry, Windows Firewall authorisation and Internet Explorer's elevation policy. All in HKLM.
#pragma once

#include <windows.h>
#include <netfw.h>

#include <functional>
#include <string>

constexpr wchar_t kProductCode[] = L"{8D2C7F05-E6A3-4B19-92E8-D4B5A0C3617F}";
constexpr wchar_t kProductKeyPath[] = L"SOFTWARE\\Orlyn\\TSL";
constexpr wchar_t kUninstallKeyFormat[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s";
constexpr wchar_t kElevationPolicyKeyPrefix[] =
    L"SOFTWARE\\Microsoft\\Internet Explorer\\Low Rights\\ElevationPolicy\\";

// The game manager's install folder (at most 259 units) into a buffer of MAX_PATH units: HKLM
// SOFTWARE\Orlyn\TSL "InstallDirectory" when it is a non-empty REG_SZ of at most 260 bytes, else
// "<all-users application data>\Orlyn\TSL", which is created.
[[nodiscard]] bool ResolveProductFolder(wchar_t* folder);

// The three texts of the uninstall entry that depend on the product folder.
struct UninstallEntryTexts {
    std::wstring displayIcon;      // "<folder>\TSL.exe"
    std::wstring installLocation;  // the folder
    std::wstring uninstallString;  // "\"<folder>\TSL.exe\" -mode:uninstall -game:0 -load_from_local"
};
UninstallEntryTexts BuildUninstallEntryTexts(const wchar_t* productFolder);

// Writes the uninstall entry; on failure removes what it wrote (as far as DeleteRegistryKey can).
bool WriteUninstallEntry();

// Deletes the HKLM key after its direct subkeys; false when the key itself is still there.
bool DeleteRegistryKey(const wchar_t* subKey);

// Whether a Windows version has the Windows Firewall COM interfaces (XP SP2 and later).
[[nodiscard]] bool HasFirewallInterface(DWORD major, DWORD minor, WORD servicePackMajor);

// Makes path an enabled authorised application named name in the current firewall profile. True also
// when it already was one, or when the system has no such firewall. COM must be initialised.
[[nodiscard]] bool AuthorizeFirewallApplication(const wchar_t* path, const wchar_t* name);

// The profile-level work of AuthorizeFirewallApplication: getApplications hands out the profile's
// AuthorizedApplications, createApplication a new HNetCfg.FwAuthorizedApplication.
using FirewallApplicationsSource = std::function<HRESULT(INetFwAuthorizedApplications**)>;
using FirewallApplicationFactory = std::function<HRESULT(INetFwAuthorizedApplication**)>;
[[nodiscard]] bool AuthorizeInFirewallProfile(const FirewallApplicationsSource& getApplications,
                                              const FirewallApplicationFactory& createApplication,
                                              const wchar_t* path, const wchar_t* name);

// Splits an installed path at its last backslash: folder before it (empty if none), name after it.
void SplitInstalledPath(const wchar_t* path, std::wstring& folder, std::wstring& name);

// Creates ElevationPolicy\<policyKey> with AppName, AppPath and Policy = 3, in the default or 64-bit view.
[[nodiscard]] bool WriteElevationPolicy(const wchar_t* policyKey, const wchar_t* path, bool use64BitView);
