#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

#include "app/repair_context.h"
#include "common/string_format.h"
#include "support/temp_log.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

struct TimerCall {
    bool arm;
    UINT id;
    UINT elapseMs;
};

// A repair context that records its timer requests.
class TimerRecordingContext : public CRepairContext {
public:
    void ArmTimer(UINT id, UINT elapseMs) override {
        calls.push_back({true, id, elapseMs});
        // The progress at the time the timer starts, to show the phase's end completes it.
        progressAtArm = ReadProgress();
    }
    void CancelTimer(UINT id) override { calls.push_back({false, id, 0}); }
    std::vector<TimerCall> calls;
    Progress progressAtArm = {};
};

std::wstring ShellFolder(int csidl, BOOL create) {
    wchar_t path[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, path, csidl, create)) return L"";
    return path;
}

std::vector<std::wstring> Banner() {
    return {L"", L"=========================", L"   임시 인터넷 파일 삭제 루틴", L"========================="};
}

class ClearInternetCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        cache_ = ShellFolder(CSIDL_INTERNET_CACHE, TRUE);
        cookies_ = ShellFolder(CSIDL_COOKIES, TRUE);
        ASSERT_FALSE(cache_.empty());
        ASSERT_FALSE(cookies_.empty());
        ASSERT_TRUE(context_.logOpened());
        context_.BeginPhaseItems(40);
    }
    std::vector<std::wstring> RunAndReadLog(bool expectedResult) {
        EXPECT_EQ(context_.ClearInternetCache(), expectedResult);
        context_.CloseLog();
        return context_.Messages();
    }
    void ExpectTimerAndProgress() {
        ASSERT_EQ(context_.calls.size(), 2u);
        EXPECT_TRUE(context_.calls[0].arm);
        EXPECT_EQ(context_.calls[0].id, 111u);
        EXPECT_EQ(context_.calls[0].elapseMs, 1200u);
        EXPECT_FALSE(context_.calls[1].arm);
        EXPECT_EQ(context_.calls[1].id, 111u);
        EXPECT_EQ(context_.progressAtArm.phaseItemsDone, 0u);
        CRepairContext::Progress p = context_.ReadProgress();
        EXPECT_EQ(p.phaseItemCount, 40u);
        EXPECT_EQ(p.phaseItemsDone, 40u);
    }

    std::wstring cache_, cookies_;
    TempLogContext<TimerRecordingContext> context_{L"cache"};
};

}  // namespace

TEST_F(ClearInternetCacheTest, LogsBothFoldersAndCompletesTheProgress) {
    std::vector<std::wstring> expected = Banner();
    expected.push_back(L"OK\tClear Internet Cache (" + cache_ + L")");
    expected.push_back(L"OK\t임시 인터넷 파일 삭제하였습니다.");
    expected.push_back(L"OK\tClear Internet Cookie (" + cookies_ + L")");
    expected.push_back(L"OK\t쿠키를 삭제하였습니다.");
    EXPECT_EQ(RunAndReadLog(true), expected);
    ExpectTimerAndProgress();
    EXPECT_TRUE(FolderExists(cache_));
    EXPECT_TRUE(FolderExists(cookies_));
}

TEST_F(ClearInternetCacheTest, AMissingCacheFolderIsReportedAndTheCookiesStillCleared) {
    // The shell names the folder only while it exists: move it aside for the test.
    std::wstring aside = cache_ + L"." + UniqueName(L"aside");
    ASSERT_TRUE(::MoveFileW(cache_.c_str(), aside.c_str()));
    bool missing = ShellFolder(CSIDL_INTERNET_CACHE, FALSE).empty();
    std::vector<std::wstring> log = RunAndReadLog(!missing);
    ::MoveFileW(aside.c_str(), cache_.c_str());
    ASSERT_TRUE(missing) << "the shell still names a missing cache folder";

    ASSERT_EQ(log.size(), 9u);
    std::vector<std::wstring> banner = Banner();
    EXPECT_EQ(std::vector<std::wstring>(log.begin(), log.begin() + 4), banner);
    EXPECT_EQ(log[4], L"Error\tClear Internet Cache Failure");
    EXPECT_EQ(log[5], L"Error\t임시 인터넷 파일 삭제하는데 실패하였습니다.");
    const std::wstring head = L"\t## 에러 코드 = ", tail = L" ##";
    ASSERT_GT(log[6].size(), head.size() + tail.size());
    EXPECT_EQ(log[6].substr(0, head.size()), head);
    EXPECT_EQ(log[6].substr(log[6].size() - tail.size()), tail);
    EXPECT_EQ(log[7], L"OK\tClear Internet Cookie (" + cookies_ + L")");
    EXPECT_EQ(log[8], L"OK\t쿠키를 삭제하였습니다.");
    ExpectTimerAndProgress();
}

TEST_F(ClearInternetCacheTest, EmptiesBothFoldersButKeepsIndexDatAndFilesInUse) {
    struct Layout {
        std::wstring root;
        std::wstring tag;
    } layouts[] = {{cache_, UniqueName(L"c")}, {cookies_, UniqueName(L"k")}};
    for (const auto& l : layouts) {
        std::wstring base = l.root + L"\\" + l.tag;
        ASSERT_TRUE(CreateFolders(base + L"\\Content\\deep"));
        ASSERT_TRUE(CreateFolders(base + L"\\Low"));
        ASSERT_TRUE(WriteFileBytes(base + L"\\Content\\deep\\page.htm", "x"));
        ASSERT_TRUE(WriteFileBytes(base + L"\\Low\\index.dat", "index"));
        ASSERT_TRUE(WriteFileBytes(base + L"\\cookie.txt", "c"));
        ASSERT_TRUE(WriteFileBytes(l.root + L"\\" + l.tag + L".txt", "top"));
        ASSERT_TRUE(::SetFileAttributesW((base + L"\\cookie.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    }
    std::wstring busy = cache_ + L"\\" + UniqueName(L"busy") + L".bin";
    ASSERT_TRUE(WriteFileBytes(busy, "busy"));
    orlyn::UniqueFileHandle holder(
        ::CreateFileW(busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);

    std::vector<std::wstring> log = RunAndReadLog(true);
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[4], L"OK\tClear Internet Cache (" + cache_ + L")");
    EXPECT_EQ(log[7], L"OK\t쿠키를 삭제하였습니다.");
    ExpectTimerAndProgress();

    for (const auto& l : layouts) {
        SCOPED_TRACE(orlyn::ToUtf8(l.root));
        std::wstring base = l.root + L"\\" + l.tag;
        EXPECT_TRUE(FolderExists(l.root));
        EXPECT_TRUE(FileExists(base + L"\\Low\\index.dat"));
        EXPECT_FALSE(FolderExists(base + L"\\Content"));
        EXPECT_FALSE(FileExists(base + L"\\cookie.txt"));
        EXPECT_FALSE(FileExists(l.root + L"\\" + l.tag + L".txt"));
        DeleteTree(base);
    }
    EXPECT_TRUE(FileExists(busy));
    holder.reset();
    ::DeleteFileW(busy.c_str());
}
