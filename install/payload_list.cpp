#include "install/payload_list.h"

#include <windows.h>

#include "common/string_format.h"
#include "install/payload_extraction.h"
#include "resources/resource.h"

namespace {

constexpr wchar_t kManifestFileName[] = L"OrlynRepairList.txt";

bool ResourceExists(WORD resourceId) {
    if (resourceId == 0) return false;
    return ::FindResourceW(PayloadModule(), MAKEINTRESOURCEW(resourceId), RT_RCDATA) != nullptr;
}

}  // namespace

bool PayloadList::Load(const wchar_t* manifestPath) {
    if (!manifestPath || !*manifestPath) {
        orlyn::CopyFixed(message, 1024, L"파일의 이름에 문제가 있습니다.");
        return false;
    }
    const void* bytes = nullptr;
    DWORD size = 0;
    if (!PayloadResourceBytes(IDR_PAYLOAD_MANIFEST, &bytes, &size)) {
        orlyn::Format(message, 1024, L"파일을 열 수 없습니다.\r\n\r\n(%s)", manifestPath);
        return false;
    }
    return Parse(static_cast<const char*>(bytes), size);
}

bool PayloadList::Parse(const char* bytes, size_t size) {
    if (!ParseManifest(bytes, size, entries)) {
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
