#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/repair_context.h"
#include "common/string_format.h"
#include "install/payload_extraction.h"
#include "install/payload_list.h"
#include "install/payload_manifest_parse.h"
#include "install/payload_test_support.h"
#include "support/test_support.h"

using namespace testing_support;
using payload_testing::PeMachine;
using payload_testing::ResourceBytes;
using payload_testing::ScopedTempFolder;

namespace {

const wchar_t kContentError[] = L"파일의 내용이 정확하지 않습니다.";
const wchar_t kLoadSuccess[] = L"파일 목록을 얻어오는데 성공하였습니다.";

std::string Row(const std::string& fields) { return fields + "\r\n"; }

struct ManifestCase {
    const char* name;
    std::string bytes;
    bool ok;
    size_t rows;  // rows in the list afterwards
};

// Widths of the record's text fields, without the terminator.
std::string Units(size_t n, char c = 'a') { return std::string(n, c); }

}  // namespace

TEST(ParseManifest, EdgeCasesOfTheRowFormat) {
    const std::string ok1 = Row("1005\tTSL.exe\tC:\\t\\TSL.exe\t1\tTessel Hub");
    const ManifestCase cases[] = {
        {"one tab", ok1, true, 1},
        {"runs of tabs", Row("1005\t\t\tTSL.exe\t\tC:\\t\\TSL.exe\t\t\t\t1\t\tTessel Hub"), true, 1},
        {"last line without line end", "1006\tA.dll\tC:\\a\t0", true, 1},
        {"LF line ends", "1006\tA.dll\tC:\\a\t0\n1007\tB.dll\tC:\\b\t0\n", true, 2},
        {"three fields, after a good row", ok1 + Row("1006\tTSLDll.dll\tC:\\t\\TSLDll.dll") + ok1, false, 1},
        {"action 1 with four fields", Row("1005\tTSL.exe\tC:\\t\\TSL.exe\t1"), false, 0},
        {"action 0 with four fields", Row("1006\tA.dll\tC:\\a\t0"), true, 1},
        {"action 0 with five fields", Row("1006\tA.dll\tC:\\a\t0\tName"), true, 1},
        {"action 2 with four fields", Row("1006\tA.dll\tC:\\a\t2"), false, 0},
        {"action 4 with five fields", Row("1006\tA.dll\tC:\\a\t4\tName"), true, 1},
        {"action 5 with five fields", Row("1006\tA.dll\tC:\\a\t5\tName"), true, 1},
        {"unknown action 9 with four fields", Row("1006\tA.dll\tC:\\a\t9"), false, 0},
        {"unknown action 9 with five fields", Row("1006\tA.dll\tC:\\a\t9\tName"), true, 1},
        {"action 3 with five fields", Row("1005\tT.exe\tC:\\t\t3\tName"), false, 0},
        {"action 6 with five fields", Row("1005\tT.exe\tC:\\t\t6\tName"), false, 0},
        {"action 3 with six fields", Row("1005\tT.exe\tC:\\t\t3\tName\tPolicy"), true, 1},
        {"action 6 with six fields", Row("1005\tT.exe\tC:\\t\t6\tName\tPolicy"), true, 1},
        {"seven fields: the seventh is ignored", Row("1005\tT.exe\tC:\\t\t6\tName\tPolicy\tMore"), true, 1},
        {"blank line between rows", ok1 + "\r\n" + ok1, false, 1},
        {"blank line first", "\r\n" + ok1, false, 0},
        {"two line ends at the end", ok1 + "\r\n", false, 1},
        {"line of blanks", ok1 + Row(" \t \t"), false, 1},
        {"empty manifest", "", true, 0},
        {"trailing blanks after the last field", Row("1006\tA.dll\tC:\\a\t0 \t  \t"), true, 1},
        {"Ctrl-Z ends the text", ok1 + "\x1A" + "garbage\r\n\r\n", true, 1},
        {"file name of 255 units", Row("1\t" + Units(255) + "\tC:\\a\t0"), true, 1},
        {"file name of 256 units", Row("1\t" + Units(256) + "\tC:\\a\t0"), false, 0},
        {"target path of 259 units", Row("1\tA\tC:\\" + Units(256) + "\t0"), true, 1},
        {"target path of 260 units", Row("1\tA\tC:\\" + Units(257) + "\t0"), false, 0},
        {"display name of 256 units", Row("1\tA\tC:\\a\t1\t" + Units(256)), false, 0},
        {"policy key of 511 units", Row("1\tA\tC:\\a\t3\tN\t" + Units(511)), true, 1},
        {"policy key of 512 units", Row("1\tA\tC:\\a\t3\tN\t" + Units(512)), false, 0},
        {"line longer than the reader's buffer", ok1 + Row("1\tA\tC:\\a\t0\t" + Units(10300, '\t') + "x"), false, 1},
        {"NUL inside a row", ok1 + Row(std::string("1\tA\tC:\\a\t0\0junk", 16)), false, 1},
    };
    for (const ManifestCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<PayloadEntry> entries;
        EXPECT_EQ(ParseManifest(c.bytes.data(), c.bytes.size(), entries), c.ok);
        EXPECT_EQ(entries.size(), c.rows);
    }
}

TEST(ParseManifest, FillsEveryFieldOfTheRecord) {
    struct Expect {
        const char* line;
        WORD resource;
        const wchar_t* fileName;
        const wchar_t* targetPath;
        int action;
        const wchar_t* displayName;
        const wchar_t* policyKey;
    };
    const Expect cases[] = {
        {"1005\t\t\tTSL.exe\t\t$AppData$\\Orlyn\\TSL\\TSL.exe\t\t\t1\tTessel Hub", 1005, L"TSL.exe",
         L"$AppData$\\Orlyn\\TSL\\TSL.exe", 1, L"Tessel Hub", L""},
        {"1006\tTSLDll.dll\t$AppData$\\x.dll\t0", 1006, L"TSLDll.dll", L"$AppData$\\x.dll", 0, L"", L""},
        {"7\tT.exe\tC:\\t.exe\t6\tName (x64)\tTSLPolicy\tignored", 7, L"T.exe", L"C:\\t.exe", 6, L"Name (x64)",
         L"TSLPolicy"},
        // Numbers as the C library reads them: blanks, a sign, digits, and 0 for no number at all.
        {" +12\tA\tB\t 1x\tN", 12, L"A", L"B", 1, L"N", L""},
        {"TSL\tA\tB\t1\tN", 0, L"A", L"B", 1, L"N", L""},
        {"1005abc\tA\tB\tzero", 1005, L"A", L"B", 0, L"", L""},
        {"-7\tA\tB\t-7\tN", 0, L"A", L"B", -7, L"N", L""},
        // A resource number beyond 16 bits names no resource rather than wrapping onto another one.
        {"66541\tA\tB\t0", 0, L"A", L"B", 0, L"", L""},
        {"65535\tA\tB\t99999999999\tN", 65535, L"A", L"B", 2147483647, L"N", L""},
        // Spaces inside and around fields belong to them; only TAB separates.
        {"1\t A b \tC:\\x y\t0", 1, L" A b ", L"C:\\x y", 0, L"", L""},
        // Each byte is one unit: 8-bit text is not decoded.
        {"1\t\xC7\xD1.dll\tC:\\a\t0", 1, L"\u00C7\u00D1.dll", L"C:\\a", 0, L"", L""},
    };
    for (const Expect& c : cases) {
        SCOPED_TRACE(c.line);
        std::string bytes = c.line;
        std::vector<PayloadEntry> entries;
        ASSERT_TRUE(ParseManifest(bytes.data(), bytes.size(), entries));
        ASSERT_EQ(entries.size(), 1u);
        const PayloadEntry& e = entries[0];
        EXPECT_EQ(e.resourceId, c.resource);
        EXPECT_STREQ(e.fileName, c.fileName);
        EXPECT_STREQ(e.targetPath, c.targetPath);
        EXPECT_EQ(e.installAction, c.action);
        EXPECT_STREQ(e.displayName, c.displayName);
        EXPECT_STREQ(e.policyKey, c.policyKey);
    }
}

TEST(ParseManifest, SeveralTabsParseLikeOne) {
    std::string one = Row("1005\tTSL.exe\tC:\\TSL.exe\t3\tTessel Hub\tKey");
    std::string many = Row("1005\t\tTSL.exe\t\t\tC:\\TSL.exe\t\t3\t\t\t\tTessel Hub\t\tKey\t\t");
    std::vector<PayloadEntry> a, b;
    ASSERT_TRUE(ParseManifest(one.data(), one.size(), a));
    ASSERT_TRUE(ParseManifest(many.data(), many.size(), b));
    ASSERT_EQ(a.size(), 1u);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(std::memcmp(&a[0], &b[0], sizeof(PayloadEntry)), 0);  // zero-filled, so whole records compare
}

TEST(ShippedManifest, HoldsTheSevenRowsInOrder) {
    bool found = false;
    std::string bytes = ResourceBytes(999, &found);
    ASSERT_TRUE(found);
    EXPECT_NE(bytes.find("\r\n"), std::string::npos);  // stored with CR LF, byte for byte
    EXPECT_EQ(bytes.find("\n\n"), std::string::npos);
    std::vector<PayloadEntry> entries;
    ASSERT_TRUE(ParseManifest(bytes.data(), bytes.size(), entries));
    struct Row {
        WORD id;
        const wchar_t* name;
        const wchar_t* target;
        int action;
        const wchar_t* display;
    };
    const Row expected[] = {
        {1005, L"TSL.exe", L"$AppData$\\Orlyn\\TSL\\TSL.exe", 1, L"Tessel Hub"},
        {1006, L"TSLDll.dll", L"$AppData$\\Orlyn\\TSL\\TSLDll.dll", 0, L""},
        {1007, L"TSLResourceKR.dll", L"$AppData$\\Orlyn\\TSL\\TSLResource.dll", 0, L""},
        {1009, L"kessvald.dll", L"$AppData$\\Orlyn\\TSL\\kessvald.dll", 0, L""},
        {1012, L"TSL64.exe", L"$AppData$\\Orlyn\\TSL\\TSL64.exe", 1, L"Tessel Hub (x64)"},
        {1013, L"TSLDll64.dll", L"$AppData$\\Orlyn\\TSL\\TSLDll64.dll", 0, L""},
        {1014, L"LICENSE.txt", L"$AppData$\\Orlyn\\TSL\\LICENSE.txt", 0, L""},
    };
    ASSERT_EQ(entries.size(), std::size(expected));
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(entries[i].resourceId, expected[i].id);
        EXPECT_STREQ(entries[i].fileName, expected[i].name);
        EXPECT_STREQ(entries[i].targetPath, expected[i].target);
        EXPECT_EQ(entries[i].installAction, expected[i].action);
        EXPECT_STREQ(entries[i].displayName, expected[i].display);
        EXPECT_STREQ(entries[i].policyKey, L"");
    }
}

TEST(ExpandPathMacros, ReplacesEachMacroEveryTimeCaseSensitively) {
    const std::wstring win = L"C:\\windows", pf = L"C:\\Program Files", data = L"C:\\ProgramData";
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    };
    const Case cases[] = {
        {L"$Windows$\\system32\\a.dll", L"C:\\windows\\system32\\a.dll"},
        {L"$ProgramFiles$\\Orlyn\\a.exe", L"C:\\Program Files\\Orlyn\\a.exe"},
        {L"$AppData$\\Orlyn\\TSL\\TSL.exe", L"C:\\ProgramData\\Orlyn\\TSL\\TSL.exe"},
        {L"$AppData$\\x\\$AppData$", L"C:\\ProgramData\\x\\C:\\ProgramData"},
        {L"$Windows$$ProgramFiles$$AppData$", L"C:\\windowsC:\\Program FilesC:\\ProgramData"},
        {L"$appdata$\\$WINDOWS$\\$Programfiles$", L"$appdata$\\$WINDOWS$\\$Programfiles$"},
        {L"C:\\plain\\path.txt", L"C:\\plain\\path.txt"},
        {L"$AppData\\x", L"$AppData\\x"},
        {L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(ExpandPathMacroText(c.in, win, pf, data), c.out);
    }
    // A folder text that itself looks like a macro is not expanded again.
    EXPECT_EQ(ExpandPathMacroText(L"$AppData$|$AppData$", win, pf, L"$AppData$"), L"$AppData$|$AppData$");
}

TEST(ExpandPathMacros, UsesTheContextsFolders) {
    CRepairContext context;
    wcscpy_s(context.windowsFolder, L"D:\\Win");
    wcscpy_s(context.programFilesFolder, L"D:\\PF");
    wcscpy_s(context.allUsersAppDataFolder, L"D:\\Data");
    EXPECT_EQ(ExpandPathMacros(L"$Windows$;$ProgramFiles$;$AppData$", context), L"D:\\Win;D:\\PF;D:\\Data");
}

TEST(PayloadListParse, ErrorTextsAndKeptRows) {
    PayloadList list;
    std::string bad = "1005\tTSL.exe\tC:\\TSL.exe\t1\tTessel Hub\r\n1006\tA.dll\tC:\\A.dll\r\n"
                      "1007\tB.dll\tC:\\B.dll\t0\r\n";
    EXPECT_FALSE(list.Parse(bad.data(), bad.size()));
    EXPECT_STREQ(list.message, kContentError);
    ASSERT_EQ(list.entries.size(), 1u);
    EXPECT_EQ(list.entries[0].resourceId, 1005);

    // Parsing appends to what is already there.
    std::string good = "1006\tA.dll\tC:\\A.dll\t0";
    EXPECT_TRUE(list.Parse(good.data(), good.size()));
    EXPECT_STREQ(list.message, kLoadSuccess);
    ASSERT_EQ(list.entries.size(), 2u);
    EXPECT_EQ(list.entries[1].resourceId, 1006);

    PayloadList fresh;
    EXPECT_TRUE(fresh.Parse("", 0));
    EXPECT_STREQ(fresh.message, kLoadSuccess);
    EXPECT_TRUE(fresh.entries.empty());
}

TEST(PayloadListLoad, ReadsTheManifestResourceAndNamesTheFileOnlyInItsTexts) {
    PayloadList list;
    EXPECT_FALSE(list.Load(nullptr));
    EXPECT_STREQ(list.message, L"파일의 이름에 문제가 있습니다.");
    EXPECT_FALSE(list.Load(L""));
    EXPECT_STREQ(list.message, L"파일의 이름에 문제가 있습니다.");
    EXPECT_TRUE(list.entries.empty());

    // The rows come from the program itself, whatever lies (or does not lie) at the path.
    TempDir dir(L"pl");
    std::wstring missing = dir / L"missing.txt";
    EXPECT_TRUE(list.Load(missing.c_str()));
    EXPECT_STREQ(list.message, kLoadSuccess);
    std::string shipped = ResourceBytes(999);
    std::vector<PayloadEntry> expected;
    ASSERT_TRUE(ParseManifest(shipped.data(), shipped.size(), expected));
    ASSERT_EQ(list.entries.size(), expected.size());
    EXPECT_EQ(std::memcmp(list.entries.data(), expected.data(), expected.size() * sizeof(PayloadEntry)), 0);

    // A payload without a manifest: the text names the file that stands for it.
    payload_testing::ScopedPayloadModule module({{1014, "licence"}});
    ASSERT_TRUE(module.ok());
    PayloadList none;
    EXPECT_FALSE(none.Load(missing.c_str()));
    EXPECT_EQ(std::wstring(none.message), L"파일을 열 수 없습니다.\r\n\r\n(" + missing + L")");
    EXPECT_TRUE(none.entries.empty());
}

TEST(PayloadListLoad, AManifestFileChangedOnDiskChangesNothingThatIsInstalled) {
    // What a program of the user could do to the copy in its temporary folder between the write and the
    // read: rewrite it, put a link to a file of its own in its place, or delete it.
    const std::string shipped = "1014\tLICENSE.txt\t$AppData$\\Orlyn\\TSL\\LICENSE.txt\t0\r\n";
    TempDir elsewhere(L"planted");
    const std::wstring plantedTarget = elsewhere / L"TSL.exe";
    const std::string planted = "1005\tTSL.exe\t" + orlyn::ToUtf8(plantedTarget) + "\t0\r\n" + shipped;
    const std::wstring plantedFile = elsewhere / L"list.txt";
    ASSERT_TRUE(WriteFileBytes(plantedFile, planted));
    struct Case {
        const char* name;
        std::function<bool(const std::wstring& manifest)> change;
    };
    const Case cases[] = {
        {"rewritten", [&](const std::wstring& m) { return WriteFileBytes(m, planted); }},
        {"replaced by a link",
         [&](const std::wstring& m) {
             return ::DeleteFileW(m.c_str()) && ::CreateHardLinkW(m.c_str(), plantedFile.c_str(), nullptr);
         }},
        {"deleted", [&](const std::wstring& m) { return ::DeleteFileW(m.c_str()) != FALSE; }},
    };
    payload_testing::ScopedPayloadModule module({{999, shipped}, {1014, "licence"}, {1005, "MZ planted"}});
    ASSERT_TRUE(module.ok());
    std::vector<PayloadEntry> expected;
    ASSERT_TRUE(ParseManifest(shipped.data(), shipped.size(), expected));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir temp(L"tamper");
        ScopedTempFolder scopedTemp(temp.path());
        TempDir data(L"tamperdata");
        CRepairContext context;
        wcscpy_s(context.windowsFolder, (data / L"Windows").c_str());
        wcscpy_s(context.allUsersAppDataFolder, data.path().c_str());

        std::wstring manifest;
        ASSERT_TRUE(context.ExtractPayloadManifest(manifest));
        ASSERT_EQ(ReadFileBytes(manifest), shipped);
        ASSERT_TRUE(c.change(manifest));
        ASSERT_TRUE(context.payloadList.Load(manifest.c_str()));
        EXPECT_STREQ(context.payloadList.message, kLoadSuccess);
        ASSERT_EQ(context.payloadList.entries.size(), expected.size());
        EXPECT_EQ(std::memcmp(context.payloadList.entries.data(), expected.data(), sizeof(PayloadEntry)), 0);

        EXPECT_TRUE(context.InstallPayloadFiles());
        EXPECT_EQ(ReadFileBytes(data / L"Orlyn\\TSL\\LICENSE.txt"), "licence");
        EXPECT_FALSE(FileExists(plantedTarget));
    }
    EXPECT_EQ(ReadFileBytes(plantedFile), planted);  // nothing was written through the link
}

TEST(ExtractPayloadManifest, WritesTheManifestIntoTheTempFolder) {
    TempDir dir(L"tmp");
    // A temp folder that does not exist yet is made; the trailing backslash gives one separator.
    std::wstring temp = dir.path() + L"\\a\\b\\";
    ScopedTempFolder scoped(temp);
    CRepairContext context;
    std::wstring text;
    ASSERT_TRUE(context.ExtractPayloadManifest(text));
    std::wstring expected = dir.path() + L"\\a\\b\\OrlynRepairList.txt";
    EXPECT_EQ(text, expected);
    EXPECT_STREQ(context.manifestTempPath, expected.c_str());
    EXPECT_EQ(ReadFileBytes(expected), ResourceBytes(999));

    // A second run replaces the file.
    ASSERT_TRUE(WriteFileBytes(expected, std::string(5000, 'x')));
    ASSERT_TRUE(context.ExtractPayloadManifest(text));
    EXPECT_EQ(ReadFileBytes(expected), ResourceBytes(999));

    // What the dialog does next: load it and check its resources.
    EXPECT_TRUE(context.payloadList.Load(context.manifestTempPath));
    EXPECT_STREQ(context.payloadList.message, kLoadSuccess);
    EXPECT_EQ(context.payloadList.entries.size(), 7u);
    EXPECT_TRUE(CheckPayloadResources(context.payloadList));
}

TEST(ExtractPayloadManifest, FailuresGiveTheirTextsAndLeaveThePathEmpty) {
    TempDir dir(L"tmpbad");
    ASSERT_TRUE(WriteFileBytes(dir / L"file", "x"));
    ASSERT_TRUE(CreateFolders(dir / L"taken\\OrlynRepairList.txt"));
    std::wstring longFolder = dir.path() + L"\\" + std::wstring(250 - dir.path().size(), L'd');
    struct Case {
        const char* name;
        std::wstring temp;
        std::wstring text;
    };
    const Case cases[] = {
        {"temp folder too long to query", std::wstring(L"C:\\") + std::wstring(300, L't'),
         L"임시 폴더 경로를 얻어오는데 실패하였습니다."},
        {"temp folder below a file", dir / L"file\\sub",
         L"파일 경로를 생성하는데 실패하였습니다.\r\n" + dir.path() + L"\\file\\sub\\OrlynRepairList.txt"},
        {"manifest path longer than MAX_PATH", longFolder,
         L"파일 경로를 생성하는데 실패하였습니다.\r\n" + longFolder + L"\\OrlynRepairList.txt"},
        {"manifest path taken by a folder", dir / L"taken",
         L"파일을 생성하는데 실패하였습니다.\r\n" + dir.path() + L"\\taken\\OrlynRepairList.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedTempFolder scoped(c.temp);
        CRepairContext context;
        std::wstring text = L"sentinel";
        EXPECT_FALSE(context.ExtractPayloadManifest(text));
        EXPECT_EQ(text, c.text);
        EXPECT_STREQ(context.manifestTempPath, L"");
    }
}

TEST(CheckPayloadResources, TrueWhenAllPresentFalseAtAMissingOne) {
    struct Case {
        const char* name;
        std::string manifest;
        bool result;
    };
    const Case cases[] = {
        {"shipped manifest", ResourceBytes(999), true},
        {"empty manifest", "", true},
        {"a row naming resource 1008", ResourceBytes(999) + "1008\tX.dll\tC:\\X.dll\t0\r\n", false},
        {"a resource that is not a number", "TSL\tX.dll\tC:\\X.dll\t0\r\n", false},
        {"the manifest itself as a payload file", "999\tlist.txt\tC:\\list.txt\t0\r\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CRepairContext context;
        ASSERT_TRUE(context.payloadList.Parse(c.manifest.data(), c.manifest.size()));
        EXPECT_EQ(CheckPayloadResources(context.payloadList), c.result);
    }
}

TEST(ExtractResourceToFile, WritesEveryShippedFileByteForByte) {
    std::string manifest = ResourceBytes(999);
    std::vector<PayloadEntry> entries;
    ASSERT_TRUE(ParseManifest(manifest.data(), manifest.size(), entries));
    TempDir dir(L"ext");
    CRepairContext context;
    wcscpy_s(context.allUsersAppDataFolder, dir.path().c_str());
    const std::wstring built = TestProgramFolder() + L"\\..\\payload\\";
    for (const PayloadEntry& e : entries) {
        SCOPED_TRACE(e.resourceId);
        std::wstring path = ExpandPathMacros(e.targetPath, context);
        ASSERT_EQ(path.rfind(dir.path() + L"\\Orlyn\\TSL\\", 0), 0u);
        ASSERT_TRUE(ExtractResourceToFile(e.resourceId, path.c_str())) << ::GetLastError();
        std::string written = ReadFileBytes(path);
        EXPECT_FALSE(written.empty());
        EXPECT_EQ(written, ResourceBytes(e.resourceId));
        EXPECT_EQ(written, ReadFileBytes(built + e.fileName));  // the file the build embedded
    }
    EXPECT_TRUE(FileExists(dir / L"Orlyn\\TSL\\TSLResource.dll"));  // installed under its own name
    EXPECT_FALSE(FileExists(dir / L"Orlyn\\TSL\\TSLResourceKR.dll"));
}

TEST(ExtractResourceToFile, ReplacesALongerFileAndFailsCleanly) {
    TempDir dir(L"ext2");
    std::wstring path = dir / L"LICENSE.txt";
    ASSERT_TRUE(WriteFileBytes(path, std::string(100000, 'z')));
    ASSERT_TRUE(ExtractResourceToFile(1014, path.c_str()));
    EXPECT_EQ(ReadFileBytes(path), ResourceBytes(1014));

    struct Case {
        const char* name;
        WORD id;
        std::wstring path;
    };
    ASSERT_TRUE(WriteFileBytes(dir / L"file", "x"));
    const Case cases[] = {
        {"resource 1008 does not exist", 1008, dir / L"new\\x.dll"},
        {"resource 0", 0, dir / L"zero.dll"},
        {"parent is a file", 1014, dir / L"file\\x.txt"},
        {"path of 260 units", 1014, dir.path() + L"\\" + std::wstring(259 - dir.path().size(), L'p')},
        {"path of 300 units", 1014, dir.path() + L"\\" + std::wstring(300, L'p')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::SetLastError(0xdeadbeef);
        EXPECT_FALSE(ExtractResourceToFile(c.id, c.path.c_str()));
        DWORD error = ::GetLastError();
        EXPECT_NE(error, 0u);
        EXPECT_NE(error, 0xdeadbeefu);
        EXPECT_FALSE(FileExists(c.path));
    }
    EXPECT_EQ(ReadFileBytes(dir / L"file"), "x");
}

TEST(CreateFolderPath, CreatesNestedMissingFoldersFromTheTop) {
    TempDir dir(L"cfp");
    std::wstring deep = dir / L"a\\b\\c";
    ASSERT_FALSE(FolderExists(dir / L"a"));
    EXPECT_TRUE(CreateFolderPath(deep.c_str()));
    EXPECT_TRUE(FolderExists(dir / L"a"));
    EXPECT_TRUE(FolderExists(dir / L"a\\b"));
    EXPECT_TRUE(FolderExists(deep));
    EXPECT_TRUE(CreateFolderPath(deep.c_str()));  // already there

    std::wstring trailing = dir / L"t\\u\\";
    EXPECT_TRUE(CreateFolderPath(trailing.c_str()));
    EXPECT_TRUE(FolderExists(dir / L"t\\u"));

    // The parent of a file, not the file.
    std::wstring file = dir / L"p\\q\\file.dll";
    EXPECT_TRUE(CreateParentFolder(file.c_str()));
    EXPECT_TRUE(FolderExists(dir / L"p\\q"));
    EXPECT_FALSE(FileExists(file));
    EXPECT_FALSE(FolderExists(file));
}

TEST(CreateFolderPath, FailsCleanly) {
    TempDir dir(L"cfpbad");
    ASSERT_TRUE(WriteFileBytes(dir / L"file", "x"));
    const std::wstring cases[] = {
        dir / L"file",                 // a file is not a folder
        dir / L"file\\below",          // nor can one be made below it
        L"nosuchfolder_" + UniqueName(L"rel"),  // no backslash, does not exist
        L"",
        dir.path() + L"\\" + std::wstring(300, L'f') + L"\\g",
    };
    for (const std::wstring& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size() << " units");
        ::SetLastError(0xdeadbeef);
        EXPECT_FALSE(CreateFolderPath(c.c_str()));
        EXPECT_NE(::GetLastError(), 0xdeadbeefu);
    }
    EXPECT_FALSE(CreateParentFolder(L"nobackslash.txt"));
    EXPECT_EQ(ReadFileBytes(dir / L"file"), "x");
}

TEST(CreateFolderPath, NameWithoutBackslashSucceedsOnlyWhenItExists) {
    TempDir dir(L"cfprel");
    wchar_t old[MAX_PATH];
    ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, old), 0u);
    ASSERT_TRUE(::SetCurrentDirectoryW(dir.path().c_str()));
    ASSERT_TRUE(::CreateDirectoryW(L"here", nullptr));
    EXPECT_TRUE(CreateFolderPath(L"here"));
    EXPECT_FALSE(CreateFolderPath(L"absent"));
    EXPECT_FALSE(FolderExists(dir / L"absent"));
    ::SetCurrentDirectoryW(old);
}

TEST(PayloadInitialisation, EachStepFailsOnItsOwn) {
    // The three steps as the dialog runs them, with the payload taken from a module of the test's making.
    const std::string good = "1014\tLICENSE.txt\t$AppData$\\LICENSE.txt\t0\r\n";
    struct Case {
        const char* name;
        payload_testing::ResourceList resources;
        bool extracted, loaded, checked;
        std::wstring message;  // of the load, when it ran
    };
    const Case cases[] = {
        {"all present", {{999, good}, {1014, "licence"}}, true, true, true, kLoadSuccess},
        {"no manifest resource", {{1014, "licence"}}, false, false, false, L""},
        {"a bad row", {{999, good + "1015\tX.dll\t$AppData$\\X.dll\r\n"}, {1014, "licence"}}, true, false, false,
         kContentError},
        {"a missing resource", {{999, good + "1008\tX.dll\t$AppData$\\X.dll\t0\r\n"}, {1014, "licence"}}, true,
         true, false, kLoadSuccess},
        // Wine's UpdateResourceW drops a resource of no bytes; a lone Ctrl-Z is an empty text as well.
        {"an empty manifest", {{999, "\x1A"}}, true, true, true, kLoadSuccess},
    };
    TempDir temp(L"init");
    ScopedTempFolder scopedTemp(temp.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        payload_testing::ScopedPayloadModule module(c.resources);
        ASSERT_TRUE(module.ok());
        CRepairContext context;
        std::wstring text;
        bool extracted = context.ExtractPayloadManifest(text);
        EXPECT_EQ(extracted, c.extracted) << ::GetLastError();
        if (!extracted) {
            EXPECT_EQ(text, L"파일을 생성하는데 실패하였습니다.\r\n" + temp.path() + L"\\OrlynRepairList.txt");
            continue;
        }
        bool loaded = context.payloadList.Load(text.c_str());
        EXPECT_EQ(loaded, c.loaded);
        EXPECT_EQ(std::wstring(context.payloadList.message), c.message);
        if (loaded) {
            EXPECT_EQ(CheckPayloadResources(context.payloadList), c.checked);
        }
    }
    // Back to the program's own payload.
    CRepairContext context;
    std::wstring text;
    ASSERT_TRUE(context.ExtractPayloadManifest(text));
    EXPECT_EQ(ReadFileBytes(text), ResourceBytes(999));
}
