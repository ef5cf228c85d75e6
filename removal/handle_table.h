// The pure logic behind the lock-holder search: reading the system's handle-table snapshot in either
// layout and bitness, growing the snapshot buffer, turning device paths into drive paths and paths into
// their comparison form. Data in, data out: nothing here calls the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orlyn {

// One entry of the handle table, whatever layout it came from.
struct HandleEntry {
    uint32_t processId;
    uint32_t objectTypeNumber;
    uint32_t flags;
    // 64 bits wide whatever this program's bitness, so that either layout can be read anywhere.
    unsigned long long handleValue;  // 16 bits only in the basic layout
    unsigned long long object;
    uint32_t grantedAccess;
};

// Information classes of NtQuerySystemInformation for the handle table.
constexpr uint32_t kSystemHandleInformation = 16;          // 16-bit handle values and process ids
constexpr uint32_t kSystemExtendedHandleInformation = 64;  // pointer-sized handle values and process ids

enum class HandleTableLayout {
    Basic32,     // class 16 seen by a 32-bit process: ULONG count, 16-byte entries
    Basic64,     // class 16 seen by a 64-bit process: ULONG count (padded to 8), 24-byte entries
    Extended32,  // class 64 seen by a 32-bit process: two ULONG_PTR, 28-byte entries
    Extended64,  // class 64 seen by a 64-bit process: two ULONG_PTR, 40-byte entries
};

// The layout this process receives for the class.
HandleTableLayout NativeHandleTableLayout(bool extended);
size_t HandleEntrySize(HandleTableLayout layout);
size_t HandleTableHeaderSize(HandleTableLayout layout);

// Reads `size` bytes of a snapshot. Returns false (and leaves `out` empty) when the count does not
// fit the buffer. Only entries of `typeNumber` are kept, unless it is kAnyType.
constexpr uint32_t kAnyType = 0xFFFFFFFF;
[[nodiscard]] bool ParseHandleTable(const void* data, size_t size, HandleTableLayout layout, uint32_t typeNumber,
                                    std::vector<HandleEntry>* out);

// The type number of `handleValue` held by `processId` in the entries, or 0 when it is not there.
// A basic-layout table holds only the low 16 bits of handle values, so those are compared there.
uint32_t FindHandleType(const std::vector<HandleEntry>& entries, uint32_t processId, uintptr_t handleValue,
                        bool basicLayout);

// The file object type number older systems used; only a fallback when it cannot be learnt from a
// handle of our own (the numbers changed with every version from Windows 8 on).
uint32_t FallbackFileTypeNumber(uint32_t majorVersion);

// Runs query(buffer, size, &needed) with a zero-filled buffer that starts at `initialSize` and
// doubles (or grows to `needed`) while the status says the buffer is too small, never beyond `cap`.
// Returns the last status; on success `buffer` and `size` hold the data. A buffer that would pass the
// cap, or cannot be allocated, ends with STATUS_INSUFFICIENT_RESOURCES and no buffer.
using SnapshotQuery = std::function<int32_t(void* buffer, uint32_t size, uint32_t* needed)>;
constexpr size_t kSnapshotInitialSize = 32 * 1024;
constexpr size_t kSnapshotSizeCap = 256u * 1024 * 1024;
[[nodiscard]] int32_t QueryGrowingBuffer(const SnapshotQuery& query, size_t initialSize, size_t cap,
                                         std::unique_ptr<uint8_t[]>* buffer, size_t* size);

constexpr int32_t kStatusSuccess = 0;
constexpr int32_t kStatusInfoLengthMismatch = static_cast<int32_t>(0xC0000004);
constexpr int32_t kStatusBufferTooSmall = static_cast<int32_t>(0xC0000023);
constexpr int32_t kStatusInsufficientResources = static_cast<int32_t>(0xC000009A);

// A drive letter with its colon ("C:") and the device it stands for ("\Device\HarddiskVolume1").
struct DriveMapping {
    std::wstring drive;
    std::wstring target;
};

// Turns an object manager name into a drive path: "\??\C:\x" and "\DosDevices\C:\x" give "C:\x",
// "\??\UNC\srv\share\x" gives "\\srv\share\x", and a name under a drive's device (the whole device
// name, not a prefix of a longer one) gives the drive followed by the rest. Anything else is returned
// unchanged.
std::wstring MapToDrivePath(const std::wstring& name, const std::vector<DriveMapping>& drives);

// The part of a file path that tells which file it names: without a "\\?\" prefix ("\\?\UNC\" becomes
// "\\") and without trailing backslashes other than a drive root's. Case is left as it is.
std::wstring ComparablePath(const wchar_t* path);

// The part of an executable path after its last backslash (or the whole text without one).
const wchar_t* BaseNameOf(const wchar_t* path);

}  // namespace orlyn
