#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browser/custom_scheme.h"
#include "common/registry.h"
#include "common/string_format.h"
#include "common/unique_handle.h"
#include "common/windows_version.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

std::wstring ClassesKey(const std::wstring& scheme) { return L"Software\\Classes\\" + scheme; }
std::wstring ProtocolExecuteKey(const std::wstring& scheme) {
    return L"Software\\Microsoft\\Internet Explorer\\ProtocolExecute\\" + scheme;
}

// A scheme name of the test's own, removed from both roots and both views at the end of the scope.
class TestScheme {
public:
    TestScheme() : name_(UniqueName(L"orlyntest")) {}
    ~TestScheme() {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            DeleteRegTreeForTest(root, ClassesKey(name_));
            DeleteRegTreeForTest(root, ProtocolExecuteKey(name_));
            DeleteRegTreeForTest(root, ProtocolExecuteKey(name_), KEY_WOW64_64KEY);
        }
    }
    const std::wstring& name() const { return name_; }

private:
    std::wstring name_;
};

void CreateKey(HKEY root, const std::wstring& path) {
    orlyn::UniqueHkey key;
    ASSERT_EQ(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
              ERROR_SUCCESS)
        << "creating " << orlyn::ToUtf8(path);
}

struct RegValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool found = false;
};

RegValue ReadValue(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view = 0) {
    RegValue v;
    orlyn::UniqueHkey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return v;
    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), name, nullptr, &v.type, nullptr, &size) != ERROR_SUCCESS) return v;
    v.data.resize(size);
    v.found = ::RegQueryValueExW(key.get(), name, nullptr, &v.type, v.data.data(), &size) == ERROR_SUCCESS;
    return v;
}

// The stored REG_SZ must carry exactly the text and its terminating NUL.
void ExpectRegSz(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text) {
    RegValue v = ReadValue(root, path, name);
    ASSERT_TRUE(v.found) << orlyn::ToUtf8(path);
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    ASSERT_EQ(v.data.size(), (text.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(v.data.data()), text.size()), text);
    EXPECT_EQ(reinterpret_cast<const wchar_t*>(v.data.data())[text.size()], L'\0');
}

const wchar_t kOpenAcl[] = L"D:(A;OICI;KA;;;WD)";

}  // namespace

TEST(FormatHandlerCommand, QuotesThePathUnlessItIsQuotedAlready) {
    struct Case {
        const wchar_t* path;
        const wchar_t* command;
    } cases[] = {
        {L"C:\\Program Files\\Orlyn\\TSL\\TSL.exe", L"\"C:\\Program Files\\Orlyn\\TSL\\TSL.exe\" \"%1\""},
        {L"TSL.exe", L"\"TSL.exe\" \"%1\""},
        {L"\"C:\\Program Files\\TSL.exe\"", L"\"C:\\Program Files\\TSL.exe\" \"%1\""},
        {L"\"C:\\a b\\TSL.exe\" --url", L"\"C:\\a b\\TSL.exe\" --url \"%1\""},
        // A percent sign in the path is data, not a format.
        {L"C:\\100%s done\\TSL.exe", L"\"C:\\100%s done\\TSL.exe\" \"%1\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.path));
        EXPECT_EQ(FormatHandlerCommand(c.path), c.command);
    }
}

TEST(CCustomScheme, KeyPathsAreBuiltFromTheSchemeName) {
    CCustomScheme scheme(L"tsl");
    EXPECT_EQ(scheme.GetScheme(), L"tsl");
    EXPECT_EQ(scheme.GetClassesKey(), L"Software\\Classes\\tsl");
    EXPECT_EQ(scheme.GetProtocolExecuteKey(), L"Software\\Microsoft\\Internet Explorer\\ProtocolExecute\\tsl");
}

TEST(CCustomScheme, RegisterWritesTheSchemeLayoutUnderEitherRoot) {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        SCOPED_TRACE(orlyn::ToUtf8(orlyn::RootPrefix(root)));
        TestScheme t;
        CCustomScheme scheme(t.name().c_str());
        EXPECT_FALSE(scheme.IsRegistered(root));
        ASSERT_TRUE(scheme.Register(root, L"C:\\Program Files\\Orlyn\\TSL\\TSL.exe"));
        EXPECT_TRUE(scheme.IsRegistered(root));
        ExpectRegSz(root, ClassesKey(t.name()), nullptr, L"URL:" + t.name() + L" protocol");
        ExpectRegSz(root, ClassesKey(t.name()), L"URL Protocol", L"");
        ExpectRegSz(root, ClassesKey(t.name()) + L"\\Shell\\Open\\Command", nullptr,
                    L"\"C:\\Program Files\\Orlyn\\TSL\\TSL.exe\" \"%1\"");
        for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
            RegValue warn = ReadValue(root, ProtocolExecuteKey(t.name()), L"WarnOnOpen", view);
            ASSERT_TRUE(warn.found);
            EXPECT_EQ(warn.type, static_cast<DWORD>(REG_DWORD));
            ASSERT_EQ(warn.data.size(), sizeof(DWORD));
            EXPECT_EQ(*reinterpret_cast<const DWORD*>(warn.data.data()), 0u);
        }
        HKEY other = root == HKEY_CURRENT_USER ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        EXPECT_FALSE(scheme.IsRegistered(other));
    }
}

TEST(CCustomScheme, RegisterWithoutHandlerWritesNothing) {
    TestScheme t;
    CCustomScheme scheme(t.name().c_str());
    EXPECT_FALSE(scheme.Register(HKEY_CURRENT_USER, nullptr));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, ClassesKey(t.name())));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, ProtocolExecuteKey(t.name())));
}

TEST(CCustomScheme, RegisterKeepsAPartialKeyWhichUnregisterRemoves) {
    TestScheme t;
    CCustomScheme scheme(t.name().c_str());
    const std::wstring shell = ClassesKey(t.name()) + L"\\Shell";
    CreateKey(HKEY_CURRENT_USER, shell);
    // Shell may be read and deleted but gets no subkeys: the command key cannot be made.
    SetKeyAclForTest(HKEY_CURRENT_USER, shell, L"D:P(A;;KRSDWD;;;WD)");
    EXPECT_FALSE(scheme.Register(HKEY_CURRENT_USER, L"C:\\TSL.exe"));
    EXPECT_TRUE(scheme.IsRegistered(HKEY_CURRENT_USER));
    ExpectRegSz(HKEY_CURRENT_USER, ClassesKey(t.name()), nullptr, L"URL:" + t.name() + L" protocol");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, shell + L"\\Open\\Command"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, ProtocolExecuteKey(t.name())));

    EXPECT_TRUE(scheme.Unregister());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, ClassesKey(t.name())));
}

TEST(CCustomScheme, UnregisterRemovesEverySubkeyUnderBothRoots) {
    TestScheme t;
    CCustomScheme scheme(t.name().c_str());
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        ASSERT_TRUE(scheme.Register(root, L"C:\\TSL.exe"));
        for (const wchar_t* sub : {L"\\Shell\\Print\\Command", L"\\DefaultIcon", L"\\Extra\\A\\B", L"\\Extra\\C"})
            CreateKey(root, ClassesKey(t.name()) + sub);
    }
    EXPECT_TRUE(scheme.Unregister());
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        SCOPED_TRACE(orlyn::ToUtf8(orlyn::RootPrefix(root)));
        EXPECT_FALSE(scheme.IsRegistered(root));
        EXPECT_FALSE(KeyExists(root, ProtocolExecuteKey(t.name())));
        EXPECT_FALSE(KeyExists(root, ProtocolExecuteKey(t.name()), KEY_WOW64_64KEY));
    }
}

TEST(CCustomScheme, UnregisterWithNothingRegisteredSucceeds) {
    TestScheme t;
    CCustomScheme scheme(t.name().c_str());
    EXPECT_TRUE(scheme.Unregister());
    EXPECT_FALSE(scheme.RemoveFromRoot(HKEY_CURRENT_USER));
    EXPECT_FALSE(CCustomScheme::DeleteKeyTree(HKEY_CURRENT_USER, ClassesKey(t.name()).c_str()));
}

TEST(CCustomScheme, UnregisterFailsWhenASubkeyIsProtected) {
    TestScheme t;
    CCustomScheme scheme(t.name().c_str());
    ASSERT_TRUE(scheme.Register(HKEY_CURRENT_USER, L"C:\\TSL.exe"));
    const std::wstring locked = ClassesKey(t.name()) + L"\\Locked";
    CreateKey(HKEY_CURRENT_USER, locked + L"\\Inner");
    // Read and WRITE_DAC only: Locked cannot be opened to empty it, and a key with subkeys is not deleted.
    SetKeyAclForTest(HKEY_CURRENT_USER, locked, L"D:P(A;;KRWD;;;WD)");

    EXPECT_FALSE(scheme.Unregister());
    EXPECT_TRUE(scheme.IsRegistered(HKEY_CURRENT_USER));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, locked));
    SetKeyAclForTest(HKEY_CURRENT_USER, locked, kOpenAcl);
    EXPECT_TRUE(scheme.Unregister());
}

TEST(CCustomScheme, IsRegisteredForASchemeKeyWithoutCommand) {
    TestScheme t;
    CCustomScheme scheme(t.name().c_str());
    CreateKey(HKEY_CURRENT_USER, ClassesKey(t.name()));
    EXPECT_TRUE(scheme.IsRegistered(HKEY_CURRENT_USER));
    EXPECT_FALSE(scheme.IsRegistered(HKEY_LOCAL_MACHINE));
}

TEST(CCustomScheme, ProtocolExecuteKeyInTheSixtyFourBitView) {
    TestScheme t;
    CCustomScheme scheme(t.name().c_str());
    const std::wstring path = ProtocolExecuteKey(t.name());
    EXPECT_TRUE(scheme.EditProtocolExecuteKey(HKEY_CURRENT_USER, false, true));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, path, KEY_WOW64_64KEY));
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, path, L"WarnOnOpen", KEY_WOW64_64KEY).found);
    EXPECT_TRUE(scheme.EditProtocolExecuteKey(HKEY_CURRENT_USER, true, true));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, path, KEY_WOW64_64KEY));
    EXPECT_FALSE(scheme.EditProtocolExecuteKey(HKEY_CURRENT_USER, true, true));

    EXPECT_TRUE(scheme.SetProtocolExecute(HKEY_CURRENT_USER, false));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, path));
    EXPECT_TRUE(scheme.SetProtocolExecute(HKEY_CURRENT_USER, true));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, path));
    EXPECT_FALSE(scheme.SetProtocolExecute(HKEY_CURRENT_USER, true));  // nothing left to delete
}

// The shipped 32-bit program on 64-bit Windows (the i686 run) writes the key in both registry views and
// removes it from both; a 64-bit process (the x86_64 run) has one view and writes only that. HKLM\SOFTWARE
// has a view of each; HKCU\Software is one key in both views, which the removal must count as removed.
TEST(CCustomScheme, ProtocolExecuteKeyInBothViewsUnderWow64) {
    const bool wow64 = orlyn::IsRunningUnderWow64();
#ifdef _WIN64
    ASSERT_FALSE(wow64);
#else
    ASSERT_TRUE(wow64) << "the 32-bit tests run on 64-bit Windows (WoW64)";
#endif
    TestScheme t;
    CCustomScheme scheme(t.name().c_str());
    const std::wstring path = ProtocolExecuteKey(t.name());

    ASSERT_TRUE(scheme.SetProtocolExecute(HKEY_LOCAL_MACHINE, false));
    EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, path, L"WarnOnOpen", KEY_WOW64_64KEY).found);
    EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY), wow64) << "the 32-bit view";
    EXPECT_TRUE(scheme.SetProtocolExecute(HKEY_LOCAL_MACHINE, true));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY));

    ASSERT_TRUE(scheme.SetProtocolExecute(HKEY_CURRENT_USER, false));
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, path, L"WarnOnOpen", KEY_WOW64_64KEY).found);
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, path, L"WarnOnOpen", KEY_WOW64_32KEY).found);
    EXPECT_TRUE(scheme.SetProtocolExecute(HKEY_CURRENT_USER, true)) << "one key in both views, removed";
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, path, KEY_WOW64_64KEY));

    // A key left only in the 64-bit view (by a 64-bit program, or an earlier run) goes with Unregister.
    ASSERT_TRUE(scheme.Register(HKEY_LOCAL_MACHINE, L"C:\\TSL.exe"));
    DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, path);
    ASSERT_EQ(KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY), wow64);
    EXPECT_TRUE(scheme.Unregister());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY));
}

TEST(CCustomScheme, SetProtocolExecuteFailsWhenTheKeyIsProtected) {
    TestScheme t;
    CCustomScheme scheme(t.name().c_str());
    const std::wstring path = ProtocolExecuteKey(t.name());
    CreateKey(HKEY_CURRENT_USER, path);
    SetKeyAclForTest(HKEY_CURRENT_USER, path, L"D:P(A;;KRWD;;;WD)");
    EXPECT_FALSE(scheme.SetProtocolExecute(HKEY_CURRENT_USER, false));
    // Register's result does not depend on it.
    EXPECT_TRUE(scheme.Register(HKEY_CURRENT_USER, L"C:\\TSL.exe"));
    SetKeyAclForTest(HKEY_CURRENT_USER, path, kOpenAcl);
}
