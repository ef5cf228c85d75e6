#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "install/machine_key_file.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// A fixed, simple generator so file images are reproducible.
struct CountingGenerator {
    int next = 12345;
    int calls = 0;
    int operator()() {
        ++calls;
        next = next * 1103515245 + 12345;
        return (next >> 16) & 0x7FFF;
    }
};

std::vector<uint8_t> MakeImage(uint32_t* key = nullptr) {
    uint8_t image[kMachineKeyFileSize];
    CountingGenerator gen;
    uint32_t k = BuildMachineKeyImage(std::ref(gen), image);
    if (key) *key = k;
    return std::vector<uint8_t>(image, image + sizeof(image));
}

std::string AsBytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

void PutU16(std::vector<uint8_t>& v, size_t at, uint16_t value) {
    v[at] = static_cast<uint8_t>(value);
    v[at + 1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

TEST(MachineKeyHash, MatchesKnownValues) {
    struct Case {
        std::string bytes;
        uint32_t hash;
    } cases[] = {
        {"abc", 0xA218DF00u},
        {"", 0u},
        {std::string(1, '\0'), 0x75000000u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.size());
        EXPECT_EQ(MachineKeyHash(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()), c.hash);
    }
}

// The hash XORs each table entry into one of four byte lanes, chosen by the byte's position modulo 4, so
// one value over 0..255 misses every swap of two entries that share a lane. Four inputs, each a
// permutation of all 256 bytes, put byte b in lane d when b's base-4 digit k is d: two entries differ in
// some digit, so every swapped pair changes at least one of the four values. The golden values were
// computed outside this program, from the table's published text.
TEST(MachineKeyHash, GoldenValuesOverEveryEntryCatchAnySwappedPair) {
    const uint32_t golden[4] = {0x5D1A2A6Du, 0xB4885468u, 0x4C6C4060u, 0xB50912AEu};
    for (unsigned k = 0; k < 4; ++k) {
        SCOPED_TRACE(testing::Message() << "digit " << k);
        const unsigned below = 1u << (2 * k);  // 4^k
        uint8_t input[256];
        bool seen[256] = {};
        for (unsigned p = 0; p < 256; ++p) {
            const unsigned j = p / 4, d = p % 4;
            input[p] = static_cast<uint8_t>((j / below) * below * 4 + d * below + j % below);
            seen[input[p]] = true;
        }
        for (bool s : seen) ASSERT_TRUE(s) << "every entry is touched";
        EXPECT_EQ(MachineKeyHash(input, sizeof(input)), golden[k]);
    }
}

TEST(MachineKeyHash, TableIsAPermutation) {
    bool seen[256] = {};
    for (uint8_t v : kMachineKeyTable) seen[v] = true;
    for (int i = 0; i < 256; ++i) EXPECT_TRUE(seen[i]) << i;
}

TEST(BuildMachineKeyImage, WritesHeaderAndVerifiesToItsKey) {
    uint32_t key = 0;
    std::vector<uint8_t> image = MakeImage(&key);
    ASSERT_NE(key, 0u);
    EXPECT_EQ(image[0], 'K');
    EXPECT_EQ(image[1], 'M');
    EXPECT_EQ(image[2], 1);
    EXPECT_EQ(image[3], 0);
    const uint8_t* body = image.data() + kMachineKeyHeaderSize;
    uint32_t checksum = image[4] | (image[5] << 8) | (image[6] << 16) | (static_cast<uint32_t>(image[7]) << 24);
    EXPECT_EQ(checksum, MachineKeyHash(body, kMachineKeyBodySize));
    unsigned offset = image[8] | (image[9] << 8);
    EXPECT_LT(offset, 950u);
    EXPECT_EQ(key, MachineKeyHash(body + offset, kMachineKeyWindowSize));
    EXPECT_EQ(VerifyMachineKeyImage(image.data(), image.size()), key);
    // Every body byte is a table value of the generator's low byte.
    CountingGenerator replay;
    for (size_t i = 0; i < kMachineKeyBodySize; ++i) ASSERT_EQ(body[i], kMachineKeyTable[replay() & 0xFF]) << i;
    EXPECT_EQ(static_cast<unsigned>(replay()) % 950u, offset);
}

TEST(BuildMachineKeyImage, DrawsAgainWhileTheKeyIsZero) {
    // T[0xF6] is 0: a generator giving 0xF6 fills the body with zero bytes, whose window hashes to 0.
    int calls = 0;
    auto gen = [&calls] { return ++calls <= 1015 ? 0xF6 : 0x1234 + calls; };
    uint8_t image[kMachineKeyFileSize];
    uint32_t key = BuildMachineKeyImage(gen, image);
    EXPECT_EQ(calls, 2 * 1015);
    EXPECT_NE(key, 0u);
    EXPECT_EQ(VerifyMachineKeyImage(image, sizeof(image)), key);
}

TEST(VerifyMachineKeyImage, RejectsEveryKindOfDamage) {
    std::vector<uint8_t> good = MakeImage();
    struct Case {
        const char* what;
        std::vector<uint8_t> image;
    };
    std::vector<Case> cases;
    cases.push_back({"one byte short", std::vector<uint8_t>(good.begin(), good.end() - 1)});
    auto longer = good;
    longer.push_back(0);
    cases.push_back({"one byte long", longer});
    cases.push_back({"empty", {}});
    auto magic = good;
    magic[0] = 'M';
    magic[1] = 'K';
    cases.push_back({"magic", magic});
    auto version = good;
    PutU16(version, 2, 2);
    cases.push_back({"version", version});
    auto body = good;
    body[kMachineKeyFileSize - 1] ^= 0x01;
    cases.push_back({"body", body});
    auto checksum = good;
    checksum[6] ^= 0x80;
    cases.push_back({"checksum", checksum});
    auto offset951 = good;
    PutU16(offset951, 8, 951);
    cases.push_back({"offset 951", offset951});
    auto offsetMax = good;
    PutU16(offsetMax, 8, 0xFFFF);
    cases.push_back({"offset 65535", offsetMax});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(VerifyMachineKeyImage(c.image.data(), c.image.size()), 0u);
    }
}

TEST(VerifyMachineKeyImage, AcceptsTheLastWindowThatFits) {
    std::vector<uint8_t> image = MakeImage();
    PutU16(image, 8, 950);
    uint32_t expected = MachineKeyHash(image.data() + kMachineKeyHeaderSize + 950, kMachineKeyWindowSize);
    EXPECT_EQ(VerifyMachineKeyImage(image.data(), image.size()), expected);
}

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
