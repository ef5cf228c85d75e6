#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "install/machine_key_image.h"
#include "install/machine_key_test_support.h"

using machine_key_test::CountingGenerator;
using machine_key_test::MakeImage;
using machine_key_test::PutU16;

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
