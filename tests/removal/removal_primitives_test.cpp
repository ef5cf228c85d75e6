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
using removal_test::Line;
using removal_test::LogCapture;
using removal_test::MakeFile;
using removal_test::SpecialFolder;

namespace {

// What the search for a file's users writes when nobody holds it (and the retry is not made).
const wchar_t kNoUserFormat[] = L"Error\t%s를 사용하는 프로세스를 찾지 못했습니다. ";
// What it writes after ending the holder.
const wchar_t kEndedFormat[] = L"OK\t%s 프로세스가 종료되었습니다.";

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
