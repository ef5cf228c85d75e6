#include <windows.h>

#include <gtest/gtest.h>

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <string>
#include <vector>

#include "browser/chrome.h"
#include "common/string_format.h"
#include "common/unique_handle.h"
#include "support/json_text.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

constexpr unsigned kFlags = rapidjson::kParseDefaultFlags | rapidjson::kParseFullPrecisionFlag;

FILETIME LastWrite(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Every file in folder (names only).
std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    orlyn::UniqueFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &fd));
    if (!find) return names;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
    } while (::FindNextFileW(find.get(), &fd));
    return names;
}

}  // namespace

// Files that must never be rewritten: every operation reports false (or, for a removal with nothing to
// remove, true) and the bytes and the time of the last write stay.
TEST(LocalStateFile, UnusableOrUnchangedFilesAreNeverWritten) {
    struct Case {
        const char* what;
        std::string bytes;
        bool has, add;
        bool removeWrites;  // the removal has something to remove (not checked here)
    } cases[] = {
        {"empty", "", false, false, false},
        {"byte order mark", "\xEF\xBB\xBF{\"protocol_handler\":{}}", false, false, false},
        {"truncated", "{\"protocol_handler\":{\"excluded_schemes\":{\"a\":tr", false, false, false},
        {"root array", "[1,2,3]", false, false, false},
        {"protocol_handler string", "{\"protocol_handler\":\"x\"}", false, false, false},
        {"excluded_schemes array", "{\"protocol_handler\":{\"excluded_schemes\":[]}}", false, false, false},
        {"tsl true", "{ \"protocol_handler\": { \"excluded_schemes\": { \"tsl\": true } } }", true, true, true},
    };
    TempDir dir(L"ls");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring path = dir / L"Local State";
        ASSERT_TRUE(WriteFileBytes(path, c.bytes));
        const FILETIME before = LastWrite(path);
        EXPECT_EQ(IsSchemeExcludedInFile(path, L"tsl"), c.has);
        EXPECT_EQ(AddSchemeExclusionToFile(path, L"tsl"), c.add);
        EXPECT_EQ(ReadFileBytes(path), c.bytes);
        EXPECT_TRUE(SameTime(LastWrite(path), before));
        if (!c.removeWrites) {
            EXPECT_FALSE(RemoveSchemeExclusionFromFile(path, L"tsl"));
            EXPECT_EQ(ReadFileBytes(path), c.bytes);
        }
        EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
    }
}

TEST(LocalStateFile, RemovalWithoutTheMemberKeepsTheBytes) {
    TempDir dir(L"ls");
    const std::wstring path = dir / L"Local State";
    const std::string bytes = "{\n  \"protocol_handler\": {\"excluded_schemes\": {\"a\": true}},\n  \"n\": 1.50\n}\n";
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    const FILETIME before = LastWrite(path);
    EXPECT_TRUE(RemoveSchemeExclusionFromFile(path, L"tsl"));
    EXPECT_EQ(ReadFileBytes(path), bytes);
    EXPECT_TRUE(SameTime(LastWrite(path), before));
}

TEST(LocalStateFile, MissingFileGivesFalse) {
    TempDir dir(L"ls");
    const std::wstring path = dir / L"Local State";
    EXPECT_FALSE(IsSchemeExcludedInFile(path, L"tsl"));
    EXPECT_FALSE(AddSchemeExclusionToFile(path, L"tsl"));
    EXPECT_FALSE(RemoveSchemeExclusionFromFile(path, L"tsl"));
    EXPECT_FALSE(FileExists(path));
    EXPECT_FALSE(IsSchemeExcludedInFile(L"", L"tsl"));
}

TEST(LocalStateFile, AdditionWritesCompactJsonAndRemovalTakesItOut) {
    TempDir dir(L"ls");
    const std::wstring path = dir / L"Local State";
    ASSERT_TRUE(WriteFileBytes(path, "{\n   \"browser\" : { \"enabled_labs_experiments\" : [ ] },\n"
                                     "   \"protocol_handler\" : { \"excluded_schemes\" : { \"afp\" : true } }\n}\n"));
    EXPECT_FALSE(IsSchemeExcludedInFile(path, L"tsl"));
    EXPECT_TRUE(AddSchemeExclusionToFile(path, L"tsl"));
    EXPECT_EQ(ReadFileBytes(path),
              R"({"browser":{"enabled_labs_experiments":[]},"protocol_handler":{"excluded_schemes":)"
              R"({"afp":true,"tsl":false}}})");
    EXPECT_TRUE(IsSchemeExcludedInFile(path, L"tsl"));
    EXPECT_TRUE(RemoveSchemeExclusionFromFile(path, L"tsl"));
    EXPECT_EQ(ReadFileBytes(path),
              R"({"browser":{"enabled_labs_experiments":[]},"protocol_handler":{"excluded_schemes":{"afp":true}}})");
    EXPECT_FALSE(IsSchemeExcludedInFile(path, L"tsl"));
    EXPECT_EQ(FilesIn(dir.path()).size(), 1u);  // no temporary file left behind
}

// The rewrite goes to a new file that replaces the original; when the replacement cannot happen, the
// original keeps every byte and the new file is gone.
TEST(LocalStateFile, FailedWriteLeavesTheOriginalAsItWas) {
    TempDir dir(L"ls");
    const std::wstring path = dir / L"Local State";
    const std::string bytes = "{\"settings\":{\"a\":[1,2,3]},\"protocol_handler\":{\"excluded_schemes\":{\"tsl\":0}}}";

    {
        SCOPED_TRACE("held open by another reader that does not share deletion");
        ASSERT_TRUE(WriteFileBytes(path, bytes));
        orlyn::UniqueFileHandle reader(::CreateFileW(path.c_str(), GENERIC_READ,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                     nullptr));
        ASSERT_TRUE(reader.valid());
        EXPECT_FALSE(RemoveSchemeExclusionFromFile(path, L"tsl"));
        reader.reset();
        EXPECT_EQ(ReadFileBytes(path), bytes);
        EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
    }
    {
        SCOPED_TRACE("without obstacles the same rewrite works");
        ASSERT_TRUE(WriteFileBytes(path, bytes));
        EXPECT_TRUE(RemoveSchemeExclusionFromFile(path, L"tsl"));
        EXPECT_EQ(ReadFileBytes(path), "{\"settings\":{\"a\":[1,2,3]},\"protocol_handler\":{\"excluded_schemes\":{}}}");
    }
}

TEST(LocalStateFile, ReadOnlyFileIsLeftAsItWas) {
    // Wine, run as root here, opens and replaces a read-only file for writing all the same.
    ORLYN_SKIP_ON_WINE("a read-only file opens for writing");
    TempDir dir(L"ls");
    const std::wstring path = dir / L"Local State";
    const std::string bytes = "{\"protocol_handler\":{\"excluded_schemes\":{\"tsl\":0}}}";
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(RemoveSchemeExclusionFromFile(path, L"tsl"));
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadFileBytes(path), bytes);
    EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
}

TEST(LocalStateFile, AWriterHoldingTheFileMakesEveryOperationFail) {
    TempDir dir(L"ls");
    const std::wstring path = dir / L"Local State";
    const std::string bytes = "{\"protocol_handler\":{\"excluded_schemes\":{\"tsl\":false}}}";
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    orlyn::UniqueFileHandle writer(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                      nullptr));
    ASSERT_TRUE(writer.valid());
    EXPECT_FALSE(IsSchemeExcludedInFile(path, L"tsl"));
    EXPECT_FALSE(RemoveSchemeExclusionFromFile(path, L"tsl"));
    writer.reset();
    EXPECT_EQ(ReadFileBytes(path), bytes);
}

// Numbers the edit must never convert (some crash or upset a reader that does): each comes back with
// the same text after the addition and after the removal, and the file keeps every other byte.
TEST(LocalStateFile, NumbersKeepTheirTextThroughAdditionAndRemoval) {
    const char* numbers[] = {"1.00000018200001e-335", "22222303030005e300", "1.5e300", "98765432109876543210",
                             "-0.0", "4.9e-324", "1e400"};
    TempDir dir(L"ls");
    const std::wstring path = dir / L"Local State";
    for (const char* n : numbers) {
        SCOPED_TRACE(n);
        const std::string N = n;
        const std::string start = "{\"browser\":{\"last\":" + N + ",\"list\":[" + N +
                                  ",{\"x\":" + N + "}]},\"protocol_handler\":{\"excluded_schemes\":{\"afp\":" + N + "}}}";
        ASSERT_TRUE(WriteFileBytes(path, start));
        EXPECT_FALSE(IsSchemeExcludedInFile(path, L"tsl"));
        EXPECT_TRUE(AddSchemeExclusionToFile(path, L"tsl"));
        EXPECT_EQ(ReadFileBytes(path), start.substr(0, start.size() - 3) + ",\"tsl\":false}}}");
        EXPECT_TRUE(IsSchemeExcludedInFile(path, L"tsl"));
        EXPECT_TRUE(RemoveSchemeExclusionFromFile(path, L"tsl"));
        EXPECT_EQ(ReadFileBytes(path), start);
        EXPECT_FALSE(IsSchemeExcludedInFile(path, L"tsl"));
    }
    EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
}

namespace {

// A Local State of a few hundred KB: nested objects, arrays, unicode text, escapes and numbers at the
// edges of what JSON numbers carry, written indented as Chrome's own files may be.
std::string MakeLargeLocalState() {
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("browser");
    w.StartObject();
    w.Key("last_redirect_origin");
    w.String("");
    w.Key("enabled_labs_experiments");
    w.StartArray();
    w.EndArray();
    w.EndObject();
    w.Key("numbers");
    w.StartArray();
    w.Int64(INT64_MIN);
    w.Int64(INT64_MAX);
    w.Uint64(UINT64_MAX);
    w.Double(1.7976931348623157e308);
    w.Double(4.9406564584124654e-324);
    w.Double(0.1);
    w.Double(-123456.789e-10);
    w.RawValue("123456789012345678901234567890", 30, rapidjson::kNumberType);  // beyond 64 bits
    w.RawValue("13312345678901234567", 20, rapidjson::kNumberType);
    w.EndArray();
    w.Key("profile");
    w.StartObject();
    w.Key("info_cache");
    w.StartObject();
    for (int i = 0; i < 1500; ++i) {
        std::string key = "Profile " + std::to_string(i);
        w.Key(key.c_str());
        w.StartObject();
        w.Key("name");
        w.String(("사용자 " + std::to_string(i) + " \xF0\x9F\x98\x80 Ünïcödé \"q\" \\ \t\x01").c_str());
        w.Key("active_time");
        w.Double(1700000000.123456 + i);
        w.Key("gaia_id");
        w.String(std::to_string(100000000000000000ULL + i).c_str());
        w.Key("is_using_default_avatar");
        w.Bool(i % 2 == 0);
        w.Key("avatar_icon");
        w.Null();
        w.Key("hosted_domain");
        w.StartArray();
        for (int j = 0; j < 5; ++j) w.Int(i * j - 7);
        w.EndArray();
        w.Key("nested");
        w.StartObject();
        w.Key("deeper");
        w.StartObject();
        w.Key("value");
        w.Uint64(0xFFFFFFFFFFFFull * static_cast<unsigned>(i + 1));
        w.EndObject();
        w.EndObject();
        w.EndObject();
    }
    w.EndObject();
    w.EndObject();
    w.Key("protocol_handler");
    w.StartObject();
    w.Key("excluded_schemes");
    w.StartObject();
    w.Key("afp");
    w.Bool(true);
    w.Key("mailto");
    w.Bool(false);
    w.EndObject();
    w.EndObject();
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace

TEST(LocalStateFile, LargeFileSurvivesAdditionAndRemoval) {
    TempDir dir(L"ls");
    const std::wstring path = dir / L"Local State";
    const std::string original = MakeLargeLocalState();
    ASSERT_GT(original.size(), 300000u);
    ASSERT_TRUE(WriteFileBytes(path, original));

    rapidjson::Document before;
    before.Parse<kFlags>(original.c_str());
    ASSERT_FALSE(before.HasParseError());

    ASSERT_TRUE(AddSchemeExclusionToFile(path, L"tsl"));
    const std::string added = ReadFileBytes(path);
    EXPECT_TRUE(json_text::IsCompact(added));
    rapidjson::Document afterAdd;
    afterAdd.Parse<kFlags>(added.c_str());
    ASSERT_FALSE(afterAdd.HasParseError());
    ASSERT_TRUE(afterAdd["protocol_handler"]["excluded_schemes"].HasMember("tsl"));
    EXPECT_TRUE(afterAdd["protocol_handler"]["excluded_schemes"]["tsl"].IsFalse());
    afterAdd["protocol_handler"]["excluded_schemes"].RemoveMember("tsl");
    EXPECT_TRUE(afterAdd == before);

    ASSERT_TRUE(RemoveSchemeExclusionFromFile(path, L"tsl"));
    const std::string removed = ReadFileBytes(path);
    rapidjson::Document afterRemove;
    afterRemove.Parse<kFlags>(removed.c_str());
    ASSERT_FALSE(afterRemove.HasParseError());
    EXPECT_TRUE(afterRemove == before);
    EXPECT_FALSE(IsSchemeExcludedInFile(path, L"tsl"));
    // The integers that fit 64 bits keep their digits exactly.
    EXPECT_NE(removed.find("-9223372036854775808,9223372036854775807,18446744073709551615"), std::string::npos);
}

// The CChrome operations on the current user's own Local State (in the test prefix), put back as it was.
TEST(CChromeLocalState, WorksOnTheCurrentUsersLocalState) {
    const std::wstring path = GetLocalStatePath();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(orlyn::EndsWithNoCase(path.c_str(), L"\\Google\\Chrome\\User Data\\Local State"));
    const bool existed = FileExists(path);
    const std::string saved = existed ? ReadFileBytes(path) : std::string();
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    const bool folderExisted = FolderExists(folder);
    ASSERT_TRUE(CreateFolders(folder));

    ASSERT_TRUE(WriteFileBytes(path, "{\"browser\":{}}"));
    CChrome chrome(L"tsl");
    EXPECT_TRUE(chrome.GetChromeExecutables().empty());
    EXPECT_FALSE(chrome.IsSchemeExcluded());
    EXPECT_TRUE(chrome.AddSchemeExclusion());
    EXPECT_TRUE(chrome.IsSchemeExcluded());
    EXPECT_EQ(ReadFileBytes(path), R"({"browser":{},"protocol_handler":{"excluded_schemes":{"tsl":false}}})");
    EXPECT_TRUE(chrome.RemoveSchemeExclusion());
    EXPECT_FALSE(chrome.IsSchemeExcluded());

    if (existed) {
        WriteFileBytes(path, saved);
    } else {
        ::DeleteFileW(path.c_str());
        if (!folderExisted) {
            // Only the folders this test made: "User Data", "Chrome", "Google".
            std::wstring f = folder;
            for (int i = 0; i < 3; ++i) {
                ::RemoveDirectoryW(f.c_str());
                f = f.substr(0, f.find_last_of(L'\\'));
            }
        }
    }
}
