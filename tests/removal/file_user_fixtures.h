// Fixture programs of the lock-holder and process tests, copied under image names of their own so that
// no other test's processes share their names.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace removal_test {

// Copies the fixture program into the folder as imageName; returns the copy's path (empty on failure).
inline std::wstring CopyFixture(const testing_support::TempDir& dir, const wchar_t* fixture,
                                const std::wstring& imageName) {
    std::wstring target = dir / imageName;
    return ::CopyFileW(testing_support::FixturePath(fixture).c_str(), target.c_str(), FALSE) ? target
                                                                                            : std::wstring();
}

// Starts a fixture that takes "<first> <ready event> <rest>" and waits until it signals readiness.
inline ::testing::AssertionResult StartReady(testing_support::ChildProcess& child, const std::wstring& exe,
                                             const std::wstring& first, const std::wstring& rest = L"") {
    std::wstring ready = testing_support::UniqueName(L"orlyn_ready");
    std::wstring args = L"\"" + first + L"\" " + ready;
    if (!rest.empty()) args += L" " + rest;
    if (exe.empty() || !child.Start(exe, args)) return ::testing::AssertionFailure() << "cannot start fixture";
    // The fixture exits early when it cannot do its job; do not wait the whole time then.
    HANDLE handles[2] = {::CreateEventW(nullptr, TRUE, FALSE, ready.c_str()), child.Handle()};
    orlyn::UniqueHandle readyEvent(handles[0]);
    DWORD wait = ::WaitForMultipleObjects(2, handles, FALSE, 15000);
    if (wait == WAIT_OBJECT_0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "fixture not ready (wait " << wait << ", exit code "
                                         << child.ExitCode() << ")";
}

}  // namespace removal_test
