#include "install/machine_key_file.h"

#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "common/unique_handle.h"

namespace {

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
