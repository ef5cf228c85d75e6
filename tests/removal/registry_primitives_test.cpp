#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/registry.h"
#include "common/unique_handle.h"
#include "removal/log_handle.h"
#include "removal/primitives_test_support.h"
#include "support/test_support.h"

using namespace testing_support;
using removal_test::Line;
using removal_test::LogCapture;

namespace {

const wchar_t kTestKeyBase[] = L"Software\\OrlynTests\\";

void CreateKey(HKEY root, const std::wstring& path) {
    orlyn::UniqueHkey key;
    ASSERT_EQ(orlyn::CreateRegKey(root, path.c_str(), KEY_ALL_ACCESS, orlyn::RegView::Default, key), ERROR_SUCCESS);
    ASSERT_EQ(orlyn::SetRegString(key.get(), L"v", L"x"), ERROR_SUCCESS);
}

// Sets a DACL on the key that grants everyone only reading, or (restore) full access.
void SetKeyReadOnly(HKEY root, const std::wstring& path, bool readOnly) {
    orlyn::UniqueHkey key;
    ASSERT_EQ(orlyn::OpenRegKey(root, path.c_str(), READ_CONTROL | WRITE_DAC, orlyn::RegView::Default, key),
              ERROR_SUCCESS);
    BYTE sidBuffer[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(sidBuffer);
    ASSERT_TRUE(::CreateWellKnownSid(WinWorldSid, nullptr, sidBuffer, &sidSize));
    BYTE aclBuffer[256];
    auto* acl = reinterpret_cast<PACL>(aclBuffer);
    ASSERT_TRUE(::InitializeAcl(acl, sizeof(aclBuffer), ACL_REVISION));
    DWORD rights = readOnly ? (KEY_READ | WRITE_DAC) : KEY_ALL_ACCESS;
    ASSERT_TRUE(::AddAccessAllowedAce(acl, ACL_REVISION, rights, sidBuffer));
    SECURITY_DESCRIPTOR sd;
    ASSERT_TRUE(::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(::SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE));
    ASSERT_EQ(::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);
}

}  // namespace

TEST(RemoveRegKey, DeletesANestedTreeInBothModes) {
    for (bool report : {true, false}) {
        SCOPED_TRACE(report ? "report" : "silent");
        std::wstring path = kTestKeyBase + UniqueName(L"rk");
        CreateKey(HKEY_CURRENT_USER, path + L"\\one");
        CreateKey(HKEY_CURRENT_USER, path + L"\\two\\a\\deep");
        CreateKey(HKEY_CURRENT_USER, path + L"\\two\\b");
        CreateKey(HKEY_CURRENT_USER, path + L"\\three");
        LogCapture log;
        LONG result = log.handle.RemoveRegKey(HKEY_CURRENT_USER, path.c_str(), report);
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, path));
        if (report) {
            EXPECT_EQ(result, TRUE);
            EXPECT_EQ(log.Messages(), std::vector<std::wstring>{Line(L"OK\tDelete RegKey Success : HKCU\\%s", path)});
        } else {
            EXPECT_EQ(result, ERROR_SUCCESS);
            EXPECT_TRUE(log.Messages().empty());
        }
        DeleteRegTreeForTest(HKEY_CURRENT_USER, path);
    }
}

TEST(RemoveRegKey, MissingKeysAndOtherRoots) {
    std::wstring path = kTestKeyBase + UniqueName(L"rkm");
    {
        LogCapture log;
        EXPECT_EQ(log.handle.RemoveRegKey(HKEY_LOCAL_MACHINE, path.c_str(), false), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(log.handle.RemoveRegKey(HKEY_LOCAL_MACHINE, path.c_str(), true), TRUE);
        EXPECT_EQ(log.Messages(), std::vector<std::wstring>{Line(L"OK\tDelete RegKey Success : HKLM\\%s", path)});
    }
    // An opened key as root has no prefix; an empty key path must not empty that root.
    ScopedRegKey parent(HKEY_CURRENT_USER, path);
    CreateKey(HKEY_CURRENT_USER, path + L"\\child\\grandchild");
    {
        LogCapture log;
        EXPECT_EQ(log.handle.RemoveRegKey(parent.key(), L"", true), FALSE);
        EXPECT_EQ(log.handle.RemoveRegKey(parent.key(), L"\\", false), ERROR_INVALID_PARAMETER);
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, path + L"\\child\\grandchild"));
        EXPECT_EQ(log.handle.RemoveRegKey(parent.key(), L"child", true), TRUE);
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, path + L"\\child"));
        EXPECT_EQ(log.Messages(), (std::vector<std::wstring>{L"Error\tDelete RegKey Failure : ",
                                                              L"OK\tDelete RegKey Success : child"}));
    }
}

TEST(RemoveRegKey, AKeyThatStaysIsAFailure) {
    std::wstring path = kTestKeyBase + UniqueName(L"rkd");
    CreateKey(HKEY_CURRENT_USER, path + L"\\locked\\inner");
    CreateKey(HKEY_CURRENT_USER, path + L"\\other");
    SetKeyReadOnly(HKEY_CURRENT_USER, path + L"\\locked", true);
    {
        LogCapture log;
        // The subkey cannot be opened for full access, so it stays and so does its parent.
        EXPECT_NE(log.handle.RemoveRegKey(HKEY_CURRENT_USER, path.c_str(), false), ERROR_SUCCESS);
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, path + L"\\locked\\inner"));
        EXPECT_EQ(log.handle.RemoveRegKey(HKEY_CURRENT_USER, path.c_str(), true), FALSE);
        // A key that exists but cannot be opened with full access has not been deleted.
        std::wstring locked = path + L"\\locked";
        EXPECT_EQ(log.handle.RemoveRegKey(HKEY_CURRENT_USER, locked.c_str(), true), FALSE);
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, locked));
        EXPECT_EQ(log.Messages(), (std::vector<std::wstring>{Line(L"Error\tDelete RegKey Failure : HKCU\\%s", path),
                                                              Line(L"Error\tDelete RegKey Failure : HKCU\\%s", locked)}));
    }
    SetKeyReadOnly(HKEY_CURRENT_USER, path + L"\\locked", false);
    DeleteRegTreeForTest(HKEY_CURRENT_USER, path);
}

TEST(RemoveRegValue, DeletesOneValueAndReportsMissingOnes) {
    std::wstring path = kTestKeyBase + UniqueName(L"rv");
    ScopedRegKey key(HKEY_CURRENT_USER, path);
    ASSERT_EQ(orlyn::SetRegString(key.key(), L"Blocked", L"1"), ERROR_SUCCESS);
    ASSERT_EQ(orlyn::SetRegString(key.key(), L"Flags", L"2"), ERROR_SUCCESS);
    std::wstring missingKey = path + L"\\missing";
    LogCapture log;
    EXPECT_TRUE(log.handle.RemoveRegValue(HKEY_CURRENT_USER, path.c_str(), L"Blocked"));
    EXPECT_FALSE(log.handle.RemoveRegValue(HKEY_CURRENT_USER, path.c_str(), L"Blocked"));
    EXPECT_FALSE(log.handle.RemoveRegValue(HKEY_CURRENT_USER, missingKey.c_str(), L"Flags"));
    std::wstring left;
    EXPECT_EQ(orlyn::ReadRegString(key.key(), L"Flags", 100, left), ERROR_SUCCESS);
    EXPECT_EQ(log.Messages(),
              (std::vector<std::wstring>{Line(L"OK\tDelete RegValue Success : HKCU\\%s\\Blocked", path),
                                         Line(L"Error\tDelete RegValue Failure : HKCU\\%s\\Blocked", path),
                                         Line(L"Error\tDelete RegValue Failure : HKCU\\%s\\Flags", missingKey)}));
}
