#include <windows.h>

#include <gtest/gtest.h>

#include "common/unique_handle.h"

int wmain(int argc, wchar_t** argv) {
    // No error dialogs from the system while tests run unattended.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    orlyn::ComInit com;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
