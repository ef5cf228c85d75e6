#include "app/image_check.h"

#include <cstring>
#include <vector>

namespace {

struct Relocation {
    DWORD rva;
    WORD type;
};

const IMAGE_NT_HEADERS* NtHeaders(const BYTE* base, size_t size) {
    if (size < sizeof(IMAGE_DOS_HEADER)) return nullptr;
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew < 0 ||
        static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS) > size)
        return nullptr;
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC) return nullptr;
    return nt;
}

// The file offset of an RVA that lies in a section's raw data; false when none holds it.
bool FileOffsetOf(const IMAGE_NT_HEADERS* nt, DWORD rva, DWORD& offset) {
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (rva >= section->VirtualAddress && rva - section->VirtualAddress < section->SizeOfRawData) {
            offset = section->PointerToRawData + (rva - section->VirtualAddress);
            return true;
        }
    }
    return false;
}

// The base relocations of the file; false when their table is damaged.
bool ReadRelocations(const std::string& file, const IMAGE_NT_HEADERS* nt, std::vector<Relocation>& out) {
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    if (directory.Size == 0) return true;
    DWORD offset = 0;
    if (!FileOffsetOf(nt, directory.VirtualAddress, offset) || offset > file.size() ||
        directory.Size > file.size() - offset)
        return false;
    const BYTE* table = reinterpret_cast<const BYTE*>(file.data()) + offset;
    for (DWORD at = 0; at + sizeof(IMAGE_BASE_RELOCATION) <= directory.Size;) {
        IMAGE_BASE_RELOCATION block;
        std::memcpy(&block, table + at, sizeof(block));
        if (block.SizeOfBlock < sizeof(block) || block.SizeOfBlock > directory.Size - at) return false;
        DWORD count = (block.SizeOfBlock - sizeof(block)) / sizeof(WORD);
        for (DWORD i = 0; i < count; ++i) {
            WORD entry;
            std::memcpy(&entry, table + at + sizeof(block) + i * sizeof(WORD), sizeof(entry));
            WORD type = entry >> 12;
            if (type != IMAGE_REL_BASED_ABSOLUTE) out.push_back({block.VirtualAddress + (entry & 0x0FFF), type});
        }
        at += block.SizeOfBlock;
    }
    return true;
}

// Applies the relocations that fall in [rva, rva + bytes.size()) to bytes; false for a kind it does not know.
bool Relocate(std::vector<BYTE>& bytes, DWORD rva, const std::vector<Relocation>& relocations, ULONG_PTR delta) {
    for (const Relocation& relocation : relocations) {
        size_t width = relocation.type == IMAGE_REL_BASED_DIR64 ? 8 : 4;
        if (relocation.rva < rva || relocation.rva - rva + width > bytes.size()) continue;
        BYTE* at = bytes.data() + (relocation.rva - rva);
        if (relocation.type == IMAGE_REL_BASED_HIGHLOW) {
            DWORD value;
            std::memcpy(&value, at, 4);
            value += static_cast<DWORD>(delta);
            std::memcpy(at, &value, 4);
        } else if (relocation.type == IMAGE_REL_BASED_DIR64) {
            ULONGLONG value;
            std::memcpy(&value, at, 8);
            value += delta;
            std::memcpy(at, &value, 8);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

bool FileMatchesLoadedImage(const std::string& file, HMODULE image) {
    auto loaded = reinterpret_cast<const BYTE*>(image);
    const IMAGE_NT_HEADERS* nt = NtHeaders(reinterpret_cast<const BYTE*>(file.data()), file.size());
    const IMAGE_NT_HEADERS* loadedNt = loaded ? NtHeaders(loaded, MAXDWORD) : nullptr;
    if (!nt || !loadedNt) return false;
    DWORD headerSize = nt->OptionalHeader.SizeOfHeaders;
    if (headerSize > file.size() || headerSize != loadedNt->OptionalHeader.SizeOfHeaders) return false;

    std::string headers = file.substr(0, headerSize);
    size_t baseField = reinterpret_cast<const BYTE*>(&nt->OptionalHeader.ImageBase) -
                       reinterpret_cast<const BYTE*>(file.data());
    std::memcpy(&headers[baseField], loaded + baseField, sizeof(nt->OptionalHeader.ImageBase));
    if (std::memcmp(headers.data(), loaded, headerSize) != 0) return false;

    ULONG_PTR delta = reinterpret_cast<ULONG_PTR>(loaded) - static_cast<ULONG_PTR>(nt->OptionalHeader.ImageBase);
    std::vector<Relocation> relocations;
    if (delta != 0 && !ReadRelocations(file, nt, relocations)) return false;

    // Some linkers mark the resources writable; nothing writes them, and they hold the payload.
    DWORD resourceRva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress;
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        bool holdsResources = resourceRva != 0 && resourceRva >= section->VirtualAddress &&
                              resourceRva - section->VirtualAddress < section->SizeOfRawData;
        if ((section->Characteristics & IMAGE_SCN_MEM_WRITE) && !holdsResources) continue;
        DWORD length = section->SizeOfRawData;
        if (section->Misc.VirtualSize != 0 && section->Misc.VirtualSize < length) length = section->Misc.VirtualSize;
        if (length == 0) continue;
        if (section->PointerToRawData > file.size() || length > file.size() - section->PointerToRawData ||
            section->VirtualAddress + static_cast<ULONGLONG>(length) > nt->OptionalHeader.SizeOfImage)
            return false;
        const BYTE* raw = reinterpret_cast<const BYTE*>(file.data()) + section->PointerToRawData;
        std::vector<BYTE> expected(raw, raw + length);
        if (!Relocate(expected, section->VirtualAddress, relocations, delta)) return false;
        if (std::memcmp(expected.data(), loaded + section->VirtualAddress, length) != 0) return false;
    }
    return true;
}
