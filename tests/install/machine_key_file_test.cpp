#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "install/machine_key_file.h"
#include "install/machine_key_test_support.h"
#include "support/test_support.h"

using namespace testing_support;

using machine_key_test::AsBytes;
using machine_key_test::CountingGenerator;
using machine_key_test::MakeImage;
using machine_key_test::PutU16;

TEST(MachineKeyFileAt, CreatedFileVerifiesToItsKey) {
    TempDir dir(L"mk");
    std::wstring path = dir / L"qrmk.dat";
    EXPECT_EQ(VerifyMachineKeyFileAt(path.c_str()), 0u);  // missing
    CountingGenerator gen;
    ASSERT_TRUE(CreateMachineKeyFileAt(path.c_str(), std::ref(gen)));
    std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), kMachineKeyFileSize);
    uint32_t key = VerifyMachineKeyImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    EXPECT_NE(key, 0u);
    EXPECT_EQ(VerifyMachineKeyFileAt(path.c_str()), key);
}

TEST(MachineKeyFileAt, DamagedFilesVerifyToZeroAndAreReplaced) {
    std::vector<uint8_t> good = MakeImage();
    struct Case {
        const char* what;
        std::vector<uint8_t> image;
    };
    std::vector<Case> cases;
    cases.push_back({"short", std::vector<uint8_t>(good.begin(), good.begin() + 512)});
    auto longer = good;
    longer.insert(longer.end(), 16, 0);  // valid first 1,024 bytes, then more
    cases.push_back({"long", longer});
    cases.push_back({"empty", {}});
    auto magic = good;
    magic[1] = 'X';
    cases.push_back({"magic", magic});
    auto version = good;
    PutU16(version, 2, 0);
    cases.push_back({"version", version});
    auto body = good;
    body[100] ^= 0xFF;
    cases.push_back({"checksum", body});
    auto offset = good;
    PutU16(offset, 8, 960);
    cases.push_back({"offset", offset});
    TempDir dir(L"mk");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring path = dir / (UniqueName(L"qrmk") + L".dat");
        ASSERT_TRUE(WriteFileBytes(path, AsBytes(c.image)));
        EXPECT_EQ(VerifyMachineKeyFileAt(path.c_str()), 0u);
        CountingGenerator gen;
        gen.next = 777;
        ASSERT_TRUE(CreateMachineKeyFileAt(path.c_str(), std::ref(gen)));
        EXPECT_EQ(ReadFileBytes(path).size(), kMachineKeyFileSize);
        EXPECT_NE(VerifyMachineKeyFileAt(path.c_str()), 0u);
    }
}

TEST(MachineKeyFileAt, ReadsAFileThatAnotherWriterHoldsOpen) {
    TempDir dir(L"mk");
    std::wstring path = dir / L"qrmk.dat";
    CountingGenerator gen;
    ASSERT_TRUE(CreateMachineKeyFileAt(path.c_str(), std::ref(gen)));
    uint32_t key = VerifyMachineKeyFileAt(path.c_str());
    orlyn::UniqueFileHandle writer(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);
    EXPECT_EQ(VerifyMachineKeyFileAt(path.c_str()), key);
}

// The real file in the all-users application data folder; an existing one is put back afterwards.
class MachineKeyFileOnMachine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CQrMachineKeyFile::Instance()->MachineKeyFilePath(path_));
        existed_ = FileExists(path_);
        if (existed_) saved_ = ReadFileBytes(path_);
        ::DeleteFileW(path_);
    }
    void TearDown() override {
        if (existed_) WriteFileBytes(path_, saved_);
        else ::DeleteFileW(path_);
    }
    wchar_t path_[MAX_PATH] = {};
    bool existed_ = false;
    std::string saved_;
};

TEST_F(MachineKeyFileOnMachine, PathIsUnderTheAllUsersDataFolder) {
    wchar_t appData[MAX_PATH];
    ASSERT_TRUE(::SHGetSpecialFolderPathW(nullptr, appData, CSIDL_COMMON_APPDATA, FALSE));
    EXPECT_EQ(std::wstring(path_), std::wstring(appData) + L"\\Orlyn\\Common\\qrmk.dat");
    EXPECT_TRUE(FolderExists(std::wstring(appData) + L"\\Orlyn\\Common"));
}

TEST_F(MachineKeyFileOnMachine, CreateThenVerifyAndASecondRunKeepsTheFile) {
    CQrMachineKeyFile* keyFile = CQrMachineKeyFile::Instance();
    EXPECT_EQ(keyFile, CQrMachineKeyFile::Instance());
    EXPECT_EQ(keyFile->VerifyMachineKeyFile(), 0u);
    ASSERT_TRUE(keyFile->CreateMachineKeyFile());
    uint32_t key = keyFile->VerifyMachineKeyFile();
    EXPECT_NE(key, 0u);
    std::string first = ReadFileBytes(path_);
    // What a second install run does: a valid file is found and left alone.
    EXPECT_EQ(keyFile->VerifyMachineKeyFile(), key);
    EXPECT_EQ(ReadFileBytes(path_), first);
}

TEST(MachineKeyFileAt, ReplacesADamagedReadOnlyOrHiddenFile) {
    TempDir dir(L"mk");
    for (DWORD attributes : {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}) {
        SCOPED_TRACE(attributes);
        std::wstring path = dir / (UniqueName(L"qrmk") + L".dat");
        ASSERT_TRUE(WriteFileBytes(path, std::string(100, 'x')));
        ASSERT_TRUE(::SetFileAttributesW(path.c_str(), attributes));
        CountingGenerator gen;
        EXPECT_TRUE(CreateMachineKeyFileAt(path.c_str(), std::ref(gen)));
        EXPECT_NE(VerifyMachineKeyFileAt(path.c_str()), 0u);
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST_F(MachineKeyFileOnMachine, ReplacesADamagedFile) {
    CQrMachineKeyFile* keyFile = CQrMachineKeyFile::Instance();
    ASSERT_TRUE(WriteFileBytes(path_, std::string(1024, 'x')));
    EXPECT_EQ(keyFile->VerifyMachineKeyFile(), 0u);
    ASSERT_TRUE(keyFile->CreateMachineKeyFile());
    EXPECT_NE(keyFile->VerifyMachineKeyFile(), 0u);
}
