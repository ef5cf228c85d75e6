#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/registry.h"
#include "common/string_format.h"
#include "install/system_registrations.h"
#include "support/test_support.h"

using namespace testing_support;
using orlyn::RegView;
using orlyn::UniqueHkey;

namespace {

const std::wstring kUninstallPath =
    std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kProductCode;

std::wstring AllUsersProductFolder() {
    wchar_t appData[MAX_PATH] = {};
    ::SHGetSpecialFolderPathW(nullptr, appData, CSIDL_COMMON_APPDATA, FALSE);
    return std::wstring(appData) + L"\\Orlyn\\TSL";
}

// The value as stored, type and bytes; the string read back without its terminator.
struct StoredValue {
    LONG rc = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    std::wstring text() const {
        std::wstring s(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        if (!s.empty() && s.back() == L'\0') s.pop_back();
        return s;
    }
};

StoredValue ReadValue(HKEY root, const std::wstring& path, const wchar_t* name, RegView view = RegView::Default) {
    StoredValue v;
    UniqueHkey key;
    v.rc = orlyn::OpenRegKey(root, path.c_str(), KEY_READ, view, key);
    if (v.rc != ERROR_SUCCESS) return v;
    DWORD size = 0;
    v.rc = ::RegQueryValueExW(key.get(), name, nullptr, &v.type, nullptr, &size);
    if (v.rc != ERROR_SUCCESS) return v;
    v.bytes.resize(size);
    v.rc = ::RegQueryValueExW(key.get(), name, nullptr, &v.type, v.bytes.data(), &size);
    return v;
}

// Expects a REG_SZ whose stored size counts the terminating NUL.
void ExpectRegSz(const StoredValue& v, const std::wstring& text) {
    ASSERT_EQ(v.rc, ERROR_SUCCESS);
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v.bytes.size(), (text.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(v.text(), text);
}

// Gives HKLM SOFTWARE\Orlyn\TSL an "InstallDirectory" for the test, or none, and puts back what was there.
class ProductKey {
public:
    ProductKey() {
        makerExisted_ = KeyExists(HKEY_LOCAL_MACHINE, kMakerKeyPath);
        existed_ = KeyExists(HKEY_LOCAL_MACHINE, kProductKeyPath);
        saved_ = ReadValue(HKEY_LOCAL_MACHINE, kProductKeyPath, L"InstallDirectory");
        Clear();
    }
    ~ProductKey() {
        if (!existed_) {
            // With the maker's key above it when the test made that too: later tests look for its absence.
            DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, makerExisted_ ? kProductKeyPath : kMakerKeyPath);
            return;
        }
        Clear();
        if (saved_.rc == ERROR_SUCCESS) Set(saved_.type, saved_.bytes);
    }
    void Set(DWORD type, const std::vector<BYTE>& bytes) {
        UniqueHkey key;
        ASSERT_EQ(orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, kProductKeyPath, KEY_ALL_ACCESS, RegView::Default, key),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(key.get(), L"InstallDirectory", 0, type, bytes.data(),
                                   static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
    }
    void SetText(DWORD type, const std::wstring& text) {
        const BYTE* p = reinterpret_cast<const BYTE*>(text.c_str());
        Set(type, std::vector<BYTE>(p, p + (text.size() + 1) * sizeof(wchar_t)));
    }
    void Clear() {
        UniqueHkey key;
        if (orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, kProductKeyPath, KEY_ALL_ACCESS, RegView::Default, key) ==
            ERROR_SUCCESS)
            ::RegDeleteValueW(key.get(), L"InstallDirectory");
    }

private:
    static constexpr const wchar_t* kMakerKeyPath = L"SOFTWARE\\Orlyn";
    bool makerExisted_ = false;
    bool existed_ = false;
    StoredValue saved_;
};

// Removes the uninstall entry before and after a test.
class UninstallEntryTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, kUninstallPath); }
    void TearDown() override { DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, kUninstallPath); }
    ProductKey product_;
};

// Replaces a key's access list with "Everyone may read" for the scope, through a handle that keeps the
// right to put the old list back.
class ReadOnlyKeyAcl {
public:
    ReadOnlyKeyAcl(HKEY root, const std::wstring& path) {
        if (::RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL | WRITE_DAC, key_.put()) != ERROR_SUCCESS) return;
        PSECURITY_DESCRIPTOR old = nullptr;
        if (::GetSecurityInfo(key_.get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &oldDacl_, nullptr, &old) != ERROR_SUCCESS)
            return;
        oldDescriptor_.reset(old);
        PSECURITY_DESCRIPTOR readOnly = nullptr;
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KR;;;WD)", SDDL_REVISION_1,
                                                                    &readOnly, nullptr))
            return;
        orlyn::UniqueLocal holder(readOnly);
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        ::GetSecurityDescriptorDacl(readOnly, &present, &dacl, &defaulted);
        applied_ = ::SetSecurityInfo(key_.get(), SE_REGISTRY_KEY,
                                     DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                     nullptr, dacl, nullptr) == ERROR_SUCCESS;
    }
    ~ReadOnlyKeyAcl() {
        if (applied_)
            ::SetSecurityInfo(key_.get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, oldDacl_,
                              nullptr);
    }
    bool applied() const { return applied_; }

private:
    UniqueHkey key_;
    orlyn::UniqueLocal oldDescriptor_;
    PACL oldDacl_ = nullptr;
    bool applied_ = false;
};

}  // namespace

TEST(BuildUninstallEntryTexts, QuotesTheExecutableAndKeepsLongFoldersWhole) {
    UninstallEntryTexts t = BuildUninstallEntryTexts(L"C:\\Games\\Tessel Hub");
    EXPECT_EQ(t.displayIcon, L"C:\\Games\\Tessel Hub\\TSL.exe");
    EXPECT_EQ(t.installLocation, L"C:\\Games\\Tessel Hub");
    EXPECT_EQ(t.uninstallString, L"\"C:\\Games\\Tessel Hub\\TSL.exe\" -mode:uninstall -game:0 -load_from_local");

    // A folder of 259 units makes texts longer than MAX_PATH; they must not be cut.
    std::wstring folder = L"C:\\" + std::wstring(256, L'f');
    UninstallEntryTexts longOne = BuildUninstallEntryTexts(folder.c_str());
    EXPECT_EQ(longOne.displayIcon, folder + L"\\TSL.exe");
    EXPECT_EQ(longOne.uninstallString, L"\"" + folder + L"\\TSL.exe\" -mode:uninstall -game:0 -load_from_local");
}

TEST(ResolveProductFolder, UsesInstallDirectoryOnlyWhenItIsAFittingString) {
    const std::wstring fallback = AllUsersProductFolder();
    const std::wstring fits(129, L'd');       // 260 bytes with the terminator
    const std::wstring tooLong(130, L'd');    // 262 bytes
    struct Case {
        const char* what;
        bool set;
        DWORD type;
        std::wstring text;
        std::wstring expected;
    } cases[] = {
        {"absent", false, REG_SZ, L"", fallback},
        {"REG_SZ, folder missing", true, REG_SZ, L"C:\\Orlyn Test\\Nowhere", L"C:\\Orlyn Test\\Nowhere"},
        {"REG_SZ of 260 bytes", true, REG_SZ, fits, fits},
        {"REG_SZ of 262 bytes", true, REG_SZ, tooLong, fallback},
        {"REG_EXPAND_SZ", true, REG_EXPAND_SZ, L"C:\\Expand", fallback},
        {"empty REG_SZ", true, REG_SZ, L"", fallback},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProductKey product;
        if (c.set) product.SetText(c.type, c.text);
        DeleteTree(fallback);
        wchar_t folder[MAX_PATH];
        ASSERT_TRUE(ResolveProductFolder(folder));
        EXPECT_EQ(std::wstring(folder), c.expected);
        // The all-users folder is made when it is the answer; a folder from the registry is left alone.
        EXPECT_EQ(FolderExists(fallback), c.expected == fallback);
        EXPECT_FALSE(FolderExists(L"C:\\Orlyn Test"));
    }
}

TEST(ResolveProductFolder, ReadsAKeyThatOnlyAllowsReading) {
    ProductKey product;
    product.SetText(REG_SZ, L"C:\\Games\\Locked");
    ReadOnlyKeyAcl acl(HKEY_LOCAL_MACHINE, kProductKeyPath);
    ASSERT_TRUE(acl.applied());
    UniqueHkey probe;
    ASSERT_EQ(orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, kProductKeyPath, KEY_ALL_ACCESS, RegView::Default, probe),
              ERROR_ACCESS_DENIED);
    wchar_t folder[MAX_PATH];
    ASSERT_TRUE(ResolveProductFolder(folder));
    EXPECT_STREQ(folder, L"C:\\Games\\Locked");
}

TEST_F(UninstallEntryTest, RecordsInstallDirectory) {
    product_.SetText(REG_SZ, L"C:\\Games\\Tessel");
    ASSERT_TRUE(WriteUninstallEntry());
    ExpectRegSz(ReadValue(HKEY_LOCAL_MACHINE, kUninstallPath, L"DisplayName"), L"Tessel Hub");
    ExpectRegSz(ReadValue(HKEY_LOCAL_MACHINE, kUninstallPath, L"DisplayIcon"), L"C:\\Games\\Tessel\\TSL.exe");
    ExpectRegSz(ReadValue(HKEY_LOCAL_MACHINE, kUninstallPath, L"InstallLocation"), L"C:\\Games\\Tessel");
    ExpectRegSz(ReadValue(HKEY_LOCAL_MACHINE, kUninstallPath, L"UninstallString"),
                L"\"C:\\Games\\Tessel\\TSL.exe\" -mode:uninstall -game:0 -load_from_local");
}

TEST_F(UninstallEntryTest, RecordsTheAllUsersFolderWithoutInstallDirectory) {
    const std::wstring folder = AllUsersProductFolder();
    ASSERT_TRUE(WriteUninstallEntry());
    ExpectRegSz(ReadValue(HKEY_LOCAL_MACHINE, kUninstallPath, L"DisplayName"), L"Tessel Hub");
    ExpectRegSz(ReadValue(HKEY_LOCAL_MACHINE, kUninstallPath, L"DisplayIcon"), folder + L"\\TSL.exe");
    ExpectRegSz(ReadValue(HKEY_LOCAL_MACHINE, kUninstallPath, L"InstallLocation"), folder);
    ExpectRegSz(ReadValue(HKEY_LOCAL_MACHINE, kUninstallPath, L"UninstallString"),
                L"\"" + folder + L"\\TSL.exe\" -mode:uninstall -game:0 -load_from_local");
    EXPECT_TRUE(FolderExists(folder));
    // A second run rewrites the same entry.
    ASSERT_TRUE(WriteUninstallEntry());
    ExpectRegSz(ReadValue(HKEY_LOCAL_MACHINE, kUninstallPath, L"InstallLocation"), folder);
}

TEST_F(UninstallEntryTest, ReportsFailureWhenTheKeyRefusesWriting) {
    {
        UniqueHkey key;
        ASSERT_EQ(orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, kUninstallPath.c_str(), KEY_ALL_ACCESS, RegView::Default,
                                      key),
                  ERROR_SUCCESS);
    }
    {
        ReadOnlyKeyAcl acl(HKEY_LOCAL_MACHINE, kUninstallPath);
        ASSERT_TRUE(acl.applied());
        EXPECT_FALSE(WriteUninstallEntry());
        EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kUninstallPath, L"DisplayName").rc, ERROR_FILE_NOT_FOUND);
    }
}

TEST(DeleteRegistryKey, DeletesDirectSubkeysThenTheKey) {
    std::wstring path = L"SOFTWARE\\OrlynTests\\" + UniqueName(L"del");
    for (const wchar_t* child : {L"\\a", L"\\b", L"\\c"}) {
        UniqueHkey key;
        ASSERT_EQ(orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, (path + child).c_str(), KEY_ALL_ACCESS, RegView::Default,
                                      key),
                  ERROR_SUCCESS);
        ASSERT_EQ(orlyn::SetRegString(key.get(), L"v", L"x"), ERROR_SUCCESS);
    }
    EXPECT_TRUE(DeleteRegistryKey(path.c_str()));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path));
    EXPECT_FALSE(DeleteRegistryKey(path.c_str()));  // missing
}

TEST(DeleteRegistryKey, StopsAtASubkeyWithSubkeysOfItsOwn) {
    std::wstring path = L"SOFTWARE\\OrlynTests\\" + UniqueName(L"del");
    {
        UniqueHkey key;
        ASSERT_EQ(orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, (path + L"\\a\\deep").c_str(), KEY_ALL_ACCESS,
                                      RegView::Default, key),
                  ERROR_SUCCESS);
    }
    EXPECT_FALSE(DeleteRegistryKey(path.c_str()));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, path + L"\\a\\deep"));
    DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, path);
}

TEST(HasFirewallInterface, FromXpServicePack2On) {
    struct Case {
        DWORD major, minor;
        WORD sp;
        bool expected;
    } cases[] = {
        {4, 0, 6, false}, {5, 0, 4, false}, {5, 1, 0, false}, {5, 1, 1, false}, {5, 1, 2, true}, {5, 1, 3, true},
        {5, 2, 0, true},  {6, 0, 0, true},  {6, 1, 1, true},  {10, 0, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.major << "." << c.minor << " SP" << c.sp);
        EXPECT_EQ(HasFirewallInterface(c.major, c.minor, c.sp), c.expected);
    }
}

TEST(SplitInstalledPath, FolderAndName) {
    struct Case {
        const wchar_t* path;
        const wchar_t* folder;
        const wchar_t* name;
    } cases[] = {
        {L"C:\\A\\B\\TSL.exe", L"C:\\A\\B", L"TSL.exe"},
        {L"TSL.exe", L"", L"TSL.exe"},
        {L"C:\\A\\", L"C:\\A", L""},
        {L"", L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.path));
        std::wstring folder, name;
        SplitInstalledPath(c.path, folder, name);
        EXPECT_EQ(folder, c.folder);
        EXPECT_EQ(name, c.name);
    }
}

TEST(WriteElevationPolicy, WritesTheThreeValuesInEitherView) {
    struct Case {
        const wchar_t* path;
        const wchar_t* appPath;
        const wchar_t* appName;
    } cases[] = {
        {L"C:\\ProgramData\\Orlyn\\TSL\\TSL.exe", L"C:\\ProgramData\\Orlyn\\TSL", L"TSL.exe"},
        {L"TSLAgent.exe", L"", L"TSLAgent.exe"},
    };
    for (bool use64 : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << orlyn::ToUtf8(c.path) << (use64 ? " 64-bit view" : " default"));
            std::wstring policyKey = L"{" + UniqueName(L"OrlynTest") + L"}";
            std::wstring keyPath = std::wstring(kElevationPolicyKeyPrefix) + policyKey;
            RegView view = use64 ? RegView::Wow64_64 : RegView::Default;
            ASSERT_TRUE(WriteElevationPolicy(policyKey.c_str(), c.path, use64));
            ExpectRegSz(ReadValue(HKEY_LOCAL_MACHINE, keyPath, L"AppName", view), c.appName);
            ExpectRegSz(ReadValue(HKEY_LOCAL_MACHINE, keyPath, L"AppPath", view), c.appPath);
            StoredValue policy = ReadValue(HKEY_LOCAL_MACHINE, keyPath, L"Policy", view);
            ASSERT_EQ(policy.rc, ERROR_SUCCESS);
            EXPECT_EQ(policy.type, static_cast<DWORD>(REG_DWORD));
            ASSERT_EQ(policy.bytes.size(), 4u);
            EXPECT_EQ(*reinterpret_cast<const DWORD*>(policy.bytes.data()), 3u);
            DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, keyPath, orlyn::ViewFlag(view));
        }
    }
}

TEST(WriteElevationPolicy, RefusesAnEmptyPolicyKey) {
    const std::wstring parent = L"SOFTWARE\\Microsoft\\Internet Explorer\\Low Rights\\ElevationPolicy";
    EXPECT_FALSE(WriteElevationPolicy(L"", L"C:\\X\\TSL.exe", false));
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, parent, L"AppName").rc, ERROR_FILE_NOT_FOUND);
}

TEST(WriteElevationPolicy, FailsWhenTheKeyRefusesWriting) {
    std::wstring policyKey = L"{" + UniqueName(L"OrlynTest") + L"}";
    std::wstring keyPath = std::wstring(kElevationPolicyKeyPrefix) + policyKey;
    {
        UniqueHkey key;
        ASSERT_EQ(orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_ALL_ACCESS, RegView::Default, key),
                  ERROR_SUCCESS);
    }
    {
        ReadOnlyKeyAcl acl(HKEY_LOCAL_MACHINE, keyPath);
        ASSERT_TRUE(acl.applied());
        EXPECT_FALSE(WriteElevationPolicy(policyKey.c_str(), L"C:\\X\\TSL.exe", false));
    }
    DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, keyPath);
}

namespace {

// In-process stand-ins for the firewall's authorised-application objects, to reach the answers that
// Wine's firewall never gives (it reports every application as present and disabled).
template <typename Interface>
class FakeDispatch : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(Interface)) {
            *out = static_cast<Interface*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Owned by the test; the references only count.
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
    long refs = 1;
};

class FakeApplication : public FakeDispatch<INetFwAuthorizedApplication> {
public:
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* v) override { return (*v = ::SysAllocString(name.c_str())), S_OK; }
    HRESULT STDMETHODCALLTYPE put_Name(BSTR v) override { return name = v ? v : L"", S_OK; }
    HRESULT STDMETHODCALLTYPE get_ProcessImageFileName(BSTR* v) override {
        return (*v = ::SysAllocString(image.c_str())), S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_ProcessImageFileName(BSTR v) override { return image = v ? v : L"", S_OK; }
    HRESULT STDMETHODCALLTYPE get_IpVersion(NET_FW_IP_VERSION* v) override {
        return *v = NET_FW_IP_VERSION_ANY, S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_IpVersion(NET_FW_IP_VERSION) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Scope(NET_FW_SCOPE* v) override { return *v = NET_FW_SCOPE_ALL, S_OK; }
    HRESULT STDMETHODCALLTYPE put_Scope(NET_FW_SCOPE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RemoteAddresses(BSTR* v) override { return (*v = ::SysAllocString(L"*")), S_OK; }
    HRESULT STDMETHODCALLTYPE put_RemoteAddresses(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* v) override { return *v = enabled, S_OK; }
    HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL v) override { return enabled = v, S_OK; }
    std::wstring name, image;
    VARIANT_BOOL enabled = VARIANT_TRUE;  // the default of a new object
};

class FakeApplications : public FakeDispatch<INetFwAuthorizedApplications> {
public:
    HRESULT STDMETHODCALLTYPE get_Count(LONG* v) override { return *v = static_cast<LONG>(known.size()), S_OK; }
    HRESULT STDMETHODCALLTYPE Add(INetFwAuthorizedApplication* app) override {
        if (FAILED(addResult)) return addResult;
        auto* fake = static_cast<FakeApplication*>(app);
        added.push_back(*fake);
        known[fake->image] = fake->enabled;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Remove(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Item(BSTR image, INetFwAuthorizedApplication** app) override {
        ++itemCalls;
        *app = nullptr;
        auto it = known.find(image);
        if (it == known.end()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        items.push_back(std::make_unique<FakeApplication>());
        items.back()->image = image;
        items.back()->enabled = it->second;
        *app = items.back().get();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown**) override { return E_NOTIMPL; }

    std::map<std::wstring, VARIANT_BOOL> known;
    std::vector<FakeApplication> added;
    std::vector<std::unique_ptr<FakeApplication>> items;
    HRESULT addResult = S_OK;
    int itemCalls = 0;
};

struct FakeFirewall {
    FakeApplications applications;
    FakeApplication created;
    HRESULT getResult = S_OK;
    int gets = 0;
    bool Authorize(const wchar_t* path, const wchar_t* name) {
        auto get = [this](INetFwAuthorizedApplications** out) {
            ++gets;
            *out = nullptr;
            if (FAILED(getResult)) return getResult;
            applications.AddRef();
            *out = &applications;
            return S_OK;
        };
        auto create = [this](INetFwAuthorizedApplication** out) {
            created.AddRef();
            *out = &created;
            return S_OK;
        };
        return AuthorizeInFirewallProfile(get, create, path, name);
    }
};

}  // namespace

TEST(AuthorizeInFirewallProfile, LeavesAnEnabledApplicationAlone) {
    FakeFirewall fw;
    fw.applications.known[L"C:\\Games\\TSL.exe"] = VARIANT_TRUE;
    EXPECT_TRUE(fw.Authorize(L"C:\\Games\\TSL.exe", L"Tessel Hub"));
    EXPECT_TRUE(fw.applications.added.empty());
    EXPECT_EQ(fw.applications.itemCalls, 1);
}

TEST(AuthorizeInFirewallProfile, AddsAnApplicationThatIsMissingOrDisabled) {
    for (bool present : {false, true}) {
        SCOPED_TRACE(present ? "present, disabled" : "missing");
        FakeFirewall fw;
        if (present) fw.applications.known[L"C:\\Games\\TSL.exe"] = VARIANT_FALSE;
        EXPECT_TRUE(fw.Authorize(L"C:\\Games\\TSL.exe", L"Tessel Hub"));
        ASSERT_EQ(fw.applications.added.size(), 1u);
        EXPECT_EQ(fw.applications.added[0].image, L"C:\\Games\\TSL.exe");
        EXPECT_EQ(fw.applications.added[0].name, L"Tessel Hub");
        EXPECT_EQ(fw.applications.added[0].enabled, VARIANT_TRUE);
        EXPECT_EQ(fw.applications.refs, 1);  // every reference taken was given back
        EXPECT_EQ(fw.created.refs, 1);
    }
}

TEST(AuthorizeInFirewallProfile, ReportsFailures) {
    {
        SCOPED_TRACE("applications unavailable");
        FakeFirewall fw;
        fw.getResult = E_ACCESSDENIED;
        EXPECT_FALSE(fw.Authorize(L"C:\\Games\\TSL.exe", L"Tessel Hub"));
    }
    {
        SCOPED_TRACE("Add refused");
        FakeFirewall fw;
        fw.applications.addResult = E_ACCESSDENIED;
        EXPECT_FALSE(fw.Authorize(L"C:\\Games\\TSL.exe", L"Tessel Hub"));
    }
    {
        SCOPED_TRACE("empty path");
        FakeFirewall fw;
        EXPECT_FALSE(fw.Authorize(L"", L"Tessel Hub"));
        EXPECT_TRUE(fw.applications.added.empty());
    }
}

TEST(AuthorizeFirewallApplication, AddsThroughTheSystemFirewall) {
    // Wine's firewall answers every Item with a disabled entry and stores nothing on Add, so only the
    // "added" road can be taken here; the "already enabled" road is covered with the stand-ins above.
    TempDir dir(L"fw");
    std::wstring exe = dir / L"TSL.exe";
    ASSERT_TRUE(WriteFileBytes(exe, "MZ"));
    EXPECT_TRUE(AuthorizeFirewallApplication(exe.c_str(), L"Tessel Hub"));
    EXPECT_TRUE(AuthorizeFirewallApplication(exe.c_str(), L"Tessel Hub"));  // a second run as well
}

TEST(AuthorizeFirewallApplication, FailsOnAThreadWithoutCom) {
    TempDir dir(L"fw");
    std::wstring exe = dir / L"TSL.exe";
    ASSERT_TRUE(WriteFileBytes(exe, "MZ"));
    bool result = true;
    std::thread worker([&] { result = AuthorizeFirewallApplication(exe.c_str(), L"Tessel Hub"); });
    worker.join();
    EXPECT_FALSE(result);
}
