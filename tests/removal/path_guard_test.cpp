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
        {L"\\\\server\\share\\", R::NetworkPath},
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
        // Another name of a local folder, or of a drive: a share of this or any machine, a device name,
        // a stream of the folder. None of them is walked, whatever folder it reaches.
        {L"\\\\localhost\\C$\\Windows", R::NetworkPath},
        {L"\\\\127.0.0.1\\c$\\Users\\bob", R::NetworkPath},
        {L"\\\\127.1\\c$\\Temp", R::NetworkPath},
        {L"\\\\[::1]\\c$\\Temp", R::NetworkPath},
        {L"\\\\0--1.ipv6-literal.net\\c$\\Temp", R::NetworkPath},
        {L"\\\\PC-01@SSL@443\\DavWWWRoot\\Temp", R::NetworkPath},
        {L"//localhost/c$/ProgramData/Orlyn/Common", R::NetworkPath},
        {L"\\\\?\\UNC\\localhost\\C$\\Windows", R::NetworkPath},
        {L"\\??\\UNC\\fileserver\\share\\Orlyn", R::NetworkPath},
        {L"\\\\fileserver\\share\\Orlyn\\Common", R::NetworkPath},
        {L"\\\\.\\C:\\Windows", R::DevicePath},
        {L"\\\\.\\C:\\ProgramData\\Orlyn\\Common", R::DevicePath},
        {L"\\\\.\\UNC\\localhost\\c$\\Windows", R::DevicePath},
        {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\Windows", R::DevicePath},
        {L"\\\\?\\Volume{0b1a0000-0000-0000-0000-100000000000}\\Windows", R::DevicePath},
        {L"\\\\?\\C:", R::DevicePath},
        {L"D:\\OS\\Windows::$INDEX_ALLOCATION", R::StreamName},
        {L"d:\\os\\windows:$I30:$INDEX_ALLOCATION\\", R::StreamName},
        {L"C:\\ProgramData\\Orlyn\\Common::$INDEX_ALLOCATION", R::StreamName},
        {L"C:\\ProgramData\\Orlyn:x\\Common", R::StreamName},
        {L"\\\\\\.U\\S\\x", R::NotAbsolute},
        // The long form of a drive path is that path.
        {L"\\\\?\\C:\\ProgramData\\Orlyn\\Common", R::None},
        {L"\\??\\D:\\OS\\Windows", R::Protected},
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

TEST(PathGuard, TreeOperationsRefuseOtherNamesOfALocalFolder) {
    testing_support::TempDir dir(L"alias");
    ASSERT_TRUE(testing_support::WriteFileBytes(dir / L"kept.txt", "x"));
    ASSERT_TRUE(::CreateDirectoryW((dir / L"sub").c_str(), nullptr));
    ASSERT_TRUE(testing_support::WriteFileBytes(dir / L"sub\\kept.dat", "y"));
    const std::wstring& path = dir.path();
    ASSERT_EQ(path.compare(1, 2, L":\\"), 0);
    const std::wstring drive = path.substr(0, 1);
    const std::wstring rest = path.substr(3);
    wchar_t netbios[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD netbiosSize = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(::GetComputerNameW(netbios, &netbiosSize));
    wchar_t dns[256] = {};
    DWORD dnsSize = 256;
    std::wstring dnsName = ::GetComputerNameExW(ComputerNameDnsFullyQualified, dns, &dnsSize) && dns[0]
                               ? std::wstring(dns)
                               : std::wstring(netbios);
    const std::wstring share = drive + L"$\\" + rest;
    struct Case {
        std::wstring path;
        const wchar_t* reason;
    } cases[] = {
        {L"\\\\localhost\\" + share, L"network path"},
        {L"\\\\127.0.0.1\\" + share, L"network path"},
        {L"\\\\" + std::wstring(netbios) + L"\\" + share, L"network path"},
        {L"\\\\" + dnsName + L"\\" + share, L"network path"},
        {L"\\\\?\\UNC\\localhost\\" + share, L"network path"},
        {L"\\\\.\\" + path, L"device path"},
        {L"\\\\?\\GLOBALROOT\\??\\" + path, L"device path"},
        {path + L"::$INDEX_ALLOCATION", L"stream name"},
        {path + L":$I30:$INDEX_ALLOCATION", L"stream name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.path));
        LogCapture log;
        EXPECT_FALSE(log.handle.RemoveFolderTree(c.path.c_str(), true));
        log.handle.ClearFolderContents(c.path.c_str());
        std::wstring expected = orlyn::FormatString(L"Error\tDeleteFolder Refused (%s) : %s", c.reason, c.path.c_str());
        EXPECT_EQ(log.Messages(), (std::vector<std::wstring>{expected, expected}));
        EXPECT_TRUE(testing_support::FileExists(dir / L"kept.txt"));
        EXPECT_TRUE(testing_support::FileExists(dir / L"sub\\kept.dat"));
    }
    // The folder's own name is walked, and its long form too.
    LogCapture log;
    EXPECT_TRUE(log.handle.RemoveFolderTree((L"\\\\?\\" + path + L"\\sub").c_str(), true));
    EXPECT_FALSE(testing_support::FileExists(dir / L"sub\\kept.dat"));
    EXPECT_TRUE(log.handle.RemoveFolderTree(path.c_str(), false));
    EXPECT_FALSE(testing_support::FileExists(dir / L"kept.txt"));
}
