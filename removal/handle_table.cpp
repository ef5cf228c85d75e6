#include "removal/handle_table.h"

#include <cstring>
#include <cwchar>
#include <cwctype>
#include <new>

namespace orlyn {

namespace {

template <typename T>
T ReadAt(const uint8_t* p, size_t offset) {
    T value;
    std::memcpy(&value, p + offset, sizeof(T));
    return value;
}

// Reads a pointer-sized field of the given width.
unsigned long long ReadPointer(const uint8_t* p, size_t offset, bool wide) {
    if (wide) return ReadAt<unsigned long long>(p, offset);
    return ReadAt<uint32_t>(p, offset);
}

bool Is64(HandleTableLayout layout) {
    return layout == HandleTableLayout::Basic64 || layout == HandleTableLayout::Extended64;
}

bool IsBasic(HandleTableLayout layout) {
    return layout == HandleTableLayout::Basic32 || layout == HandleTableLayout::Basic64;
}

HandleEntry ReadEntry(const uint8_t* e, HandleTableLayout layout) {
    HandleEntry entry{};
    bool wide = Is64(layout);
    if (IsBasic(layout)) {
        // ULONG process id, UCHAR type, UCHAR flags, USHORT handle, PVOID object, ULONG access.
        entry.processId = ReadAt<uint32_t>(e, 0);
        entry.objectTypeNumber = ReadAt<uint8_t>(e, 4);
        entry.flags = ReadAt<uint8_t>(e, 5);
        entry.handleValue = ReadAt<uint16_t>(e, 6);
        entry.object = ReadPointer(e, 8, wide);
        entry.grantedAccess = ReadAt<uint32_t>(e, wide ? 16 : 12);
    } else {
        // PVOID object, ULONG_PTR process id, ULONG_PTR handle, ULONG access, USHORT back trace,
        // USHORT type, ULONG attributes, ULONG reserved.
        size_t ptr = wide ? 8 : 4;
        entry.object = ReadPointer(e, 0, wide);
        entry.processId = static_cast<uint32_t>(ReadPointer(e, ptr, wide));
        entry.handleValue = ReadPointer(e, 2 * ptr, wide);
        entry.grantedAccess = ReadAt<uint32_t>(e, 3 * ptr);
        entry.objectTypeNumber = ReadAt<uint16_t>(e, 3 * ptr + 6);
        entry.flags = ReadAt<uint32_t>(e, 3 * ptr + 8);
    }
    return entry;
}

// Folds only A-Z, as the C runtime's case-blind compare does in the "C" locale this program runs in.
wchar_t LowerAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
    size_t n = wcslen(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
    }
    return true;
}

bool IsDriveAt(const std::wstring& text, size_t pos) {
    return text.size() >= pos + 2 && iswalpha(text[pos]) && text[pos + 1] == L':' &&
           (text.size() == pos + 2 || text[pos + 2] == L'\\');
}

}  // namespace

HandleTableLayout NativeHandleTableLayout(bool extended) {
    if (sizeof(void*) == 8) return extended ? HandleTableLayout::Extended64 : HandleTableLayout::Basic64;
    return extended ? HandleTableLayout::Extended32 : HandleTableLayout::Basic32;
}

size_t HandleEntrySize(HandleTableLayout layout) {
    switch (layout) {
    case HandleTableLayout::Basic32: return 16;
    case HandleTableLayout::Basic64: return 24;
    case HandleTableLayout::Extended32: return 28;
    case HandleTableLayout::Extended64: return 40;
    }
    return 0;
}

size_t HandleTableHeaderSize(HandleTableLayout layout) {
    switch (layout) {
    case HandleTableLayout::Basic32: return 4;
    case HandleTableLayout::Basic64: return 8;  // the entries are aligned to their pointer
    case HandleTableLayout::Extended32: return 8;
    case HandleTableLayout::Extended64: return 16;
    }
    return 0;
}

bool ParseHandleTable(const void* data, size_t size, HandleTableLayout layout, uint32_t typeNumber,
                      std::vector<HandleEntry>* out) {
    out->clear();
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t header = HandleTableHeaderSize(layout);
    size_t entrySize = HandleEntrySize(layout);
    if (!p || size < header) return false;
    unsigned long long count = IsBasic(layout) ? ReadAt<uint32_t>(p, 0) : ReadPointer(p, 0, Is64(layout));
    if (count > (size - header) / entrySize) return false;
    for (size_t i = 0; i < count; ++i) {
        HandleEntry entry = ReadEntry(p + header + i * entrySize, layout);
        if (typeNumber == kAnyType || entry.objectTypeNumber == typeNumber) out->push_back(entry);
    }
    return true;
}

uint32_t FindHandleType(const std::vector<HandleEntry>& entries, uint32_t processId, uintptr_t handleValue,
                        bool basicLayout) {
    unsigned long long wanted = basicLayout ? (handleValue & 0xFFFF) : handleValue;
    for (const HandleEntry& e : entries) {
        if (e.processId == processId && e.handleValue == wanted) return e.objectTypeNumber;
    }
    return 0;
}

uint32_t FallbackFileTypeNumber(uint32_t majorVersion) {
    switch (majorVersion) {
    case 5: return 28;
    case 6: return 25;
    default: return 0;
    }
}

int32_t QueryGrowingBuffer(const SnapshotQuery& query, size_t initialSize, size_t cap,
                           std::unique_ptr<uint8_t[]>* buffer, size_t* size) {
    size_t current = initialSize;
    for (;;) {
        buffer->reset();
        *size = 0;
        if (current == 0 || current > cap || current > 0xFFFFFFFFu) return kStatusInsufficientResources;
        std::unique_ptr<uint8_t[]> candidate(new (std::nothrow) uint8_t[current]());
        if (!candidate) return kStatusInsufficientResources;
        uint32_t needed = 0;
        int32_t status = query(candidate.get(), static_cast<uint32_t>(current), &needed);
        if (status != kStatusInfoLengthMismatch && status != kStatusBufferTooSmall) {
            if (status >= 0) {
                *buffer = std::move(candidate);
                *size = current;
            }
            return status;
        }
        // The table may grow between two queries, so always at least double.
        size_t next = current > cap / 2 ? cap + 1 : current * 2;
        if (needed > next) next = needed;
        current = next;
    }
}

std::wstring MapToDrivePath(const std::wstring& name, const std::vector<DriveMapping>& drives) {
    static const wchar_t* const kDosPrefixes[] = {L"\\??\\", L"\\DosDevices\\", L"\\GLOBAL??\\"};
    for (const wchar_t* prefix : kDosPrefixes) {
        if (!StartsWithNoCase(name, prefix)) continue;
        size_t n = wcslen(prefix);
        if (IsDriveAt(name, n)) return name.substr(n);
        std::wstring rest = name.substr(n);
        if (StartsWithNoCase(rest, L"UNC\\")) return L"\\" + rest.substr(3);
        return name;
    }
    for (const DriveMapping& d : drives) {
        if (d.target.empty() || !StartsWithNoCase(name, d.target.c_str())) continue;
        // "\Device\HarddiskVolume1" must not claim "\Device\HarddiskVolume10\...".
        if (name.size() > d.target.size() && name[d.target.size()] != L'\\') continue;
        return d.drive + name.substr(d.target.size());
    }
    return name;
}

std::wstring ComparablePath(const wchar_t* path) {
    std::wstring s = path ? path : L"";
    if (s.compare(0, 4, L"\\\\?\\") == 0) {
        s.erase(0, 4);
        if (StartsWithNoCase(s, L"UNC\\")) s.replace(0, 3, L"\\");
    }
    while (s.size() > 1 && s.back() == L'\\' && !(s.size() == 3 && s[1] == L':')) s.pop_back();
    return s;
}

const wchar_t* BaseNameOf(const wchar_t* path) {
    if (!path) return L"";
    const wchar_t* slash = wcsrchr(path, L'\\');
    return slash ? slash + 1 : path;
}

}  // namespace orlyn
