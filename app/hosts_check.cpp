#include "app/hosts_check.h"

#include <windows.h>

#include "build_settings.h"
#include "common/string_format.h"
#include "common/unique_handle.h"

namespace hosts_check {

bool ReadHostsText(const wchar_t* path, std::wstring& text) {
    text.clear();
    orlyn::UniqueFileHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);

    size_t eof = bytes.find('\x1a');  // text mode ends at Ctrl-Z
    if (eof != std::string::npos) bytes.resize(eof);
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    if (bytes.empty()) return true;

    int size = static_cast<int>(bytes.size());
    UINT codePage = CP_UTF8;
    int units = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (units <= 0) {
        codePage = CP_ACP;
        units = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    }
    if (units <= 0) return true;
    std::wstring wide(static_cast<size_t>(units), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), size, &wide[0], units);

    text.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        if (wide[i] == L'\r' && i + 1 < wide.size() && wide[i + 1] == L'\n') continue;
        text += wide[i];
    }
    return true;
}

std::vector<std::wstring> MakerDomainSuffixes() {
    return {std::wstring(L".") + ORLYN_WEB_DOMAIN_1, std::wstring(L".") + ORLYN_WEB_DOMAIN_2};
}

}  // namespace hosts_check
