#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/page_resources.h"

TEST(PageResources, FindsIdsAndTextInMarkup) {
    std::wstring html =
        L"<div id=\"a\" data-id=\"not\" grid=\"no\"><span id='b'>  x &amp; y&nbsp;&lt;z&gt; </span>"
        L"<p\tid=\"c\"></p><i id=\"unterminated";
    EXPECT_EQ(page_resources::ElementIds(html), (std::vector<std::wstring>{L"a", L"b", L"c"}));
    EXPECT_EQ(page_resources::ElementText(html, L"b"), L"x & y <z>");
    EXPECT_EQ(page_resources::ElementText(html, L"c"), L"");
    EXPECT_EQ(page_resources::ElementText(html, L"missing"), L"");
    EXPECT_TRUE(page_resources::ElementIds(L"").empty());
}

TEST(PageResources, PageAddressIsTheModulesResourceUrl) {
    wchar_t path[MAX_PATH];
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    EXPECT_EQ(page_resources::PageUrl(nullptr, 129), std::wstring(L"res://") + path + L"/129");
}
