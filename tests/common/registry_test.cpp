#include <gtest/gtest.h>

#include "common/registry.h"
#include "support/test_support.h"

using namespace testing_support;

TEST(ReadRegString, AcceptsOnlyRegSzWithinTheLimit) {
    ScopedRegKey key(HKEY_CURRENT_USER, L"Software\\OrlynTests\\" + UniqueName(L"rs"));
    std::wstring s518(259, L'a');  // 259 units + NUL = 520 bytes
    std::wstring s520(260, L'a');  // 522 bytes
    ASSERT_EQ(orlyn::SetRegString(key.key(), L"ok", s518.c_str()), ERROR_SUCCESS);
    ASSERT_EQ(orlyn::SetRegString(key.key(), L"big", s520.c_str()), ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key.key(), L"exp", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(L"x"), 4),
              ERROR_SUCCESS);
    std::wstring out;
    EXPECT_EQ(orlyn::ReadRegString(key.key(), L"ok", 520, out), ERROR_SUCCESS);
    EXPECT_EQ(out, s518);
    EXPECT_NE(orlyn::ReadRegString(key.key(), L"big", 520, out), ERROR_SUCCESS);
    EXPECT_EQ(orlyn::ReadRegString(key.key(), L"exp", 520, out), ERROR_UNSUPPORTED_TYPE);
    EXPECT_EQ(orlyn::ReadRegString(key.key(), L"missing", 520, out), ERROR_FILE_NOT_FOUND);
}

TEST(DeleteRegTree, RemovesNestedKeysAndReportsMissing) {
    std::wstring path = L"Software\\OrlynTests\\" + UniqueName(L"tree");
    {
        orlyn::UniqueHkey k;
        ASSERT_EQ(orlyn::CreateRegKey(HKEY_CURRENT_USER, (path + L"\\a\\b\\c").c_str(), KEY_ALL_ACCESS,
                                      orlyn::RegView::Default, k),
                  ERROR_SUCCESS);
        ASSERT_EQ(orlyn::SetRegString(k.get(), L"v", L"x"), ERROR_SUCCESS);
        orlyn::UniqueHkey k2;
        ASSERT_EQ(orlyn::CreateRegKey(HKEY_CURRENT_USER, (path + L"\\d").c_str(), KEY_ALL_ACCESS,
                                      orlyn::RegView::Default, k2),
                  ERROR_SUCCESS);
    }
    EXPECT_EQ(orlyn::DeleteRegTree(HKEY_CURRENT_USER, path.c_str(), orlyn::RegView::Default), ERROR_SUCCESS);
    orlyn::UniqueHkey gone;
    EXPECT_EQ(orlyn::OpenRegKey(HKEY_CURRENT_USER, path.c_str(), KEY_READ, orlyn::RegView::Default, gone),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(orlyn::DeleteRegTree(HKEY_CURRENT_USER, path.c_str(), orlyn::RegView::Default), ERROR_FILE_NOT_FOUND);
}
