#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include "common/protected_folder.h"
#include "common/string_format.h"
#include "removal/primitives_test_support.h"
#include "support/acl_check.h"
#include "support/test_support.h"

using testing_support::FileExists;
using testing_support::FolderExists;
using testing_support::TempDir;
using namespace acl_check;

namespace {

// A folder as a standard user may leave it: full control for everyone.
void MakeOpenFolder(const std::wstring& path) {
    ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr));
    std::wstring object = path;
    orlyn::UniqueLocal descriptor;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted);
    ASSERT_EQ(::SetNamedSecurityInfoW(&object[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                                      nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    Acl acl;
    ASSERT_TRUE(ReadAcl(path, acl));
    ASSERT_NE(AllowedRights(acl.dacl, L"WD") & kChangingRights, 0u) << "the fixture folder should let everyone change it";
}

}  // namespace

TEST(ProtectedFolder, NewFolderAndItsFilesLetOnlyAdministratorsChangeThem) {
    TempDir root(L"prot");
    std::wstring folder = root / L"OrlynRepair";
    ASSERT_EQ(orlyn::PrepareProtectedFolder(folder, {}), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(FolderExists(folder));
    ExpectOnlyAdministratorsMayChange(folder);

    const std::string bytes = "MZ copy of a program";
    std::wstring file = folder + L"\\OrlynRepair.exe";
    ASSERT_EQ(orlyn::WriteProtectedFile(file, bytes.data(), bytes.size()), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(testing_support::ReadFileBytes(file), bytes);
    ExpectOnlyAdministratorsMayChange(file);

    // Prepared again: the kept file stays as it is.
    ASSERT_EQ(orlyn::PrepareProtectedFolder(folder, {L"orlynrepair.EXE"}), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(testing_support::ReadFileBytes(file), bytes);
}

TEST(ProtectedFolder, TakesOverAFolderAUserMadeAndEmptiesItButForTheKeptFiles) {
    TempDir root(L"prot");
    std::wstring folder = root / L"OrlynRepair";
    MakeOpenFolder(folder);
    // What a user may have put there for a program started from it to load, or to stand in for ours.
    ASSERT_TRUE(testing_support::WriteFileBytes(folder + L"\\version.dll", "planted"));
    ASSERT_TRUE(removal_test::MakeFile(folder + L"\\readonly.dll", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(testing_support::CreateFolders(folder + L"\\OrlynRepair.exe.local\\inner"));
    ASSERT_TRUE(testing_support::WriteFileBytes(folder + L"\\OrlynRepair.exe.local\\inner\\comctl32.dll", "planted"));
    ASSERT_TRUE(testing_support::CreateFolders(folder + L"\\OrlynRepairEvents.dll"));  // a kept name, not a file
    ASSERT_TRUE(testing_support::WriteFileBytes(folder + L"\\OrlynRepair.exe", "theirs"));

    ASSERT_EQ(orlyn::PrepareProtectedFolder(folder, {L"OrlynRepair.exe", L"OrlynRepairEvents.dll"}),
              static_cast<DWORD>(ERROR_SUCCESS));
    ExpectOnlyAdministratorsMayChange(folder);
    for (const wchar_t* gone : {L"version.dll", L"readonly.dll", L"OrlynRepair.exe.local", L"OrlynRepairEvents.dll"}) {
        SCOPED_TRACE(orlyn::ToUtf8(gone));
        EXPECT_EQ(::GetFileAttributesW((folder + L"\\" + gone).c_str()), INVALID_FILE_ATTRIBUTES);
    }
    // A kept name is the caller's to rewrite: never written through, even read-only.
    std::wstring kept = folder + L"\\OrlynRepair.exe";
    ASSERT_TRUE(FileExists(kept));
    ASSERT_TRUE(::SetFileAttributesW(kept.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string ours = "ours";
    ASSERT_EQ(orlyn::WriteProtectedFile(kept, ours.data(), ours.size()), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(testing_support::ReadFileBytes(kept), ours);
}

TEST(ProtectedFolder, OwnerIsAdministratorsAndTheListIsProtectedWhetherMadeOrTakenOver) {
    // What Wine keeps of a file's security is Unix mode bits: the owner reads back as the prefix's user,
    // Administrators' entry as that user's, and the protected flag is not kept.
    ORLYN_SKIP_ON_WINE("file owners and the protected flag are not stored");
    TempDir root(L"prot");
    std::wstring made = root / L"made";
    std::wstring takenOver = root / L"taken";
    MakeOpenFolder(takenOver);
    for (const std::wstring& folder : {made, takenOver}) {
        SCOPED_TRACE(orlyn::ToUtf8(folder));
        ASSERT_EQ(orlyn::PrepareProtectedFolder(folder, {}), static_cast<DWORD>(ERROR_SUCCESS));
        Acl acl;
        ASSERT_TRUE(ReadAcl(folder, acl));
        orlyn::UniqueLocal administrators = SidOf(L"BA");
        EXPECT_TRUE(::EqualSid(acl.owner, administrators.get()));
        EXPECT_TRUE(acl.control & SE_DACL_PROTECTED);
        EXPECT_EQ(AllowedRights(acl.dacl, L"BA") & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
    }
}

TEST(ProtectedFolder, RefusesALinkOrAFileInItsPlaceAndChangesNothingBehindIt) {
    TempDir root(L"prot");
    std::wstring target = root / L"elsewhere";
    MakeOpenFolder(target);
    ASSERT_TRUE(testing_support::WriteFileBytes(target + L"\\keep.txt", "theirs"));

    std::wstring link = root / L"OrlynRepair";
    if (!removal_test::MakeFolderLink(target, link)) GTEST_SKIP() << "this system does not let us make a link";
    EXPECT_EQ(orlyn::PrepareProtectedFolder(link, {}), static_cast<DWORD>(ERROR_CANT_ACCESS_FILE));
    EXPECT_TRUE(FileExists(target + L"\\keep.txt"));
    Acl acl;
    ASSERT_TRUE(ReadAcl(target, acl));
    EXPECT_NE(AllowedRights(acl.dacl, L"WD") & kChangingRights, 0u) << "the link's target was taken over";
    removal_test::RemoveFolderLink(link);

    std::wstring file = root / L"OrlynRepair2";
    ASSERT_TRUE(testing_support::WriteFileBytes(file, "a file"));
    EXPECT_EQ(orlyn::PrepareProtectedFolder(file, {}), static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_EQ(testing_support::ReadFileBytes(file), "a file");
}

TEST(ProtectedFolder, ReadWholeFileRefusesAFileLargerThanAllowed) {
    TempDir dir(L"prot");
    std::string bytes;
    ASSERT_TRUE(testing_support::WriteFileBytes(dir / L"f.bin", "12345"));
    EXPECT_EQ(orlyn::ReadWholeFile(dir / L"f.bin", 4, bytes), static_cast<DWORD>(ERROR_FILE_TOO_LARGE));
    EXPECT_EQ(orlyn::ReadWholeFile(dir / L"f.bin", 5, bytes), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(bytes, "12345");
    EXPECT_EQ(orlyn::ReadWholeFile(dir / L"missing.bin", 5, bytes), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}
