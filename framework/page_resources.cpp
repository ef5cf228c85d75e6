#include "framework/page_resources.h"

#include <cwctype>

#include "common/module_resource.h"
#include "common/string_format.h"

namespace page_resources {

std::string ReadResource(HMODULE module, const wchar_t* type, const wchar_t* name) {
    const void* data = nullptr;
    DWORD size = 0;
    if (!orlyn::FindModuleResource(module, type, name, &data, &size) || size == 0) return {};
    return std::string(static_cast<const char*>(data), size);
}

std::wstring ReadHtmlPage(HMODULE module, UINT htmlId) {
    std::string bytes = ReadResource(module, MAKEINTRESOURCEW(23), MAKEINTRESOURCEW(htmlId));
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    return orlyn::FromUtf8(bytes);
}

namespace {

// Position just after `id="` (or id='...'), scanning from `from`, or npos. Only a whole attribute name
// counts: "data-id=" or "grid=" are not ids.
size_t NextIdValue(const std::wstring& html, size_t from, wchar_t* quote) {
    for (size_t at = html.find(L"id=", from); at != std::wstring::npos; at = html.find(L"id=", at + 1)) {
        if (at == 0 || !std::iswspace(html[at - 1])) continue;
        size_t value = at + 3;
        if (value < html.size() && (html[value] == L'"' || html[value] == L'\'')) {
            *quote = html[value];
            return value + 1;
        }
    }
    return std::wstring::npos;
}

void ReplaceAll(std::wstring& text, const wchar_t* from, const wchar_t* to) {
    std::wstring f(from), t(to);
    for (size_t at = text.find(f); at != std::wstring::npos; at = text.find(f, at + t.size())) {
        text.replace(at, f.size(), t);
    }
}

}  // namespace

std::vector<std::wstring> ElementIds(const std::wstring& html) {
    std::vector<std::wstring> ids;
    wchar_t quote = L'"';
    for (size_t value = NextIdValue(html, 0, &quote); value != std::wstring::npos;
         value = NextIdValue(html, value, &quote)) {
        size_t end = html.find(quote, value);
        if (end == std::wstring::npos) break;
        ids.push_back(html.substr(value, end - value));
    }
    return ids;
}

std::wstring ElementText(const std::wstring& html, const wchar_t* id) {
    wchar_t quote = L'"';
    for (size_t value = NextIdValue(html, 0, &quote); value != std::wstring::npos;
         value = NextIdValue(html, value, &quote)) {
        size_t end = html.find(quote, value);
        if (end == std::wstring::npos) return {};
        if (html.compare(value, end - value, id) != 0) continue;
        size_t open = html.find(L'>', end);
        if (open == std::wstring::npos) return {};
        size_t close = html.find(L'<', open + 1);
        std::wstring text = html.substr(open + 1, close == std::wstring::npos ? std::wstring::npos : close - open - 1);
        ReplaceAll(text, L"&nbsp;", L" ");
        ReplaceAll(text, L"&lt;", L"<");
        ReplaceAll(text, L"&gt;", L">");
        ReplaceAll(text, L"&quot;", L"\"");
        ReplaceAll(text, L"&amp;", L"&");
        size_t first = text.find_first_not_of(L" \t\r\n");
        if (first == std::wstring::npos) return {};
        size_t last = text.find_last_not_of(L" \t\r\n");
        return text.substr(first, last - first + 1);
    }
    return {};
}

std::wstring PageUrl(HMODULE module, UINT htmlId) {
    if (!module) module = ::GetModuleHandleW(nullptr);
    wchar_t path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return orlyn::FormatString(L"res://%s/%u", path, htmlId);
}

}  // namespace page_resources
