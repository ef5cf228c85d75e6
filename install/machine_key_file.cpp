#include "install/machine_key_file.h"

#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "common/unique_handle.h"

const uint8_t kMachineKeyTable[256] = {
    0x75, 0x19, 0x65, 0x7C, 0xBA, 0x1E, 0xE6, 0x26, 0x51, 0x7D, 0x69, 0xE8, 0x99, 0x60, 0x4B, 0x20,
    0x86, 0x34, 0xEE, 0xE4, 0x8E, 0x49, 0xA8, 0x48, 0x68, 0x4D, 0xC3, 0x87, 0x41, 0xEF, 0xE7, 0x85,
    0x1D, 0x54, 0x5B, 0xBF, 0xFF, 0x02, 0x53, 0xA1, 0xC7, 0xAB, 0xC8, 0x3D, 0x96, 0x80, 0xB3, 0x70,
    0x73, 0xED, 0x50, 0x94, 0x2B, 0xF0, 0xFE, 0x35, 0x89, 0x28, 0xD0, 0xAD, 0x6D, 0x5F, 0x64, 0x9C,
    0xD3, 0xBD, 0x62, 0xE0, 0x37, 0xB7, 0x09, 0x52, 0xFA, 0xDC, 0x08, 0x92, 0x15, 0xB4, 0xFB, 0x91,
    0x47, 0xB0, 0xEA, 0x0C, 0x74, 0x10, 0x9A, 0x22, 0x84, 0x16, 0x55, 0xEB, 0x27, 0x36, 0xCE, 0xCC,
    0xE2, 0xDF, 0x18, 0xA2, 0x82, 0x2D, 0xA9, 0xA0, 0x79, 0xCD, 0x6C, 0x3E, 0xCB, 0xFC, 0x2E, 0x43,
    0x46, 0x63, 0x40, 0xDD, 0x7E, 0x98, 0x17, 0xB2, 0xC2, 0xF9, 0x21, 0x57, 0xAC, 0x8B, 0xDE, 0x72,
    0x8A, 0x07, 0xB5, 0xC0, 0x58, 0xD4, 0x66, 0x6E, 0x1A, 0x9D, 0x7F, 0xBB, 0xA7, 0x33, 0x0F, 0xFD,
    0xA6, 0xB8, 0xD8, 0x67, 0x3B, 0x0A, 0x9F, 0xD9, 0xD1, 0x1F, 0xDA, 0x06, 0x9B, 0xE9, 0x23, 0xF4,
    0x24, 0xBC, 0x0D, 0xBE, 0xF5, 0x56, 0x77, 0x78, 0xB6, 0x5D, 0x5E, 0xEC, 0xC6, 0xD5, 0x8C, 0x45,
    0x83, 0x0B, 0x6B, 0xDB, 0x4A, 0xCF, 0x25, 0x6A, 0x8D, 0x4F, 0x01, 0xC4, 0xA3, 0x95, 0x61, 0x97,
    0x3F, 0x7A, 0x39, 0xF1, 0x03, 0xA5, 0x6F, 0xF3, 0x3A, 0x5A, 0x29, 0x2C, 0xC9, 0x59, 0xB1, 0xA4,
    0xE1, 0xE3, 0xF6, 0xD7, 0xAA, 0x90, 0x2F, 0xC5, 0x12, 0x11, 0x13, 0x7B, 0x04, 0x8F, 0xF7, 0x05,
    0x93, 0x0E, 0x3C, 0x2A, 0x76, 0x1B, 0x4E, 0x38, 0xF2, 0xAE, 0xE5, 0x71, 0xB9, 0x42, 0x30, 0x88,
    0x31, 0xD6, 0xCA, 0xD2, 0x4C, 0x9E, 0x00, 0x5C, 0x1C, 0x81, 0xAF, 0xC1, 0xF8, 0x14, 0x32, 0x44,
};

uint32_t MachineKeyHash(const uint8_t* data, size_t size) {
    uint32_t h = 0;
    for (size_t i = 0; i < size; ++i) {
        h ^= kMachineKeyTable[data[i]];
        h = (h >> 8) | (h << 24);
    }
    return h;
}

namespace {

void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// Appends "\part" to a MAX_PATH buffer; false (buffer unchanged) when it would not fit.
bool AppendPathPart(wchar_t* path, const wchar_t* part) {
    size_t length = wcslen(path);
    bool needSlash = length > 0 && path[length - 1] != L'\\';
    size_t total = length + (needSlash ? 1 : 0) + wcslen(part);
    if (total >= MAX_PATH) return false;
    if (needSlash) path[length++] = L'\\';
    wcscpy(path + length, part);
    return true;
}

// A folder that exists afterwards (made now or already there); a file of that name does not count.
bool EnsureFolder(const wchar_t* path) {
    if (::CreateDirectoryW(path, nullptr)) return true;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return false;
    DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool WriteAll(HANDLE file, const uint8_t* data, DWORD size) {
    DWORD written = 0;
    return ::WriteFile(file, data, size, &written, nullptr) && written == size;
}

bool ReadAll(HANDLE file, uint8_t* data, DWORD size) {
    DWORD read = 0;
    return ::ReadFile(file, data, size, &read, nullptr) && read == size;
}

}  // namespace

uint32_t BuildMachineKeyImage(const std::function<int()>& nextRandom, uint8_t (&image)[kMachineKeyFileSize]) {
    uint8_t* body = image + kMachineKeyHeaderSize;
    unsigned offset = 0;
    uint32_t key = 0;
    do {
        for (size_t i = 0; i < kMachineKeyBodySize; ++i) body[i] = kMachineKeyTable[nextRandom() & 0xFF];
        // rand() is never negative; a generator that is must not pick a window outside the body.
        offset = static_cast<unsigned>(nextRandom()) % kMachineKeyOffsetChoices;
        key = MachineKeyHash(body + offset, kMachineKeyWindowSize);
    } while (key == 0);
    PutU16(image, kMachineKeyMagic);
    PutU16(image + 2, kMachineKeyVersion);
    PutU32(image + 4, MachineKeyHash(body, kMachineKeyBodySize));
    PutU16(image + 8, static_cast<uint16_t>(offset));
    return key;
}

uint32_t VerifyMachineKeyImage(const uint8_t* data, size_t size) {
    if (size != kMachineKeyFileSize) return 0;
    const uint8_t* body = data + kMachineKeyHeaderSize;
    if (GetU16(data) != kMachineKeyMagic || GetU16(data + 2) != kMachineKeyVersion) return 0;
    if (GetU32(data + 4) != MachineKeyHash(body, kMachineKeyBodySize)) return 0;
    unsigned offset = GetU16(data + 8);
    if (offset > kMachineKeyMaxWindowOffset) return 0;
    return MachineKeyHash(body + offset, kMachineKeyWindowSize);
}

uint32_t VerifyMachineKeyFileAt(const wchar_t* path) {
    if (::GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return 0;
    orlyn::UniqueFileHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    // A longer file is not a key file either, even when its first 1,024 bytes would pass.
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart != static_cast<LONGLONG>(kMachineKeyFileSize))
        return 0;
    uint8_t image[kMachineKeyFileSize];
    if (!ReadAll(file.get(), image, kMachineKeyHeaderSize)) return 0;
    if (!ReadAll(file.get(), image + kMachineKeyHeaderSize, kMachineKeyBodySize)) return 0;
    file.reset();
    return VerifyMachineKeyImage(image, sizeof(image));
}

bool CreateMachineKeyFileAt(const wchar_t* path, const std::function<int()>& nextRandom) {
    uint8_t image[kMachineKeyFileSize];
    BuildMachineKeyImage(nextRandom, image);
    // Only a file that failed verification is replaced; a read-only or hidden one would refuse
    // CREATE_ALWAYS with normal attributes and stay broken for good.
    DWORD attributes = ::GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        ::SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    orlyn::UniqueFileHandle file(::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    bool headerWritten = WriteAll(file.get(), image, kMachineKeyHeaderSize);
    bool bodyWritten = headerWritten && WriteAll(file.get(), image + kMachineKeyHeaderSize, kMachineKeyBodySize);
    return headerWritten && bodyWritten;
}

CQrMachineKeyFile::CQrMachineKeyFile() { std::srand(static_cast<unsigned>(std::time(nullptr))); }

bool CQrMachineKeyFile::MachineKeyFilePath(wchar_t* path) {
    path[0] = L'\0';
    wchar_t folder[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, folder, CSIDL_COMMON_APPDATA, TRUE)) return false;
    if (!AppendPathPart(folder, L"Orlyn") || !EnsureFolder(folder)) return false;
    if (!AppendPathPart(folder, L"Common") || !EnsureFolder(folder)) return false;
    if (!AppendPathPart(folder, L"qrmk.dat")) return false;
    wcscpy(path, folder);
    return true;
}

uint32_t CQrMachineKeyFile::VerifyMachineKeyFile() {
    wchar_t path[MAX_PATH];
    if (!MachineKeyFilePath(path)) return 0;
    return VerifyMachineKeyFileAt(path);
}

bool CQrMachineKeyFile::CreateMachineKeyFile() {
    wchar_t path[MAX_PATH];
    if (!MachineKeyFilePath(path)) return false;
    return CreateMachineKeyFileAt(path, [] { return std::rand(); });
}
