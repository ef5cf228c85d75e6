#include "install/payload_list.h"

#include <windows.h>

#include "common/string_format.h"
#include "common/unique_handle.h"
#include "install/payload_extraction.h"
#include "resources/resource.h"

namespace {

constexpr wchar_t kManifestFileName[] = L"OrlynRepairList.txt";
// A manifest is a few hundred bytes; anything near this size is not one of ours.
constexpr DWORD kMaxManifestBytes = 16 * 1024 * 1024;

enum class ReadResult { Ok, CannotOpen, TooLarge };

ReadResult ReadWholeFile(const wchar_t* path, std::string& bytes) {
    if (::wcslen(path) >= MAX_PATH) return ReadResult::CannotOpen;
    orlyn::UniqueFileHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return ReadResult::CannotOpen;
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.get(), &size)) return ReadResult::CannotOpen;
    if (size.QuadPart > kMaxManifestBytes) return ReadResult::TooLarge;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() && !::ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr))
        return ReadResult::CannotOpen;
    bytes.resize(read);
    return ReadResult::Ok;
}

bool ResourceExists(WORD resourceId) {
    if (resourceId == 0) return false;
    return ::FindResourceW(PayloadModule(), MAKEINTRESOURCEW(resourceId), RT_RCDATA) != nullptr;
}

}  // namespace

bool PayloadList::Load(const wchar_t* path) {
    if (!path || !*path) {
        orlyn::CopyFixed(message, 1024, L"파일의 이름에 문제가 있습니다.");
        return false;
    }
    std::string bytes;
    switch (ReadWholeFile(path, bytes)) {
    case ReadResult::CannotOpen:
        orlyn::Format(message, 1024, L"파일을 열 수 없습니다.\r\n\r\n(%s)", path);
        return false;
    case ReadResult::TooLarge:
        orlyn::CopyFixed(message, 1024, L"파일의 내용이 정확하지 않습니다.");
        return false;
    case ReadResult::Ok:
        break;
    }
    if (!ParseManifest(bytes.data(), bytes.size(), entries)) {
        orlyn::CopyFixed(message, 1024, L"파일의 내용이 정확하지 않습니다.");
        return false;
    }
    orlyn::CopyFixed(message, 1024, L"파일 목록을 얻어오는데 성공하였습니다.");
    return true;
}

bool ExtractPayloadManifest(std::wstring& text) {
    wchar_t folder[MAX_PATH] = {};
    DWORD length = ::GetTempPathW(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH) {
        text = L"임시 폴더 경로를 얻어오는데 실패하였습니다.";
        return false;
    }
    std::wstring path(folder, length);
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    path += L'\\';
    path += kManifestFileName;

    if (path.size() >= MAX_PATH || !CreateParentFolder(path.c_str())) {
        text = L"파일 경로를 생성하는데 실패하였습니다.\r\n" + path;
        return false;
    }
    if (!ExtractResourceToFile(IDR_PAYLOAD_MANIFEST, path.c_str())) {
        text = L"파일을 생성하는데 실패하였습니다.\r\n" + path;
        return false;
    }
    text = path;
    return true;
}

bool CheckPayloadResources(const PayloadList& list) {
    for (const PayloadEntry& entry : list.entries) {
        if (!ResourceExists(entry.resourceId)) return false;
    }
    return true;
}
