#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "common/registry.h"
#include "common/string_format.h"
#include "removal/log_handle.h"
#include "removal/path_guard.h"
#include "support/test_support.h"
#include "removal/file_user_fixtures.h"
#include "removal/primitives_test_support.h"

using namespace testing_support;
using removal_test::LogCapture;
using removal_test::MakeFile;

namespace {

// What the search for a file's users writes when nobody holds it (and the retry is not made).
const wchar_t kNoUserFormat[] = L"Error\t%s를 사용하는 프로세스를 찾지 못했습니다. ";
// What it writes after ending the holder.
const wchar_t kEndedFormat[] = L"OK\t%s 프로세스가 종료되었습니다.";

std::wstring Line(const wchar_t* format, const std::wstring& path) {
    return orlyn::FormatString(format, path.c_str());
}

std::wstring Line(const wchar_t* format, int code, const std::wstring& path) {
    return orlyn::FormatString(format, code, path.c_str());
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Files and folders below path (not following links), as paths relative to it.
void ListTree(const std::wstring& path, const std::wstring& rel, std::vector<std::wstring>& out) {
    WIN32_FIND_DATAW fd;
    orlyn::UniqueFindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &fd));
    if (!find) return;
    do {
        if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0) continue;
        std::wstring childRel = rel.empty() ? fd.cFileName : rel + L"\\" + fd.cFileName;
        out.push_back(childRel);
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            ListTree(path + L"\\" + fd.cFileName, childRel, out);
    } while (::FindNextFileW(find.get(), &fd));
}

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

std::vector<std::wstring> ListTree(const std::wstring& path) {
    std::vector<std::wstring> out;
    ListTree(path, L"", out);
    std::sort(out.begin(), out.end());
    return out;
}

// root\a\x.txt (read-only), root\a\b\y.txt, root\a\b (read-only folder), root\z.txt (hidden, system),
// root\empty
void MakeSampleTree(const std::wstring& root) {
    ASSERT_TRUE(CreateFolders(root + L"\\a\\b"));
    ASSERT_TRUE(CreateFolders(root + L"\\empty"));
    ASSERT_TRUE(MakeFile(root + L"\\a\\x.txt", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(MakeFile(root + L"\\a\\b\\y.txt"));
    ASSERT_TRUE(MakeFile(root + L"\\z.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(::SetFileAttributesW((root + L"\\a\\b").c_str(), FILE_ATTRIBUTE_READONLY));
}

std::wstring SpecialFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return L"";
    return path;
}

// A file or folder path of exactly `length` characters below dir (which must be shorter).
std::wstring PathOfLength(const std::wstring& dir, size_t length, wchar_t fill) {
    std::wstring p = dir + L"\\";
    p.append(length - p.size(), fill);
    return p;
}

}  // namespace

TEST(RemoveFile, WritesOneLinePerCase) {
    TempDir dir(L"rf");
    std::wstring plain = dir / L"plain.txt";
    std::wstring readOnly = dir / L"readonly.txt";
    std::wstring missing = dir / L"missing.txt";
    std::wstring missingFolder = dir / L"nofolder\\missing.txt";
    std::wstring folder = dir / L"folder";
    std::wstring fullFolder = dir / L"full";
    std::wstring tooLong = PathOfLength(dir.path(), 300, L'q');
    ASSERT_TRUE(MakeFile(plain));
    ASSERT_TRUE(MakeFile(readOnly, FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CreateFolders(folder));
    ASSERT_TRUE(CreateFolders(fullFolder));
    ASSERT_TRUE(MakeFile(fullFolder + L"\\inside.txt"));

    struct Case {
        const char* name;
        bool viaFolder;  // call RemoveFolder instead of RemoveFile
        std::wstring path;
        bool result;
        std::vector<std::wstring> lines;
        bool goneAfter;
    } cases[] = {
        {"existing file", false, plain, true, {Line(L"OK\tDeleteFile Success : %s", plain)}, true},
        // Unreadable attributes take the folder branch.
        {"missing file", false, missing, true, {Line(L"OK\tFolder Does Not Exist : %s", missing)}, true},
        {"missing folder", false, missingFolder, false,
         {Line(kNoUserFormat, missingFolder),
          Line(L"Error\tDeleteFolder Failure(%d) : %s", ERROR_PATH_NOT_FOUND, missingFolder)},
         true},
        {"read-only file", false, readOnly, false,
         {Line(kNoUserFormat, readOnly), Line(L"Error\tDeleteFile Failure(%d) : %s", ERROR_ACCESS_DENIED, readOnly)},
         false},
        {"folder given as file", false, folder, true, {Line(L"OK\tDeleteFolder Success : %s", folder)}, true},
        {"file given as folder", true, readOnly, false,
         {Line(kNoUserFormat, readOnly), Line(L"Error\tDeleteFile Failure(%d) : %s", ERROR_ACCESS_DENIED, readOnly)},
         false},
        {"folder not empty", true, fullFolder, false,
         {Line(kNoUserFormat, fullFolder),
          Line(L"Error\tDeleteFolder Failure(%d) : %s", ERROR_DIR_NOT_EMPTY, fullFolder)},
         false},
        // Too long for the system's path buffers: refused before any attempt, nobody is searched for.
        {"path too long", false, tooLong, false,
         {Line(L"Error\tDeleteFile Failure(%d) : %s", ERROR_FILENAME_EXCED_RANGE, tooLong)}, true},
        {"folder path too long", true, tooLong, false,
         {Line(L"Error\tDeleteFolder Failure(%d) : %s", ERROR_FILENAME_EXCED_RANGE, tooLong)}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        bool result = c.viaFolder ? log.handle.RemoveFolder(c.path.c_str()) : log.handle.RemoveFile(c.path.c_str());
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(log.Messages(), c.lines);
        EXPECT_EQ(!Exists(c.path), c.goneAfter);
    }
    ::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(RemoveFolderTree, RemovesReadOnlyFilesAndFoldersChildrenFirst) {
    for (bool trailingSlash : {false, true}) {
        SCOPED_TRACE(trailingSlash ? "with trailing backslash" : "without trailing backslash");
        TempDir dir(L"tree");
        std::wstring root = dir / L"root";
        MakeSampleTree(root);
        LogCapture log;
        std::wstring given = trailingSlash ? root + L"\\" : root;
        EXPECT_TRUE(log.handle.RemoveFolderTree(given.c_str(), true));
        EXPECT_FALSE(Exists(root));

        auto lines = log.Messages();
        std::vector<std::wstring> expected = {
            Line(L"OK\tDeleteFile Success : %s", root + L"\\a\\x.txt"),
            Line(L"OK\tDeleteFile Success : %s", root + L"\\a\\b\\y.txt"),
            Line(L"OK\tDeleteFolder Success : %s", root + L"\\a\\b"),
            Line(L"OK\tDeleteFolder Success : %s", root + L"\\a"),
            Line(L"OK\tDeleteFile Success : %s", root + L"\\z.txt"),
            Line(L"OK\tDeleteFolder Success : %s", root + L"\\empty"),
            Line(L"OK\tDeleteFolder Success : %s", given),
        };
        ASSERT_EQ(lines.size(), expected.size());
        // The walk follows the system's order; what matters is the set and that children come first.
        auto pos = [&](const std::wstring& l) { return std::find(lines.begin(), lines.end(), l) - lines.begin(); };
        for (const auto& e : expected) EXPECT_LT(pos(e), static_cast<long>(lines.size())) << orlyn::ToUtf8(e);
        EXPECT_LT(pos(expected[0]), pos(expected[3]));
        EXPECT_LT(pos(expected[1]), pos(expected[2]));
        EXPECT_LT(pos(expected[2]), pos(expected[3]));
        EXPECT_EQ(lines.back(), expected.back());
    }
}

TEST(RemoveFolderTree, EndsTheProgramThatHoldsAFileThenTriesOnceMore) {
    TempDir dir(L"held");
    std::wstring root = dir / L"root";
    std::wstring held = root + L"\\held.dat";
    std::wstring free = root + L"\\free.txt";
    ASSERT_TRUE(CreateFolders(root));
    ASSERT_TRUE(MakeFile(held));
    ASSERT_TRUE(MakeFile(free));
    TempDir programs(L"heldexe");  // the holder's image lies outside the tree
    std::wstring image = UniqueName(L"holder") + L".exe";
    ChildProcess holder;
    ASSERT_TRUE(removal_test::StartReady(holder, removal_test::CopyFixture(programs, L"hold_file.exe", image), held));
    ASSERT_FALSE(::DeleteFileW(held.c_str()));

    ScriptedMessageBoxes boxes;
    LogCapture log;
    EXPECT_TRUE(log.handle.RemoveFolderTree(root.c_str(), true));
    EXPECT_EQ(boxes.Count(), 1u);
    EXPECT_TRUE(holder.WaitForExit(5000));
    EXPECT_FALSE(Exists(root));

    auto lines = log.Messages();
    std::vector<std::wstring> heldLines = {
        L"OK\tKill Process Processing : Try to kill " + image,
        L"OK\tKill Process Success : " + image,
        Line(kEndedFormat, image),
        Line(L"OK\tDeleteFile Success : %s", held),
    };
    ASSERT_EQ(lines.size(), 6u);
    auto first = std::find(lines.begin(), lines.end(), heldLines[0]);
    ASSERT_NE(first, lines.end());
    EXPECT_EQ(std::vector<std::wstring>(first, std::min(first + 4, lines.end())), heldLines);
    EXPECT_NE(std::find(lines.begin(), lines.end(), Line(L"OK\tDeleteFile Success : %s", free)), lines.end());
    EXPECT_EQ(lines.back(), Line(L"OK\tDeleteFolder Success : %s", root));
}

TEST(RemoveFolderTree, KeepsTheRootWhenAskedAndFailsOnAbsentPath) {
    TempDir dir(L"tree");
    std::wstring root = dir / L"root";
    MakeSampleTree(root);
    {
        LogCapture log;
        EXPECT_TRUE(log.handle.RemoveFolderTree(root.c_str(), false));
        EXPECT_TRUE(FolderExists(root));
        EXPECT_TRUE(ListTree(root).empty());
        EXPECT_EQ(log.Messages().size(), 6u);
    }
    {
        LogCapture log;
        std::wstring missing = dir / L"missing";
        EXPECT_TRUE(log.handle.RemoveFolderTree(missing.c_str(), true));
        EXPECT_EQ(log.Messages(), std::vector<std::wstring>{Line(L"OK\tFolder Does Not Exist : %s", missing)});
    }
    {
        LogCapture log;
        EXPECT_FALSE(log.handle.RemoveFolderTree(L"", true));
        EXPECT_FALSE(log.handle.RemoveFolderTree(nullptr, true));
        EXPECT_TRUE(log.Messages().empty());
    }
}

TEST(RemoveFolderTree, NeverGoesThroughALink) {
    TempDir dir(L"link");
    std::wstring target = dir / L"target";
    std::wstring root = dir / L"root";
    std::wstring link = root + L"\\link";
    ASSERT_TRUE(CreateFolders(target + L"\\deep"));
    ASSERT_TRUE(MakeFile(target + L"\\keep.txt", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(MakeFile(target + L"\\deep\\keep2.txt"));
    ASSERT_TRUE(CreateFolders(root + L"\\sub"));
    ASSERT_TRUE(MakeFile(root + L"\\sub\\gone.txt"));
    if (!removal_test::MakeFolderLink(target, link)) GTEST_SKIP() << "this system does not let us make a link";
    DWORD linkAttributes = ::GetFileAttributesW(link.c_str());
    ASSERT_NE(linkAttributes, INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(linkAttributes & FILE_ATTRIBUTE_REPARSE_POINT);

    LogCapture log;
    bool result = log.handle.RemoveFolderTree(root.c_str(), true);
    // Behind the link nothing changed, not even the read-only bit.
    EXPECT_EQ(ListTree(target), (std::vector<std::wstring>{L"deep", L"deep\\keep2.txt", L"keep.txt"}));
    EXPECT_EQ(::GetFileAttributesW((target + L"\\keep.txt").c_str()) & FILE_ATTRIBUTE_READONLY,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(Exists(root + L"\\sub"));
    auto lines = log.Messages();
    for (const auto& l : lines) EXPECT_EQ(l.find(target), std::wstring::npos) << orlyn::ToUtf8(l);
    auto has = [&](const std::wstring& l) { return std::find(lines.begin(), lines.end(), l) != lines.end(); };
    EXPECT_TRUE(has(Line(L"OK\tDeleteFile Success : %s", root + L"\\sub\\gone.txt")));
    EXPECT_TRUE(has(Line(L"OK\tDeleteFolder Success : %s", root + L"\\sub")));
    // The link got its own removal line (success on Windows, a failure under Wine), nothing below it did.
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::wstring& l) { return l.find(link) != std::wstring::npos; }),
              testing_support::RunningUnderWine() ? 2 : 1);
    bool linkGone = !Exists(link);
    removal_test::RemoveFolderLink(link);
    ::SetFileAttributesW((target + L"\\keep.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    ORLYN_SKIP_ON_WINE("a Unix link cannot be removed through Win32 calls");
    EXPECT_TRUE(linkGone);
    EXPECT_TRUE(result);
}

TEST(RemoveFolderTree, TreatsARootThatIsALinkAsTheLinkOnly) {
    TempDir dir(L"rootlink");
    std::wstring target = dir / L"target";
    std::wstring link = dir / L"link";
    ASSERT_TRUE(CreateFolders(target));
    ASSERT_TRUE(MakeFile(target + L"\\keep.txt"));
    if (!removal_test::MakeFolderLink(target, link)) GTEST_SKIP() << "this system does not let us make a link";
    {
        LogCapture log;
        EXPECT_FALSE(log.handle.RemoveFolderTree(link.c_str(), false));
        EXPECT_EQ(log.Messages(), std::vector<std::wstring>{Line(L"Error\tDeleteFolder Refused (link) : %s", link)});
        log.handle.ClearFolderContents(link.c_str());
        EXPECT_TRUE(FileExists(target + L"\\keep.txt"));
    }
    {
        LogCapture log;
        log.handle.RemoveFolderTree((link + L"\\").c_str(), true);
        EXPECT_TRUE(FileExists(target + L"\\keep.txt"));
    }
    removal_test::RemoveFolderLink(link);
}

TEST(RemoveFolderTree, RefusesASystemFolderReachedThroughALink) {
    // The all-users desktop, with a file of ours in it that must survive every call below.
    std::wstring desktop = SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
    ASSERT_FALSE(desktop.empty());
    std::wstring canary = desktop + L"\\" + UniqueName(L"orlyn_canary") + L".txt";
    ASSERT_TRUE(MakeFile(canary));
    TempDir dir(L"syslink");
    std::wstring link = dir / L"desk";
    if (!removal_test::MakeFolderLink(desktop, link)) {
        ::DeleteFileW(canary.c_str());
        GTEST_SKIP() << "this system does not let us make a link";
    }
    // Named through the link, the path's final form is the desktop itself.
    for (const std::wstring& path : {link + L"\\.", link + L"\\", link + L"\\sub\\.."}) {
        SCOPED_TRACE(orlyn::ToUtf8(path));
        LogCapture log;
        EXPECT_FALSE(log.handle.RemoveFolderTree(path.c_str(), false));
        log.handle.ClearFolderContents(path.c_str());
        EXPECT_TRUE(FileExists(canary));
        std::wstring refused = Line(L"Error\tDeleteFolder Refused (system folder) : %s", path);
        EXPECT_EQ(log.Messages(), (std::vector<std::wstring>{refused, refused}));
    }
    removal_test::RemoveFolderLink(link);
    ::DeleteFileW(canary.c_str());
}

TEST(RemoveFolderTree, ReportsChildPathsBeyondMaxPathWithoutCuttingThem) {
    TempDir dir(L"long");
    std::wstring root = dir / L"root";
    ASSERT_TRUE(CreateFolders(root));
    // A name that makes root\name 265 characters.
    size_t fit = MAX_PATH - 1 - root.size() - 1;
    std::wstring longName(fit + 6, L'a');
    std::wstring longPath = L"\\\\?\\" + root + L"\\" + longName;
    {
        orlyn::UniqueFileHandle f(::CreateFileW(longPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        ASSERT_TRUE(f.valid()) << ::GetLastError();
    }
    LogCapture log;
    EXPECT_FALSE(log.handle.RemoveFolderTree(root.c_str(), false));
    EXPECT_EQ(log.Messages(), std::vector<std::wstring>{Line(L"Error\tDeleteFile Failure(%d) : %s",
                                                             ERROR_FILENAME_EXCED_RANGE,
                                                             root + L"\\" + longName)});
    EXPECT_NE(::GetFileAttributesW(longPath.c_str()), INVALID_FILE_ATTRIBUTES);
    ::DeleteFileW(longPath.c_str());
}

TEST(ClearFolderContents, KeepsIndexDatAndItsFoldersSilently) {
    TempDir dir(L"clear");
    std::wstring root = dir / L"cache";
    ASSERT_TRUE(CreateFolders(root + L"\\held\\deeper"));
    ASSERT_TRUE(CreateFolders(root + L"\\free\\deeper"));
    ASSERT_TRUE(MakeFile(root + L"\\index.dat"));
    ASSERT_TRUE(MakeFile(root + L"\\Index.dat"));  // only the exact name is kept
    ASSERT_TRUE(MakeFile(root + L"\\page.htm", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(MakeFile(root + L"\\held\\index.dat"));
    ASSERT_TRUE(MakeFile(root + L"\\held\\image.png"));
    ASSERT_TRUE(MakeFile(root + L"\\held\\deeper\\a.js"));
    ASSERT_TRUE(MakeFile(root + L"\\free\\deeper\\b.js", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(::SetFileAttributesW((root + L"\\free").c_str(), FILE_ATTRIBUTE_READONLY));
    for (bool trailingSlash : {false, true}) {
        SCOPED_TRACE(trailingSlash ? "with trailing backslash" : "without trailing backslash");
        LogCapture log;
        log.handle.ClearFolderContents((trailingSlash ? root + L"\\" : root).c_str());
        EXPECT_TRUE(log.Messages().empty());
        EXPECT_EQ(ListTree(root), (std::vector<std::wstring>{L"held", L"held\\index.dat", L"index.dat"}));
    }
}

TEST(ClearFolderContents, LeavesWhatALinkPointsTo) {
    TempDir dir(L"clearlink");
    std::wstring target = dir / L"target";
    std::wstring root = dir / L"cache";
    ASSERT_TRUE(CreateFolders(target));
    ASSERT_TRUE(CreateFolders(root));
    ASSERT_TRUE(MakeFile(target + L"\\keep.txt"));
    ASSERT_TRUE(MakeFile(root + L"\\gone.txt"));
    if (!removal_test::MakeFolderLink(target, root + L"\\link")) GTEST_SKIP() << "no links on this system";
    LogCapture log;
    log.handle.ClearFolderContents(root.c_str());
    EXPECT_TRUE(FileExists(target + L"\\keep.txt"));
    EXPECT_FALSE(Exists(root + L"\\gone.txt"));
    removal_test::RemoveFolderLink(root + L"\\link");
}

TEST(PathGuard, NormalisesForComparison) {
    struct Case {
        const wchar_t* path;
        bool ok;
        const wchar_t* normal;
    } cases[] = {
        {L"C:\\Windows", true, L"C:\\WINDOWS"},
        {L"c:/windows/", true, L"C:\\WINDOWS"},
        {L"C:\\Windows\\\\System32\\..\\.\\", true, L"C:\\WINDOWS"},
        {L"C:\\Windows. \\", true, L"C:\\WINDOWS"},
        {L"C:\\..\\..\\Windows", true, L"C:\\WINDOWS"},
        {L"C:\\", true, L"C:"},
        {L"C:\\.", true, L"C:"},
        {L"C:\\Windows\\..", true, L"C:"},
        {L"\\\\?\\C:\\Windows", true, L"C:\\WINDOWS"},
        {L"\\\\?\\UNC\\server\\share\\x", true, L"\\\\SERVER\\SHARE\\X"},
        {L"\\\\server\\share\\..\\..", true, L"\\\\SERVER\\SHARE"},
        {L"//server/share/", true, L"\\\\SERVER\\SHARE"},
        {L"C:", false, L""},
        {L"C:Windows", false, L""},
        {L"\\Windows", false, L""},
        {L"Windows", false, L""},
        {L".", false, L""},
        {L"", false, L""},
        {L"\\\\server", false, L""},
        {L"\\\\.\\C:\\", false, L""},
        {L"C:\\Temp\\*", false, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.path));
        std::wstring out;
        EXPECT_EQ(orlyn::NormalizePathForCompare(c.path, out), c.ok);
        EXPECT_EQ(out, c.normal);
    }
}

TEST(PathGuard, RefusesRootsProtectedFoldersAndWhatIsAboveThem) {
    orlyn::ProtectedFolders folders;
    folders.folders = {L"D:\\OS\\Windows", L"C:\\Program Files\\", L"c:/users"};
    folders.parentsOfRoots = {L"C:\\Users"};
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

namespace {

const wchar_t kTestKeyBase[] = L"Software\\OrlynTests\\";

void CreateKey(HKEY root, const std::wstring& path) {
    orlyn::UniqueHkey key;
    ASSERT_EQ(orlyn::CreateRegKey(root, path.c_str(), KEY_ALL_ACCESS, orlyn::RegView::Default, key), ERROR_SUCCESS);
    ASSERT_EQ(orlyn::SetRegString(key.get(), L"v", L"x"), ERROR_SUCCESS);
}

bool KeyExists(HKEY root, const std::wstring& path) {
    orlyn::UniqueHkey key;
    return orlyn::OpenRegKey(root, path.c_str(), KEY_READ, orlyn::RegView::Default, key) == ERROR_SUCCESS;
}

// Sets a DACL on the key that grants everyone only reading, or (restore) full access.
void SetKeyReadOnly(HKEY root, const std::wstring& path, bool readOnly) {
    orlyn::UniqueHkey key;
    ASSERT_EQ(orlyn::OpenRegKey(root, path.c_str(), READ_CONTROL | WRITE_DAC, orlyn::RegView::Default, key),
              ERROR_SUCCESS);
    BYTE sidBuffer[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(sidBuffer);
    ASSERT_TRUE(::CreateWellKnownSid(WinWorldSid, nullptr, sidBuffer, &sidSize));
    BYTE aclBuffer[256];
    auto* acl = reinterpret_cast<PACL>(aclBuffer);
    ASSERT_TRUE(::InitializeAcl(acl, sizeof(aclBuffer), ACL_REVISION));
    DWORD rights = readOnly ? (KEY_READ | WRITE_DAC) : KEY_ALL_ACCESS;
    ASSERT_TRUE(::AddAccessAllowedAce(acl, ACL_REVISION, rights, sidBuffer));
    SECURITY_DESCRIPTOR sd;
    ASSERT_TRUE(::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(::SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE));
    ASSERT_EQ(::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);
}

}  // namespace

TEST(RemoveRegKey, DeletesANestedTreeInBothModes) {
    for (bool report : {true, false}) {
        SCOPED_TRACE(report ? "report" : "silent");
        std::wstring path = kTestKeyBase + UniqueName(L"rk");
        CreateKey(HKEY_CURRENT_USER, path + L"\\one");
        CreateKey(HKEY_CURRENT_USER, path + L"\\two\\a\\deep");
        CreateKey(HKEY_CURRENT_USER, path + L"\\two\\b");
        CreateKey(HKEY_CURRENT_USER, path + L"\\three");
        LogCapture log;
        LONG result = log.handle.RemoveRegKey(HKEY_CURRENT_USER, path.c_str(), report);
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, path));
        if (report) {
            EXPECT_EQ(result, TRUE);
            EXPECT_EQ(log.Messages(), std::vector<std::wstring>{Line(L"OK\tDelete RegKey Success : HKCU\\%s", path)});
        } else {
            EXPECT_EQ(result, ERROR_SUCCESS);
            EXPECT_TRUE(log.Messages().empty());
        }
        DeleteRegTreeForTest(HKEY_CURRENT_USER, path);
    }
}

TEST(RemoveRegKey, MissingKeysAndOtherRoots) {
    std::wstring path = kTestKeyBase + UniqueName(L"rkm");
    {
        LogCapture log;
        EXPECT_EQ(log.handle.RemoveRegKey(HKEY_LOCAL_MACHINE, path.c_str(), false), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(log.handle.RemoveRegKey(HKEY_LOCAL_MACHINE, path.c_str(), true), TRUE);
        EXPECT_EQ(log.Messages(), std::vector<std::wstring>{Line(L"OK\tDelete RegKey Success : HKLM\\%s", path)});
    }
    // An opened key as root has no prefix; an empty key path must not empty that root.
    ScopedRegKey parent(HKEY_CURRENT_USER, path);
    CreateKey(HKEY_CURRENT_USER, path + L"\\child\\grandchild");
    {
        LogCapture log;
        EXPECT_EQ(log.handle.RemoveRegKey(parent.key(), L"", true), FALSE);
        EXPECT_EQ(log.handle.RemoveRegKey(parent.key(), L"\\", false), ERROR_INVALID_PARAMETER);
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, path + L"\\child\\grandchild"));
        EXPECT_EQ(log.handle.RemoveRegKey(parent.key(), L"child", true), TRUE);
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, path + L"\\child"));
        EXPECT_EQ(log.Messages(), (std::vector<std::wstring>{L"Error\tDelete RegKey Failure : ",
                                                              L"OK\tDelete RegKey Success : child"}));
    }
}

TEST(RemoveRegKey, AKeyThatStaysIsAFailure) {
    std::wstring path = kTestKeyBase + UniqueName(L"rkd");
    CreateKey(HKEY_CURRENT_USER, path + L"\\locked\\inner");
    CreateKey(HKEY_CURRENT_USER, path + L"\\other");
    SetKeyReadOnly(HKEY_CURRENT_USER, path + L"\\locked", true);
    {
        LogCapture log;
        // The subkey cannot be opened for full access, so it stays and so does its parent.
        EXPECT_NE(log.handle.RemoveRegKey(HKEY_CURRENT_USER, path.c_str(), false), ERROR_SUCCESS);
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, path + L"\\locked\\inner"));
        EXPECT_EQ(log.handle.RemoveRegKey(HKEY_CURRENT_USER, path.c_str(), true), FALSE);
        // A key that exists but cannot be opened with full access has not been deleted.
        std::wstring locked = path + L"\\locked";
        EXPECT_EQ(log.handle.RemoveRegKey(HKEY_CURRENT_USER, locked.c_str(), true), FALSE);
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, locked));
        EXPECT_EQ(log.Messages(), (std::vector<std::wstring>{Line(L"Error\tDelete RegKey Failure : HKCU\\%s", path),
                                                              Line(L"Error\tDelete RegKey Failure : HKCU\\%s", locked)}));
    }
    SetKeyReadOnly(HKEY_CURRENT_USER, path + L"\\locked", false);
    DeleteRegTreeForTest(HKEY_CURRENT_USER, path);
}

TEST(RemoveRegValue, DeletesOneValueAndReportsMissingOnes) {
    std::wstring path = kTestKeyBase + UniqueName(L"rv");
    ScopedRegKey key(HKEY_CURRENT_USER, path);
    ASSERT_EQ(orlyn::SetRegString(key.key(), L"Blocked", L"1"), ERROR_SUCCESS);
    ASSERT_EQ(orlyn::SetRegString(key.key(), L"Flags", L"2"), ERROR_SUCCESS);
    std::wstring missingKey = path + L"\\missing";
    LogCapture log;
    EXPECT_TRUE(log.handle.RemoveRegValue(HKEY_CURRENT_USER, path.c_str(), L"Blocked"));
    EXPECT_FALSE(log.handle.RemoveRegValue(HKEY_CURRENT_USER, path.c_str(), L"Blocked"));
    EXPECT_FALSE(log.handle.RemoveRegValue(HKEY_CURRENT_USER, missingKey.c_str(), L"Flags"));
    std::wstring left;
    EXPECT_EQ(orlyn::ReadRegString(key.key(), L"Flags", 100, left), ERROR_SUCCESS);
    EXPECT_EQ(log.Messages(),
              (std::vector<std::wstring>{Line(L"OK\tDelete RegValue Success : HKCU\\%s\\Blocked", path),
                                         Line(L"Error\tDelete RegValue Failure : HKCU\\%s\\Blocked", path),
                                         Line(L"Error\tDelete RegValue Failure : HKCU\\%s\\Flags", missingKey)}));
}
