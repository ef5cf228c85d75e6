#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "removal/removal_memo_text.h"

using removal_memo::DecodeFolders;
using removal_memo::EncodeFolders;

namespace {

// ASCII-only upper-casing: enough to show that the comparison goes through the fold it is given.
void AsciiFold(wchar_t* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] >= L'a' && text[i] <= L'z') text[i] = static_cast<wchar_t>(text[i] - L'a' + L'A');
}

std::vector<std::wstring> Decode(const std::wstring& units) {
    return DecodeFolders(units.data(), units.size(), AsciiFold);
}

}  // namespace

TEST(RemovalMemoText, EncodesEachPathWithItsTerminatorAndEndsTheList) {
    std::vector<wchar_t> data = EncodeFolders({L"C:\\A", L"", L"D:\\B c"});
    EXPECT_EQ(std::wstring(data.begin(), data.end()), std::wstring(L"C:\\A\0D:\\B c\0\0", 13));
    std::vector<wchar_t> none = EncodeFolders({});
    EXPECT_EQ(std::wstring(none.begin(), none.end()), std::wstring(L"\0\0", 2));
    EXPECT_EQ(Decode(std::wstring(data.begin(), data.end())), (std::vector<std::wstring>{L"C:\\A", L"D:\\B c"}));
}

TEST(RemovalMemoText, ReadsWhatAStoredValueHoldsAndPassesOverTheRest) {
    const std::wstring long259(259, L'x');
    const std::wstring long260(260, L'y');
    struct Case {
        const char* what;
        std::wstring units;
        std::vector<std::wstring> paths;
    } cases[] = {
        {"nothing", std::wstring(), {}},
        {"a proper list", std::wstring(L"C:\\A\0C:\\B\0\0", 11), {L"C:\\A", L"C:\\B"}},
        {"no terminators at all", L"C:\\A", {L"C:\\A"}},
        {"one terminator missing", std::wstring(L"C:\\A\0C:\\B", 9), {L"C:\\A", L"C:\\B"}},
        {"the list ends at its first empty entry", std::wstring(L"C:\\A\0\0C:\\After\0\0", 17), {L"C:\\A"}},
        {"an empty list", std::wstring(L"\0\0", 2), {}},
        {"a path that fills a row", long259 + L'\0', {long259}},
        {"a path too long for a row is passed over", long260 + L'\0' + L"C:\\B" + L'\0', {L"C:\\B"}},
        {"the same path in other letter case once", std::wstring(L"C:\\Old\0c:\\old\0", 14), {L"C:\\Old"}},
        {"the path is not judged", std::wstring(L"..\\x\0C:\\\0", 9), {L"..\\x", L"C:\\"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Decode(c.units), c.paths);
    }
}

TEST(RemovalMemoText, ReadsAtMostTheFoldersOfARecord) {
    std::wstring units;
    for (int i = 0; i < 40; ++i) units += L"C:\\F" + std::to_wstring(i) + L'\0';
    std::vector<std::wstring> paths = Decode(units);
    ASSERT_EQ(paths.size(), removal_memo::kMaxFolders);
    EXPECT_EQ(paths.back(), L"C:\\F" + std::to_wstring(removal_memo::kMaxFolders - 1));
}

TEST(RemovalMemoText, AddsOnlyPathsTheListDoesNotHold) {
    std::vector<std::wstring> list = {L"C:\\Shared"};
    removal_memo::AddFolders(list, {L"c:\\SHARED", L"C:\\Download", L"C:\\Shared\\sub"}, AsciiFold);
    EXPECT_EQ(list, (std::vector<std::wstring>{L"C:\\Shared", L"C:\\Download", L"C:\\Shared\\sub"}));
    // Without a fold only the same text is the same path.
    EXPECT_FALSE(removal_memo::SamePath(L"C:\\a", L"C:\\A", nullptr));
    EXPECT_TRUE(removal_memo::SamePath(L"C:\\a", L"C:\\A", AsciiFold));
}
