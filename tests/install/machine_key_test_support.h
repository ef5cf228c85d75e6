// Helpers of the machine key tests: reproducible file images and byte edits.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "install/machine_key_image.h"

namespace machine_key_test {

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

inline std::vector<uint8_t> MakeImage(uint32_t* key = nullptr) {
    uint8_t image[kMachineKeyFileSize];
    CountingGenerator gen;
    uint32_t k = BuildMachineKeyImage(std::ref(gen), image);
    if (key) *key = k;
    return std::vector<uint8_t>(image, image + sizeof(image));
}

inline std::string AsBytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

inline void PutU16(std::vector<uint8_t>& v, size_t at, uint16_t value) {
    v[at] = static_cast<uint8_t>(value);
    v[at + 1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace machine_key_test
