#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/string_format.h"
#include "common/unique_handle.h"
#include "removal/log_handle.h"
#include "removal/path_guard.h"
#include "removal/primitives_test_support.h"
#include "support/test_support.h"

using removal_test::LogCapture;
using removal_test::SpecialFolder;

namespace {

// The entries directly in path (enough to show that a refused operation deleted nothing at the top).
std::vector<std::wstring> ListFolder(const std::wstring& path) {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW fd;
    orlyn::UniqueFindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &fd));
    if (find) {
        do out.push_back(fd.cFileName);
        while (::FindNextFileW(find.get(), &fd));
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST(PathGuard, ComparesNamesInTheSystemsUpperCase) {
    // User and folder names may hold accented Latin, Cyrillic or Greek letters; Hangul has no case.
    struct Case {
        const wchar_t* path;
        const wchar_t* normal;
    } cases[] = {
        {L"c:\\users\\bob\\", L"C:\\USERS\\BOB"},
        {L"C:\\Users\\élodie\\", L"C:\\USERS\\ÉLODIE"},
        {L"C:\\Users\\дом", L"C:\\USERS\\ДОМ"},
        {L"C:\\Users\\σοφια", L"C:\\USERS\\ΣΟΦΙΑ"},
        {L"C:\\Users\\사용자", L"C:\\USERS\\사용자"},
        {L"\\\\?\\unc\\server\\share", L"\\\\SERVER\\SHARE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.path));
        std::wstring out;
        EXPECT_TRUE(orlyn::NormalizePathForCompare(c.path, out));
        EXPECT_EQ(out, c.normal);
    }
}

TEST(PathGuard, RefusesRootsProtectedFoldersAndWhatIsAboveThem) {
    orlyn::ProtectedFolders folders;
    folders.folders = {L"D:\\OS\\Windows", L"C:\\Program Files\\", L"c:/users", L"C:\\Élodie\\Дом"};
    folders.parentsOfRoots = {L"C:\\Users", L"D:\\Προφίλ"};
    using R = orlyn::TreeRefusal;
    struct Case {
        const wchar_t* path;
        R expected;
    } cases[] = {
        {L"C:\\", R::Root},
        {L"e:/", R::Root},
        {L"\\\\server\\share\\", R::Root},
        {L"\\\\?\\C:\\", R::Root},
        {L"C:\\Temp\\..", R::Root},
        {L"D:\\OS\\Windows", R::Protected},
        {L"d:\\os\\windows\\\\", R::Protected},
        {L"D:\\OS", R::Protected},  // above a protected folder
        {L"D:\\OS\\Windows\\Temp\\..", R::Protected},
        {L"C:\\PROGRAM FILES", R::Protected},
        {L"C:\\Users", R::Protected},
        {L"C:\\Users\\Bob", R::Protected},
        {L"C:\\Users\\Bob\\.", R::Protected},
        {L"C:\\Users\\Public\\", R::Protected},
        {L"relative\\path", R::NotAbsolute},
        {L"\\Windows", R::NotAbsolute},
        {L"C:Temp", R::NotAbsolute},
        {L"D:\\OS\\Windows\\Temp", R::None},
        {L"C:\\Program Files\\Orlyn", R::None},
        {L"C:\\Users\\Bob\\AppData", R::None},
        {L"C:\\Users\\Bob\\AppData\\..\\x", R::None},
        {L"C:\\ProgramData\\Orlyn\\Common", R::None},
        {L"D:\\OSX", R::None},
        // Names with accented Latin, Cyrillic and Greek letters compare in any case.
        {L"c:\\éLODIE\\дОм", R::Protected},
        {L"C:\\élodie", R::Protected},
        {L"d:\\προφίλ\\élodie", R::Protected},
        {L"C:\\élodie\\дом\\x", R::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.path));
        EXPECT_EQ(orlyn::CheckTreePath(c.path, folders), c.expected);
    }
}

TEST(PathGuard, TreeOperationsRefuseThisSystemsFolders) {
    wchar_t windows[MAX_PATH] = {};
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(::GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
    std::wstring win = windows;
    std::wstring lowerWin = win;
    ::CharLowerBuffW(&lowerWin[0], static_cast<DWORD>(lowerWin.size()));
    std::wstring slashed = win;
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    std::wstring drive = win.substr(0, 3);
    struct Case {
        std::wstring path;
        const wchar_t* reason;
    } cases[] = {
        {drive, L"drive root"},
        {drive.substr(0, 2) + L"\\.\\", L"drive root"},
        {win, L"system folder"},
        {lowerWin + L"\\\\", L"system folder"},
        {slashed, L"system folder"},
        {win + L"\\Temp\\..", L"system folder"},
        {L"\\\\?\\" + win, L"system folder"},
        {system, L"system folder"},
        {SpecialFolder(CSIDL_PROGRAM_FILES), L"system folder"},
        {SpecialFolder(CSIDL_PROGRAM_FILES_COMMON), L"system folder"},
        {SpecialFolder(CSIDL_COMMON_APPDATA), L"system folder"},
        {SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\", L"system folder"},
        {SpecialFolder(CSIDL_COMMON_PROGRAMS), L"system folder"},
        {SpecialFolder(CSIDL_PROFILE), L"system folder"},
        {SpecialFolder(CSIDL_DESKTOPDIRECTORY), L"system folder"},
        {SpecialFolder(CSIDL_PROFILE) + L"\\..", L"system folder"},  // the profiles folder
        {L"relative", L"not a full path"},
        {L"\\", L"not a full path"},
    };
    // First the decision alone: a guard that let one through must not get to delete anything.
    for (const auto& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.path));
        ASSERT_FALSE(c.path.empty());
        ASSERT_NE(orlyn::CheckTreePathOnThisSystem(c.path.c_str()), orlyn::TreeRefusal::None);
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.path));
        ASSERT_FALSE(c.path.empty());
        LogCapture log;
        std::vector<std::wstring> before = ListFolder(c.path);
        EXPECT_FALSE(log.handle.RemoveFolderTree(c.path.c_str(), true));
        log.handle.ClearFolderContents(c.path.c_str());
        std::wstring expected = orlyn::FormatString(L"Error\tDeleteFolder Refused (%s) : %s", c.reason, c.path.c_str());
        EXPECT_EQ(log.Messages(), (std::vector<std::wstring>{expected, expected}));
        EXPECT_EQ(ListFolder(c.path), before);
    }
}
