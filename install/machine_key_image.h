// The machine key file's image: 1,024 bytes of random data with a small header and a checksum. The key
// is a 32-bit hash of a 64-byte window of the data. Pure data in, data out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// File layout (little-endian): magic (2), version (2), checksum over the body (4), window offset (2),
// body (1,014).
constexpr size_t kMachineKeyFileSize = 1024;
constexpr size_t kMachineKeyHeaderSize = 10;
constexpr size_t kMachineKeyBodySize = 1014;
constexpr size_t kMachineKeyWindowSize = 64;
constexpr uint16_t kMachineKeyMagic = 0x4D4B;  // "KM"
constexpr uint16_t kMachineKeyVersion = 1;
constexpr unsigned kMachineKeyOffsetChoices = 950;    // a new file's window starts at 0 to 949
constexpr unsigned kMachineKeyMaxWindowOffset = 950;  // the window still fits in the body at 950

// The substitution table of the hash: a permutation of 0 to 255.
extern const uint8_t kMachineKeyTable[256];

// h = 0; for each byte: h = rotr8(h ^ table[b]).
[[nodiscard]] uint32_t MachineKeyHash(const uint8_t* data, size_t size);

// Fills a whole file image from the generator (one value per body byte, then one for the window offset),
// drawing again until the key is not 0. Returns the key.
uint32_t BuildMachineKeyImage(const std::function<int()>& nextRandom, uint8_t (&image)[kMachineKeyFileSize]);

// The key of a file image, or 0 when the size, magic, version, checksum or window offset is wrong.
[[nodiscard]] uint32_t VerifyMachineKeyImage(const uint8_t* data, size_t size);
