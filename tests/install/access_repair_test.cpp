#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/repair_context.h"
#include "common/string_format.h"
#include "common/unique_handle.h"
#include "common/windows_version.h"
#include "install/access_repair.h"
#include "install/access_list_readback.h"
#include "install/file_security.h"
#include "support/temp_log.h"
#include "support/test_support.h"

using testing_support::TempDir;
using testing_support::TempLogContext;
using testing_support::UniqueName;

namespace {

// A key tree under HKLM\SOFTWARE made for one test, in one view flag (0, KEY_WOW64_32KEY or
// KEY_WOW64_64KEY). Keys the test locked are opened up again before the tree is deleted.
class TestKeyTree {
public:
    explicit TestKeyTree(REGSAM view = 0, std::wstring base = L"")
        : view_(view), base_(base.empty() ? L"SOFTWARE\\" + UniqueName(L"OrlynRepairTest") : base) {
        Create(L"");
    }
    ~TestKeyTree() {
        Unlock(base_);
        testing_support::DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, base_, view_);
    }
    TestKeyTree(const TestKeyTree&) = delete;
    TestKeyTree& operator=(const TestKeyTree&) = delete;

    std::wstring Path(const std::wstring& sub) const { return sub.empty() ? base_ : base_ + L"\\" + sub; }
    std::wstring Name(const std::wstring& sub = L"") const { return L"MACHINE\\" + Path(sub); }

    void Create(const std::wstring& sub) const {
        orlyn::UniqueHkey key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, Path(sub).c_str(), 0, nullptr, 0,
                                                   KEY_ALL_ACCESS | view_, nullptr, key.put(), nullptr));
    }
    // Leaves only read access for everyone: KEY_ALL_ACCESS is refused from then on.
    void MakeReadOnly(const std::wstring& sub) const { SetDacl(Path(sub), L"D:P(A;;KR;;;WD)(A;;KR;;;BA)"); }
    // Any protected list, given in SDDL.
    void SetList(const std::wstring& sub, const wchar_t* sddl) const { SetDacl(Path(sub), sddl); }

    LONG OpenFully(const std::wstring& sub) const {
        orlyn::UniqueHkey key;
        return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path(sub).c_str(), 0, KEY_ALL_ACCESS | view_, key.put());
    }
    bool Exists(const std::wstring& sub) const {
        orlyn::UniqueHkey key;
        return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path(sub).c_str(), 0, KEY_READ | view_, key.put()) ==
               ERROR_SUCCESS;
    }
    std::wstring DaclText(const std::wstring& sub) const {
        orlyn::UniqueHkey key;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path(sub).c_str(), 0, READ_CONTROL | view_, key.put()) !=
            ERROR_SUCCESS)
            return L"<cannot open>";
        PACL dacl = nullptr;
        orlyn::UniqueLocal descriptor;
        if (::GetSecurityInfo(key.get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS)
            return L"<cannot read>";
        orlyn::UniqueLocal text;
        if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.get(), SDDL_REVISION_1,
                                                                    DACL_SECURITY_INFORMATION,
                                                                    reinterpret_cast<LPWSTR*>(text.put()), nullptr))
            return L"<cannot convert>";
        return static_cast<const wchar_t*>(text.get());
    }

private:
    void SetDacl(const std::wstring& path, const wchar_t* sddl) const {
        orlyn::UniqueLocal descriptor;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr));
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
        orlyn::UniqueHkey key;
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC | view_, key.put()));
        ASSERT_EQ(ERROR_SUCCESS, ::SetSecurityInfo(key.get(), SE_REGISTRY_KEY,
                                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                                   nullptr, nullptr, dacl, nullptr));
    }
    void Unlock(const std::wstring& path) const {
        orlyn::UniqueHkey key;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC | view_, key.put()) == ERROR_SUCCESS) {
            SetDacl(path, L"D:(A;;KA;;;BA)(A;;KA;;;WD)");
        }
        key.reset();
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view_, key.put()) != ERROR_SUCCESS) return;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD length = 256;
            if (::RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            Unlock(path + L"\\" + name);
        }
    }

    REGSAM view_;
    std::wstring base_;
};

// The list a repair writes is exactly two explicit entries without inheritance flags: Administrators
// everything, then Everyone read. Nothing of the old list is kept. (Built from no old list, SET and GRANT
// both give one allowed entry.) Entries inherited from the parent, which Windows adds, are not the repair's.
void ExpectRepairList(HKEY root, const std::wstring& path, REGSAM view = 0) {
    using namespace access_readback;
    SCOPED_TRACE(orlyn::ToUtf8(path));
    DWORD error = 0;
    std::vector<Ace> explicitAces;
    for (const Ace& ace : KeyAces(root, path, view, &error))
        if (!(ace.flags & INHERITED_ACE)) explicitAces.push_back(ace);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), error);
    ASSERT_EQ(2u, explicitAces.size());
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, explicitAces[0].type);
    EXPECT_EQ(0, explicitAces[0].flags);
    EXPECT_TRUE(explicitAces[0].sid == WellKnownSid(WinBuiltinAdministratorsSid));
    EXPECT_EQ(static_cast<ACCESS_MASK>(KEY_ALL_ACCESS), KeyRights(explicitAces[0].mask));
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, explicitAces[1].type);
    EXPECT_EQ(0, explicitAces[1].flags);
    EXPECT_TRUE(explicitAces[1].sid == WellKnownSid(WinWorldSid));
    EXPECT_EQ(static_cast<ACCESS_MASK>(KEY_READ), KeyRights(explicitAces[1].mask));
}

}  // namespace

TEST(SplitRegistryObjectName, TakesOnlyTheLeadingRootPrefix) {
    struct Case {
        const wchar_t* name;
        bool ok;
        HKEY root;
        const wchar_t* path;
    } cases[] = {
        {L"CLASSES_ROOT\\CLSID\\{871D8DC2-84A4-4D1F-99D5-2A4E3BE2E87C}", true, HKEY_CLASSES_ROOT,
         L"CLSID\\{871D8DC2-84A4-4D1F-99D5-2A4E3BE2E87C}"},
        {L"CURRENT_USER\\Software\\Orlyn", true, HKEY_CURRENT_USER, L"Software\\Orlyn"},
        {L"MACHINE\\SOFTWARE\\Orlyn", true, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlyn"},
        {L"USERS\\.DEFAULT\\Software", true, HKEY_USERS, L".DEFAULT\\Software"},
        // The prefix text further along is part of the path.
        {L"MACHINE\\SOFTWARE\\Vendor\\MACHINE\\Settings", true, HKEY_LOCAL_MACHINE,
         L"SOFTWARE\\Vendor\\MACHINE\\Settings"},
        {L"CLASSES_ROOT\\A\\XCLASSES_ROOT\\B", true, HKEY_CLASSES_ROOT, L"A\\XCLASSES_ROOT\\B"},
        {L"HKEY_CLASSES_ROOT\\CLSID", false, nullptr, nullptr},
        {L"machine\\SOFTWARE", false, nullptr, nullptr},
        {L"MACHINE", false, nullptr, nullptr},
        {L"", false, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.name));
        HKEY root = nullptr;
        std::wstring path;
        ASSERT_EQ(c.ok, SplitRegistryObjectName(c.name, root, path));
        if (!c.ok) continue;
        EXPECT_EQ(c.root, root);
        EXPECT_EQ(c.path, path);
    }
    std::wstring tooLong = L"MACHINE\\" + std::wstring(kRegistryObjectNameSize, L'a');
    HKEY root = nullptr;
    std::wstring path;
    EXPECT_FALSE(SplitRegistryObjectName(tooLong.c_str(), root, path));
}

TEST(RepairRegistryKeyAccess, LeavesAnAccessibleTreeUnchanged) {
    TestKeyTree tree;
    tree.Create(L"a");
    tree.Create(L"a\\b");
    const std::wstring before[] = {tree.DaclText(L""), tree.DaclText(L"a"), tree.DaclText(L"a\\b")};

    EXPECT_TRUE(RepairRegistryKeyAccess(tree.Name().c_str(), false));
    EXPECT_EQ(before[0], tree.DaclText(L""));
    EXPECT_EQ(before[1], tree.DaclText(L"a"));
    EXPECT_EQ(before[2], tree.DaclText(L"a\\b"));
}

TEST(RepairRegistryKeyAccess, AMissingKeyCountsAsAccessible) {
    TestKeyTree tree;
    EXPECT_TRUE(RepairRegistryKeyAccess(tree.Name(L"missing").c_str(), false));
    EXPECT_TRUE(RepairRegistryKeyAccess(tree.Name(L"missing").c_str(), true));
    EXPECT_FALSE(tree.Exists(L"missing"));
}

TEST(RepairRegistryKeyAccess, AnUnknownPrefixFailsWithoutTouchingTheKey) {
    TestKeyTree tree;
    tree.Create(L"locked");
    tree.MakeReadOnly(L"locked");
    ASSERT_EQ(ERROR_ACCESS_DENIED, tree.OpenFully(L"locked"));
    std::wstring before = tree.DaclText(L"locked");

    for (const std::wstring& name : {L"HKEY_LOCAL_MACHINE\\" + tree.Path(L"locked"), L"HKLM\\" + tree.Path(L"locked"),
                                     L"machine\\" + tree.Path(L"locked")}) {
        SCOPED_TRACE(orlyn::ToUtf8(name));
        EXPECT_FALSE(RepairRegistryKeyAccess(name.c_str(), false));
    }
    EXPECT_EQ(ERROR_ACCESS_DENIED, tree.OpenFully(L"locked"));
    EXPECT_EQ(before, tree.DaclText(L"locked"));
}

TEST(RepairRegistryKeyAccess, RepairsEveryLockedKeyOfTheTree) {
    TestKeyTree tree;
    for (const wchar_t* sub : {L"a", L"a\\deep", L"a\\deep\\deeper", L"b", L"b\\c", L"b\\d"}) tree.Create(sub);
    tree.MakeReadOnly(L"a\\deep\\deeper");
    // Guests' entry and the deny entry show whether anything of the old list is kept.
    tree.SetList(L"b", L"D:P(D;;KW;;;BG)(A;;KR;;;WD)(A;;KR;;;BA)(A;;KR;;;BG)");
    std::wstring untouched = tree.DaclText(L"b\\d");
    ASSERT_EQ(ERROR_ACCESS_DENIED, tree.OpenFully(L"b"));

    EXPECT_TRUE(RepairRegistryKeyAccess(tree.Name().c_str(), false));
    for (const wchar_t* sub : {L"a\\deep\\deeper", L"b", L"b\\c", L"b\\d"}) {
        SCOPED_TRACE(orlyn::ToUtf8(sub));
        EXPECT_EQ(ERROR_SUCCESS, tree.OpenFully(sub));
    }
    EXPECT_EQ(untouched, tree.DaclText(L"b\\d"));

    ExpectRepairList(HKEY_LOCAL_MACHINE, tree.Path(L"b"));
    ExpectRepairList(HKEY_LOCAL_MACHINE, tree.Path(L"a\\deep\\deeper"));
}

TEST(RepairRegistryKeyAccess, AFailingSubkeyFailsTheCallButItsSiblingsAreStillRepaired) {
    // A branch so deep that its names no longer fit a registry object name cannot be checked.
    TestKeyTree tree;
    std::wstring deep = L"a";
    for (int level = 0; level < 5; ++level) {
        deep += L"\\" + std::wstring(250, static_cast<wchar_t>(L'k' + level));
        tree.Create(deep);
    }
    ASSERT_GT(tree.Name(deep).size(), kRegistryObjectNameSize);
    tree.Create(L"b");
    tree.Create(L"b\\c");
    tree.MakeReadOnly(L"b");
    tree.MakeReadOnly(L"b\\c");

    EXPECT_FALSE(RepairRegistryKeyAccess(tree.Name().c_str(), false));
    EXPECT_EQ(ERROR_SUCCESS, tree.OpenFully(L"b"));
    EXPECT_EQ(ERROR_SUCCESS, tree.OpenFully(L"b\\c"));
}

TEST(RepairRegistryKeyAccess, ReachesKeysWhosePathRepeatsTheRootPrefix) {
    // "MACHINE\\" and "CLASSES_ROOT\\" inside the path are key names, not prefixes to strip.
    TestKeyTree tree;
    for (const wchar_t* sub : {L"MACHINE", L"MACHINE\\inner", L"XCLASSES_ROOT", L"XCLASSES_ROOT\\inner"})
        tree.Create(sub);
    tree.MakeReadOnly(L"MACHINE\\inner");
    tree.MakeReadOnly(L"XCLASSES_ROOT\\inner");

    EXPECT_TRUE(RepairRegistryKeyAccess(tree.Name().c_str(), false));
    EXPECT_EQ(ERROR_SUCCESS, tree.OpenFully(L"MACHINE\\inner"));
    EXPECT_EQ(ERROR_SUCCESS, tree.OpenFully(L"XCLASSES_ROOT\\inner"));
}

TEST(RepairRegistryKeyAccess, RepairsTheWholeTreeInTheViewItWasAskedFor) {
    // In the i686 run (the shipped program under WOW64) the 32-bit view is the default one and the 64-bit
    // view the other; in the x86_64 run the 32-bit view plays the other view's part.
    std::wstring base = L"SOFTWARE\\" + UniqueName(L"OrlynRepairViews");
    TestKeyTree view32(KEY_WOW64_32KEY, base);
    TestKeyTree view64(KEY_WOW64_64KEY, base);
    {
        orlyn::UniqueHkey key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, base.c_str(), 0,
                                                 KEY_SET_VALUE | KEY_WOW64_32KEY, key.put()));
        DWORD one = 1;
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), L"view", 0, REG_DWORD,
                                                  reinterpret_cast<const BYTE*>(&one), sizeof(one)));
        orlyn::UniqueHkey other;
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, base.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, other.put()));
        ASSERT_EQ(ERROR_FILE_NOT_FOUND, ::RegQueryValueExW(other.get(), L"view", nullptr, nullptr, nullptr, nullptr))
            << "the two views must be separate keys";
    }
    for (const TestKeyTree* tree : {&view32, &view64}) {
        tree->Create(L"child");
        tree->Create(L"child\\grandchild");
        tree->MakeReadOnly(L"child");
        tree->MakeReadOnly(L"child\\grandchild");
    }

    EXPECT_TRUE(RepairRegistryKeyAccessInView(view32.Name().c_str(), RepairView::Wow64_32));
    EXPECT_EQ(ERROR_SUCCESS, view32.OpenFully(L"child"));
    EXPECT_EQ(ERROR_SUCCESS, view32.OpenFully(L"child\\grandchild"));
    ExpectRepairList(HKEY_LOCAL_MACHINE, view32.Path(L"child"), KEY_WOW64_32KEY);
    ExpectRepairList(HKEY_LOCAL_MACHINE, view32.Path(L"child\\grandchild"), KEY_WOW64_32KEY);
    EXPECT_EQ(ERROR_ACCESS_DENIED, view64.OpenFully(L"child")) << "the other view's key is not touched";
    EXPECT_EQ(ERROR_ACCESS_DENIED, view64.OpenFully(L"child\\grandchild"));

    EXPECT_TRUE(RepairRegistryKeyAccess(view64.Name().c_str(), true));
    EXPECT_EQ(ERROR_SUCCESS, view64.OpenFully(L"child"));
    EXPECT_EQ(ERROR_SUCCESS, view64.OpenFully(L"child\\grandchild"));
    ExpectRepairList(HKEY_LOCAL_MACHINE, view64.Path(L"child"), KEY_WOW64_64KEY);
    ExpectRepairList(HKEY_LOCAL_MACHINE, view64.Path(L"child\\grandchild"), KEY_WOW64_64KEY);
}

TEST(RepairRegistryKeyAccess, TakesOwnershipWhenTheOwnerCannotBeRead) {
    // Wine refuses WRITE_OWNER even with SeTakeOwnershipPrivilege enabled, so such a key could not be
    // repaired or removed again in the shared prefix.
    ORLYN_SKIP_ON_WINE("SeTakeOwnershipPrivilege does not grant WRITE_OWNER on registry keys");
    TestKeyTree tree;
    tree.Create(L"foreign");
    {
        orlyn::UniqueHkey key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, tree.Path(L"foreign").c_str(), 0,
                                                 WRITE_OWNER | WRITE_DAC, key.put()));
        BYTE guests[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof(guests);
        ASSERT_TRUE(::CreateWellKnownSid(WinBuiltinGuestsSid, nullptr, guests, &size));
        ACL empty;
        ASSERT_TRUE(::InitializeAcl(&empty, sizeof(empty), ACL_REVISION));
        ASSERT_EQ(ERROR_SUCCESS, ::SetSecurityInfo(key.get(), SE_REGISTRY_KEY,
                                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                                   nullptr, nullptr, &empty, nullptr));
        if (::SetSecurityInfo(key.get(), SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, guests, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS)
            GTEST_SKIP() << "this account may not give a key away";
    }
    EXPECT_TRUE(RepairRegistryKeyAccess(tree.Name().c_str(), false));
    EXPECT_EQ(ERROR_SUCCESS, tree.OpenFully(L"foreign"));
}

TEST(RepairComRegistryAccess, MissingComKeysCountAsAccessibleAndLogNothing) {
    for (const wchar_t* name : kModuleComKeys) {
        HKEY root = nullptr;
        std::wstring path;
        ASSERT_TRUE(SplitRegistryObjectName(name, root, path));
        orlyn::UniqueHkey key;
        if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS)
            GTEST_SKIP() << "the module's COM keys exist on this machine";
    }
    TempLogContext<> context(L"acl");
    ASSERT_TRUE(context.logOpened());
    EXPECT_TRUE(RepairComRegistryAccess(context));
    context.CloseLog();
    EXPECT_TRUE(context.Messages().empty());
}

TEST(RepairComRegistryAccess, RepairsALockedComKeyInBothViews) {
    const std::wstring progId = L"QRCOM.QrMachineControl.2";
    {
        orlyn::UniqueHkey existing;
        if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, progId.c_str(), 0, KEY_READ, existing.put()) == ERROR_SUCCESS)
            GTEST_SKIP() << "the module's COM keys exist on this machine";
    }
    testing_support::ScopedRegKey created(HKEY_CLASSES_ROOT, progId);
    orlyn::UniqueHkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(created.key(), L"CLSID", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                               key.put(), nullptr));
    key.reset();
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_CLASSES_ROOT, (progId + L"\\CLSID").c_str(), 0, WRITE_DAC,
                                             key.put()));
    orlyn::UniqueLocal descriptor;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P(A;;KR;;;WD)", SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
    ASSERT_EQ(ERROR_SUCCESS, ::SetSecurityInfo(key.get(), SE_REGISTRY_KEY,
                                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                               nullptr, nullptr, dacl, nullptr));
    key.reset();
    orlyn::UniqueHkey probe;
    ASSERT_EQ(ERROR_ACCESS_DENIED,
              ::RegOpenKeyExW(HKEY_CLASSES_ROOT, (progId + L"\\CLSID").c_str(), 0, KEY_ALL_ACCESS, probe.put()));

    TempLogContext<> context(L"acl");
    ASSERT_TRUE(context.logOpened());
    EXPECT_TRUE(RepairComRegistryAccess(context));
    context.CloseLog();
    EXPECT_TRUE(context.Messages().empty());
    EXPECT_EQ(ERROR_SUCCESS,
              ::RegOpenKeyExW(HKEY_CLASSES_ROOT, (progId + L"\\CLSID").c_str(), 0, KEY_ALL_ACCESS, probe.put()));
    ExpectRepairList(HKEY_CLASSES_ROOT, progId + L"\\CLSID");
}

// A COM class registered by 64-bit code lives in the 64-bit view of HKCR\CLSID, which the shipped 32-bit
// program reaches only by asking for that view; its key and the subkeys below it are repaired there.
TEST(RepairComRegistryAccess, RepairsALockedClassKeyOfThe64BitView) {
    const std::wstring clsid = L"CLSID\\{A7B202AB-A508-4235-9C97-C25799782590}";
    const std::wstring server = clsid + L"\\InprocServer32";
    auto exists = [](const std::wstring& path, REGSAM view) {
        orlyn::UniqueHkey key;
        return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
    };
    if (exists(clsid, KEY_WOW64_64KEY) || exists(clsid, KEY_WOW64_32KEY))
        GTEST_SKIP() << "the module's COM keys exist on this machine";
    auto setDacl = [](const std::wstring& path, const wchar_t* sddl) {
        orlyn::UniqueHkey key;
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, WRITE_DAC | KEY_WOW64_64KEY, key.put()));
        orlyn::UniqueLocal sd;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(sd.put()), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, sd.get()));
    };
    struct Cleanup {
        std::function<void()> run;
        ~Cleanup() { run(); }
    } cleanup{[&] {
        for (const std::wstring& path : {clsid, server}) {
            orlyn::UniqueHkey key;
            if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, WRITE_DAC | KEY_WOW64_64KEY, key.put()) ==
                ERROR_SUCCESS)
                setDacl(path, L"D:(A;;KA;;;BA)(A;;KA;;;WD)");
        }
        testing_support::DeleteRegTreeForTest(HKEY_CLASSES_ROOT, clsid, KEY_WOW64_64KEY);
    }};
    {
        orlyn::UniqueHkey key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, nullptr, 0,
                                                   KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, key.put(), nullptr));
    }
    setDacl(server, L"D:P(A;;KR;;;WD)");
    setDacl(clsid, L"D:P(A;;KRWD;;;WD)");
    auto openFully = [](const std::wstring& path) {
        orlyn::UniqueHkey key;
        return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, key.put());
    };
    ASSERT_EQ(ERROR_ACCESS_DENIED, openFully(clsid));
    ASSERT_EQ(ERROR_ACCESS_DENIED, openFully(server));
    EXPECT_EQ(orlyn::IsRunningUnderWow64(), !exists(clsid, 0)) << "under WOW64 the default view is the other one";

    TempLogContext<> context(L"acl");
    ASSERT_TRUE(context.logOpened());
    EXPECT_TRUE(RepairComRegistryAccess(context));
    context.CloseLog();
    EXPECT_TRUE(context.Messages().empty());
    EXPECT_EQ(ERROR_SUCCESS, openFully(clsid));
    EXPECT_EQ(ERROR_SUCCESS, openFully(server));
}

TEST(RepairComRegistryAccess, LogsEveryFailingKeyInBothViewsAndChecksTheRest) {
    TestKeyTree tree;
    tree.Create(L"locked");
    tree.MakeReadOnly(L"locked");
    const std::wstring locked = tree.Name(L"locked");
    const wchar_t* keys[] = {L"HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-000000000001}", locked.c_str()};

    TempLogContext<> context(L"acl");
    ASSERT_TRUE(context.logOpened());
    EXPECT_FALSE(RepairRegistryKeysAccess(context, keys, 2));
    context.CloseLog();
    const std::wstring failure = L"Error\tHKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-000000000001} "
                                 L"레지스트리에 접근할 수 없습니다.";
    std::vector<std::wstring> expected = {failure, failure};
    EXPECT_EQ(expected, context.Messages());
    EXPECT_EQ(ERROR_SUCCESS, tree.OpenFully(L"locked")) << "the key after the failing one was still repaired";
}

TEST(CFileSecurity, IsOneInstanceWithAPermissiveNewFileList) {
    CFileSecurity* security = CFileSecurity::Instance();
    ASSERT_NE(nullptr, security);
    EXPECT_EQ(security, CFileSecurity::Instance());
    ASSERT_NE(nullptr, security->FileAttributes()) << "Windows reports version 6 or later here";
    const SECURITY_ATTRIBUTES& attributes = *security->FileAttributes();
    EXPECT_EQ(sizeof(SECURITY_ATTRIBUTES), attributes.nLength);
    EXPECT_FALSE(attributes.bInheritHandle);

    BOOL present = FALSE, defaulted = TRUE;
    PACL dacl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(attributes.lpSecurityDescriptor, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_FALSE(defaulted);
    ASSERT_NE(nullptr, dacl);
    ASSERT_EQ(2u, dacl->AceCount);
    BYTE everyone[SECURITY_MAX_SID_SIZE], administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(everyone);
    ASSERT_TRUE(::CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size));
    size = sizeof(administrators);
    ASSERT_TRUE(::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
    bool sawEveryone = false, sawAdministrators = false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(::GetAce(dacl, i, &ace));
        auto allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, allowed->Header.AceType);
        EXPECT_EQ(0, allowed->Header.AceFlags) << "no inheritance flags";
        if (::EqualSid(&allowed->SidStart, everyone)) {
            sawEveryone = true;
            EXPECT_EQ(0xE0010000u, allowed->Mask);
        } else if (::EqualSid(&allowed->SidStart, administrators)) {
            sawAdministrators = true;
            EXPECT_EQ(static_cast<DWORD>(GENERIC_ALL), allowed->Mask);
        }
    }
    EXPECT_TRUE(sawEveryone);
    EXPECT_TRUE(sawAdministrators);

    TempDir dir(L"fsec");
    orlyn::UniqueFileHandle file(::CreateFileW((dir / L"new.bin").c_str(), GENERIC_WRITE, 0,
                                               security->FileAttributes(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                               nullptr));
    EXPECT_TRUE(file.valid()) << ::GetLastError();
}

TEST(CFileSecurity, HoldsNothingBeforeWindowsVista) {
    CFileSecurity old(5);
    EXPECT_EQ(0u, old.securityAttributes.nLength);
    EXPECT_EQ(nullptr, old.FileAttributes());
    TempDir dir(L"fsec");
    ASSERT_TRUE(testing_support::WriteFileBytes(dir / L"f.txt", "x"));
    EXPECT_FALSE(old.EveryoneSIDAllowed((dir / L"f.txt").c_str()));
}

TEST(CFileSecurity, EveryoneSIDAllowedGrantsOnExistingFilesAndFolders) {
    TempDir dir(L"fsec");
    const std::wstring file = dir / L"payload.dll";
    ASSERT_TRUE(testing_support::WriteFileBytes(file, "x"));
    CFileSecurity* security = CFileSecurity::Instance();
    EXPECT_TRUE(security->EveryoneSIDAllowed(file.c_str())) << ::GetLastError();
    EXPECT_TRUE(security->EveryoneSIDAllowed(dir.path().c_str())) << ::GetLastError();

    ::SetLastError(0xDEAD);
    EXPECT_FALSE(security->EveryoneSIDAllowed((dir / L"missing.dll").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());

    // A path that does not fit is refused, never cut short to name another file.
    std::wstring tooLong = dir.path() + L"\\" + std::wstring(MAX_PATH, L'a');
    EXPECT_FALSE(security->EveryoneSIDAllowed(tooLong.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), ::GetLastError());

}

TEST(CFileSecurity, EveryoneSIDAllowedMergesEveryoneIntoTheListForTheObjectAndWhatIsBelowIt) {
    using namespace access_readback;
    // Read, write, execute and delete, as the file system spells GENERIC_READ | GENERIC_WRITE |
    // GENERIC_EXECUTE | DELETE.
    const ACCESS_MASK kFullUse = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
    const std::vector<BYTE> everyone = WellKnownSid(WinWorldSid);
    TempDir dir(L"fsec");
    const std::wstring folder = dir / L"TSL";
    const std::wstring file = folder + L"\\TSL.exe";
    ASSERT_TRUE(testing_support::CreateFolders(folder));
    ASSERT_TRUE(testing_support::WriteFileBytes(file, "MZ"));

    for (const std::wstring& path : {file, folder}) {
        SCOPED_TRACE(orlyn::ToUtf8(path));
        const bool isFolder = path == folder;
        DWORD error = 0;
        std::vector<Ace> before = FileAces(path, &error);
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), error);
        ASSERT_NE(kFullUse, AllowedFileRights(before, everyone, Reach::Object) & kFullUse)
            << "Everyone may already do everything: the grant would show nothing";

        EXPECT_TRUE(CFileSecurity::Instance()->EveryoneSIDAllowed(path.c_str())) << ::GetLastError();

        std::vector<Ace> after = FileAces(path, &error);
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), error);
        EXPECT_EQ(kFullUse, AllowedFileRights(after, everyone, Reach::Object) & kFullUse);
        if (isFolder) {
            EXPECT_EQ(kFullUse, AllowedFileRights(after, everyone, Reach::FilesAndFoldersBelow) & kFullUse)
                << "files and folders made inside inherit the entry";
        }
        EXPECT_TRUE(WithoutSid(before, everyone) == WithoutSid(after, everyone)) << "the old list is merged, not replaced";
    }

}

TEST(CFileSecurity, EveryoneSIDAllowedReplacesEveryonesOldEntries) {
    // SET, not GRANT: Everyone's old entries, a deny among them, give way to the one entry.
    ORLYN_SKIP_ON_WINE("a file's deny entry is not stored, so there is none to replace");
    using namespace access_readback;
    const ACCESS_MASK kFullUse = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
    const std::vector<BYTE> everyone = WellKnownSid(WinWorldSid);
    TempDir dir(L"fsec");
    const std::wstring denied = dir / L"denied.dll";
    ASSERT_TRUE(testing_support::WriteFileBytes(denied, "x"));
    orlyn::UniqueLocal descriptor;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(D;;FW;;;WD)(A;;FA;;;BA)(A;;FA;;;SY)", SDDL_REVISION_1,
        reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
    wchar_t name[MAX_PATH];
    ASSERT_TRUE(orlyn::CopyFixed(name, MAX_PATH, denied.c_str()));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              ::SetNamedSecurityInfoW(name, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr));
    EXPECT_TRUE(CFileSecurity::Instance()->EveryoneSIDAllowed(denied.c_str())) << ::GetLastError();
    for (const Ace& ace : FileAces(denied)) {
        if (ace.sid == everyone && !(ace.flags & INHERITED_ACE)) {
            EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace.type) << "Everyone's deny entry is still there";
        }
    }
    EXPECT_EQ(kFullUse, AllowedFileRights(FileAces(denied), everyone, Reach::Object) & kFullUse);
}
