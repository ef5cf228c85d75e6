// Whether a program file is the running program: its headers, read-only sections and resources against
// the loaded image, with base relocations applied where the loader moved it.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "app/image_check.h"
#include "app/resume_entry.h"
#include "common/unique_handle.h"
#include "support/test_support.h"

using testing_support::FixturePath;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

namespace {

std::wstring OwnProgramPath() {
    wchar_t path[MAX_PATH];
    EXPECT_TRUE(resume_entry::GetProgramPath(path));
    return path;
}

const IMAGE_SECTION_HEADER* SectionNamed(const std::string& file, const char* name) {
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(file.data() + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (std::strncmp(reinterpret_cast<const char*>(section->Name), name, IMAGE_SIZEOF_SHORT_NAME) == 0)
            return section;
    }
    return nullptr;
}

}  // namespace

TEST(ImageCheck, TheRunningProgramsFileMatchesItAndAChangedByteOrAnotherProgramDoesNot) {
    std::string file = ReadFileBytes(OwnProgramPath());
    HMODULE self = ::GetModuleHandleW(nullptr);
    ASSERT_TRUE(FileMatchesLoadedImage(file, self));

    const IMAGE_SECTION_HEADER* code = SectionNamed(file, ".text");
    const IMAGE_SECTION_HEADER* resources = SectionNamed(file, ".rsrc");
    ASSERT_NE(code, nullptr);
    ASSERT_NE(resources, nullptr);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
    struct Case {
        const char* what;
        size_t offset;
    } cases[] = {
        {"code", code->PointerToRawData + code->SizeOfRawData / 2},
        {"resources", resources->PointerToRawData + resources->SizeOfRawData / 2},
        {"headers (time stamp)", dos->e_lfanew + offsetof(IMAGE_NT_HEADERS, FileHeader.TimeDateStamp)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string changed = file;
        changed[c.offset] = static_cast<char>(changed[c.offset] ^ 0x5A);
        EXPECT_FALSE(FileMatchesLoadedImage(changed, self));
    }
    EXPECT_FALSE(FileMatchesLoadedImage(ReadFileBytes(FixturePath(L"write_args.exe")), self));
    EXPECT_FALSE(FileMatchesLoadedImage(file.substr(0, 200), self));
    EXPECT_FALSE(FileMatchesLoadedImage(std::string(), self));
}

TEST(ImageCheck, AppliesTheBaseRelocationsOfALibraryLoadedAwayFromItsBase) {
    TempDir dir(L"img");
    std::wstring library = dir / (testing_support::UniqueName(L"reloc") + L".dll");
    ASSERT_TRUE(::CopyFileW(FixturePath(L"com_ok.dll").c_str(), library.c_str(), FALSE));
    std::string file = ReadFileBytes(library);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(file.data() + dos->e_lfanew);
    // Taking its preferred place first makes the loader relocate it.
    void* taken = ::VirtualAlloc(reinterpret_cast<void*>(nt->OptionalHeader.ImageBase),
                                 nt->OptionalHeader.SizeOfImage, MEM_RESERVE, PAGE_NOACCESS);
    orlyn::UniqueLibrary module(::LoadLibraryW(library.c_str()));
    if (taken) ::VirtualFree(taken, 0, MEM_RELEASE);
    ASSERT_TRUE(module);
    if (reinterpret_cast<ULONG_PTR>(module.get()) == nt->OptionalHeader.ImageBase)
        GTEST_SKIP() << "the library was loaded at its preferred base";
    EXPECT_TRUE(FileMatchesLoadedImage(file, module.get()));
    const IMAGE_SECTION_HEADER* code = SectionNamed(file, ".text");
    ASSERT_NE(code, nullptr);
    std::string changed = file;
    changed[code->PointerToRawData + 16] = static_cast<char>(changed[code->PointerToRawData + 16] ^ 0x5A);
    EXPECT_FALSE(FileMatchesLoadedImage(changed, module.get()));
}
