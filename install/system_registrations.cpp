#include "install/system_registrations.h"

#include <shlobj.h>

#include <cwchar>

#include "common/registry.h"
#include "common/string_format.h"
#include "common/unique_handle.h"
#include "install/payload_extraction.h"

using orlyn::ComPtr;
using orlyn::RegView;
using orlyn::UniqueBstr;
using orlyn::UniqueHkey;

namespace {

// {304CE942-6E39-40D8-943A-B913C40C9CD4}: HNetCfg.FwMgr
constexpr CLSID kClsidFwMgr = {0x304ce942, 0x6e39, 0x40d8, {0x94, 0x3a, 0xb9, 0x13, 0xc4, 0x0c, 0x9c, 0xd4}};
// {EC9846B3-2762-4A6B-A214-6ACB603462D2}: HNetCfg.FwAuthorizedApplication
constexpr CLSID kClsidFwAuthorizedApplication = {
    0xec9846b3, 0x2762, 0x4a6b, {0xa2, 0x14, 0x6a, 0xcb, 0x60, 0x34, 0x62, 0xd2}};

constexpr wchar_t kExecutableName[] = L"TSL.exe";

bool SetOneUninstallValue(const wchar_t* keyPath, const wchar_t* name, const wchar_t* text) {
    UniqueHkey key;
    if (orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, keyPath, KEY_ALL_ACCESS, RegView::Default, key) != ERROR_SUCCESS)
        return false;
    return orlyn::SetRegString(key.get(), name, text) == ERROR_SUCCESS;
}

// S_OK with the answer, or the failure that kept the question from being answered. An application
// that Item does not find is simply not authorised.
HRESULT IsEnabledAuthorizedApplication(const FirewallApplicationsSource& getApplications, const wchar_t* path,
                                       bool& enabled) {
    enabled = false;
    ComPtr<INetFwAuthorizedApplications> applications;
    HRESULT hr = getApplications(applications.put());
    if (FAILED(hr)) return hr;
    if (!applications) return E_POINTER;
    if (!path || !*path) return E_OUTOFMEMORY;
    UniqueBstr image(path);
    if (!image.get()) return E_OUTOFMEMORY;
    ComPtr<INetFwAuthorizedApplication> application;
    if (FAILED(applications->Item(image.get(), application.put())) || !application) return S_OK;
    VARIANT_BOOL flag = VARIANT_FALSE;
    hr = application->get_Enabled(&flag);
    if (FAILED(hr)) return hr;
    enabled = flag == VARIANT_TRUE;
    return S_OK;
}

HRESULT AddAuthorizedApplication(const FirewallApplicationsSource& getApplications,
                                 const FirewallApplicationFactory& createApplication, const wchar_t* path,
                                 const wchar_t* name) {
    bool enabled = false;
    HRESULT hr = IsEnabledAuthorizedApplication(getApplications, path, enabled);
    if (FAILED(hr)) return hr;
    if (enabled) return S_OK;
    ComPtr<INetFwAuthorizedApplications> applications;
    hr = getApplications(applications.put());
    if (FAILED(hr)) return hr;
    if (!applications) return E_POINTER;
    ComPtr<INetFwAuthorizedApplication> application;
    hr = createApplication(application.put());
    if (FAILED(hr)) return hr;
    if (!application) return E_POINTER;
    UniqueBstr image(path);
    UniqueBstr displayName(name ? name : L"");
    if (!image.get() || !displayName.get()) return E_OUTOFMEMORY;
    hr = application->put_ProcessImageFileName(image.get());
    if (FAILED(hr)) return hr;
    hr = application->put_Name(displayName.get());
    if (FAILED(hr)) return hr;
    return applications->Add(application.get());
}

}  // namespace

bool ResolveProductFolder(wchar_t* folder) {
    folder[0] = L'\0';
    UniqueHkey key;
    // Reading needs only query access: a key whose access list allows no more must still give its folder.
    if (orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, kProductKeyPath, KEY_QUERY_VALUE, RegView::Default, key) ==
        ERROR_SUCCESS) {
        std::wstring value;
        if (orlyn::ReadRegString(key.get(), L"InstallDirectory", 260, value) == ERROR_SUCCESS && !value.empty() &&
            orlyn::CopyFixed(folder, MAX_PATH, value.c_str()))
            return true;
    }
    wchar_t appData[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, appData, CSIDL_COMMON_APPDATA, TRUE)) return false;
    if (!orlyn::Format(folder, MAX_PATH, L"%s\\Orlyn\\TSL", appData)) {
        folder[0] = L'\0';
        return false;
    }
    // Whether the folder could be made does not matter here; the install writes into it later.
    (void)CreateFolderPath(folder);
    return true;
}

UninstallEntryTexts BuildUninstallEntryTexts(const wchar_t* productFolder) {
    UninstallEntryTexts texts;
    texts.installLocation = productFolder;
    texts.displayIcon = orlyn::FormatString(L"%s\\%s", productFolder, kExecutableName);
    texts.uninstallString =
        orlyn::FormatString(L"\"%s\" -mode:uninstall -game:0 -load_from_local", texts.displayIcon.c_str());
    return texts;
}

bool WriteUninstallEntry() {
    std::wstring keyPath = orlyn::FormatString(kUninstallKeyFormat, kProductCode);
    wchar_t folder[MAX_PATH];
    if (!ResolveProductFolder(folder)) return false;
    UninstallEntryTexts texts = BuildUninstallEntryTexts(folder);

    bool ok = SetOneUninstallValue(keyPath.c_str(), L"DisplayName", L"Tessel Hub") &&
              SetOneUninstallValue(keyPath.c_str(), L"DisplayIcon", texts.displayIcon.c_str()) &&
              SetOneUninstallValue(keyPath.c_str(), L"InstallLocation", texts.installLocation.c_str()) &&
              SetOneUninstallValue(keyPath.c_str(), L"UninstallString", texts.uninstallString.c_str());
    if (ok) return true;
    // A half-written entry would show a broken program in the installed programs list.
    DeleteRegistryKey(keyPath.c_str());
    return false;
}

bool DeleteRegistryKey(const wchar_t* subKey) {
    // Direct subkeys only: a subkey with subkeys of its own stays, and so does the key.
    return orlyn::DeleteRegTree(HKEY_LOCAL_MACHINE, subKey, RegView::Default, 1) == ERROR_SUCCESS;
}

bool HasFirewallInterface(DWORD major, DWORD minor, WORD servicePackMajor) {
    if (major != 5) return major > 5;
    if (minor == 0) return false;                   // Windows 2000
    if (minor == 1) return servicePackMajor >= 2;   // Windows XP
    return true;                                    // 5.2: Server 2003, XP x64
}

bool AuthorizeFirewallApplication(const wchar_t* path, const wchar_t* name) {
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)) &&
        !HasFirewallInterface(version.dwMajorVersion, version.dwMinorVersion, version.wServicePackMajor))
        return true;

    ComPtr<INetFwProfile> profile;
    {
        ComPtr<INetFwMgr> manager;
        if (FAILED(::CoCreateInstance(kClsidFwMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwMgr),
                                      manager.put_void())))
            return false;
        ComPtr<INetFwPolicy> policy;
        if (FAILED(manager->get_LocalPolicy(policy.put())) || !policy) return false;
        if (FAILED(policy->get_CurrentProfile(profile.put())) || !profile) return false;
    }
    auto getApplications = [&profile](INetFwAuthorizedApplications** out) {
        return profile->get_AuthorizedApplications(out);
    };
    auto createApplication = [](INetFwAuthorizedApplication** out) {
        return ::CoCreateInstance(kClsidFwAuthorizedApplication, nullptr, CLSCTX_INPROC_SERVER,
                                  __uuidof(INetFwAuthorizedApplication), reinterpret_cast<void**>(out));
    };
    return AuthorizeInFirewallProfile(getApplications, createApplication, path, name);
}

bool AuthorizeInFirewallProfile(const FirewallApplicationsSource& getApplications,
                                const FirewallApplicationFactory& createApplication, const wchar_t* path,
                                const wchar_t* name) {
    bool enabled = false;
    if (SUCCEEDED(IsEnabledAuthorizedApplication(getApplications, path, enabled)) && enabled) return true;
    return SUCCEEDED(AddAuthorizedApplication(getApplications, createApplication, path, name));
}

void SplitInstalledPath(const wchar_t* path, std::wstring& folder, std::wstring& name) {
    const wchar_t* slash = wcsrchr(path, L'\\');
    if (!slash) {
        folder.clear();
        name = path;
        return;
    }
    folder.assign(path, slash - path);
    name = slash + 1;
}

bool WriteElevationPolicy(const wchar_t* policyKey, const wchar_t* path, bool use64BitView) {
    // An empty policy key would put the values on the ElevationPolicy key itself.
    if (!policyKey || !*policyKey || !path) return false;
    std::wstring folder, name;
    SplitInstalledPath(path, folder, name);
    std::wstring keyPath = std::wstring(kElevationPolicyKeyPrefix) + policyKey;
    UniqueHkey key;
    if (orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_ALL_ACCESS,
                            use64BitView ? RegView::Wow64_64 : RegView::Default, key) != ERROR_SUCCESS)
        return false;
    return orlyn::SetRegString(key.get(), L"AppName", name.c_str()) == ERROR_SUCCESS &&
           orlyn::SetRegString(key.get(), L"AppPath", folder.c_str()) == ERROR_SUCCESS &&
           orlyn::SetRegDword(key.get(), L"Policy", 3) == ERROR_SUCCESS;
}
