// Runs without Windows: the handle-table parse, the snapshot buffer and the path rewriting take bytes and
// text and give data, so these tests include nothing of the system.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "removal/handle_table.h"

using namespace orlyn;

namespace {

// Builds a snapshot buffer in one of the four layouts, field by field at the documented offsets.
class SnapshotBuilder {
public:
    explicit SnapshotBuilder(HandleTableLayout layout) : layout_(layout) {}
    void Add(const HandleEntry& e) { entries_.push_back(e); }
    std::vector<uint8_t> Build(unsigned long long count) const {
        bool wide = layout_ == HandleTableLayout::Basic64 || layout_ == HandleTableLayout::Extended64;
        bool basic = layout_ == HandleTableLayout::Basic32 || layout_ == HandleTableLayout::Basic64;
        size_t header = basic ? (wide ? 8 : 4) : (wide ? 16 : 8);
        size_t size = basic ? (wide ? 24 : 16) : (wide ? 40 : 28);
        std::vector<uint8_t> out(header + size * entries_.size(), 0xCC);
        if (basic) Put<uint32_t>(out, 0, static_cast<uint32_t>(count));
        else PutPointer(out, 0, count, wide);
        if (!basic) PutPointer(out, wide ? 8 : 4, 0, wide);
        if (basic && wide) Put<uint32_t>(out, 4, 0);
        for (size_t i = 0; i < entries_.size(); ++i) {
            const HandleEntry& e = entries_[i];
            size_t at = header + i * size;
            if (basic) {
                Put<uint32_t>(out, at, e.processId);
                Put<uint8_t>(out, at + 4, static_cast<uint8_t>(e.objectTypeNumber));
                Put<uint8_t>(out, at + 5, static_cast<uint8_t>(e.flags));
                Put<uint16_t>(out, at + 6, static_cast<uint16_t>(e.handleValue));
                PutPointer(out, at + 8, e.object, wide);
                Put<uint32_t>(out, at + (wide ? 16 : 12), e.grantedAccess);
                if (wide) Put<uint32_t>(out, at + 20, 0);
            } else {
                size_t p = wide ? 8 : 4;
                PutPointer(out, at, e.object, wide);
                PutPointer(out, at + p, e.processId, wide);
                PutPointer(out, at + 2 * p, e.handleValue, wide);
                Put<uint32_t>(out, at + 3 * p, e.grantedAccess);
                Put<uint16_t>(out, at + 3 * p + 4, 7);  // creator back-trace index
                Put<uint16_t>(out, at + 3 * p + 6, static_cast<uint16_t>(e.objectTypeNumber));
                Put<uint32_t>(out, at + 3 * p + 8, e.flags);
                Put<uint32_t>(out, at + 3 * p + 12, 0);
            }
        }
        return out;
    }
    std::vector<uint8_t> Build() const { return Build(entries_.size()); }

private:
    template <typename T>
    static void Put(std::vector<uint8_t>& out, size_t at, T value) {
        std::memcpy(out.data() + at, &value, sizeof(T));
    }
    static void PutPointer(std::vector<uint8_t>& out, size_t at, unsigned long long value, bool wide) {
        if (wide) Put<unsigned long long>(out, at, value);
        else Put<uint32_t>(out, at, static_cast<uint32_t>(value));
    }
    HandleTableLayout layout_;
    std::vector<HandleEntry> entries_;
};

const char* LayoutName(HandleTableLayout l) {
    switch (l) {
    case HandleTableLayout::Basic32: return "Basic32";
    case HandleTableLayout::Basic64: return "Basic64";
    case HandleTableLayout::Extended32: return "Extended32";
    case HandleTableLayout::Extended64: return "Extended64";
    }
    return "?";
}

const HandleTableLayout kLayouts[] = {HandleTableLayout::Basic32, HandleTableLayout::Basic64,
                                      HandleTableLayout::Extended32, HandleTableLayout::Extended64};

bool IsBasic(HandleTableLayout l) { return l == HandleTableLayout::Basic32 || l == HandleTableLayout::Basic64; }
bool IsWide(HandleTableLayout l) { return l == HandleTableLayout::Basic64 || l == HandleTableLayout::Extended64; }

// One text in, one text out: a row of the path-rewriting tables.
struct TextCase {
    const wchar_t* in;
    const wchar_t* out;
};

template <typename Rewrite>
void ExpectEachRewrite(const std::vector<TextCase>& cases, Rewrite rewrite) {
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(rewrite(c.in), c.out);
    }
}

}  // namespace

TEST(ParseHandleTable, ReadsEveryFieldInAllFourLayouts) {
    for (HandleTableLayout layout : kLayouts) {
        SCOPED_TRACE(LayoutName(layout));
        bool wide = IsWide(layout);
        bool basic = IsBasic(layout);
        // Values that show a field read at the wrong offset or width.
        HandleEntry a{0x1234, 17, 0x02, basic ? 0x1A4u : 0x123456u, wide ? 0x12345678ABCDull : 0xFEDC1234u,
                      0x0012019F};
        HandleEntry b{0x4321, 25, 0x01, 0xFFFC, 0, 0x00100001};
        HandleEntry c{0x99, 17, 0, 0x8, 0x10, 0x3};
        SnapshotBuilder builder(layout);
        builder.Add(a);
        builder.Add(b);
        builder.Add(c);
        std::vector<uint8_t> data = builder.Build();
        ASSERT_EQ(data.size(), HandleTableHeaderSize(layout) + 3 * HandleEntrySize(layout));

        std::vector<HandleEntry> all;
        ASSERT_TRUE(ParseHandleTable(data.data(), data.size(), layout, kAnyType, &all));
        ASSERT_EQ(all.size(), 3u);
        EXPECT_EQ(all[0].processId, a.processId);
        EXPECT_EQ(all[0].objectTypeNumber, a.objectTypeNumber);
        EXPECT_EQ(all[0].flags, a.flags);
        EXPECT_EQ(all[0].handleValue, a.handleValue);
        EXPECT_EQ(all[0].object, a.object);
        EXPECT_EQ(all[0].grantedAccess, a.grantedAccess);
        EXPECT_EQ(all[1].processId, b.processId);
        EXPECT_EQ(all[1].handleValue, b.handleValue);
        EXPECT_EQ(all[2].grantedAccess, c.grantedAccess);

        std::vector<HandleEntry> files;
        ASSERT_TRUE(ParseHandleTable(data.data(), data.size(), layout, 17, &files));
        ASSERT_EQ(files.size(), 2u);
        EXPECT_EQ(files[0].processId, 0x1234u);
        EXPECT_EQ(files[1].processId, 0x99u);
    }
}

TEST(ParseHandleTable, KeepsHandleValuesAbove16BitsInTheExtendedLayout) {
    for (HandleTableLayout layout : {HandleTableLayout::Extended32, HandleTableLayout::Extended64}) {
        SCOPED_TRACE(LayoutName(layout));
        SnapshotBuilder builder(layout);
        builder.Add({70000, 40, 0, 0x2A0004, 0, 0x1});
        std::vector<uint8_t> data = builder.Build();
        std::vector<HandleEntry> out;
        ASSERT_TRUE(ParseHandleTable(data.data(), data.size(), layout, kAnyType, &out));
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].handleValue, 0x2A0004u);
        EXPECT_EQ(out[0].processId, 70000u);
        EXPECT_EQ(out[0].objectTypeNumber, 40u);
    }
}

TEST(ParseHandleTable, RejectsACountThatDoesNotFitTheBuffer) {
    for (HandleTableLayout layout : kLayouts) {
        SCOPED_TRACE(LayoutName(layout));
        SnapshotBuilder builder(layout);
        builder.Add({1, 17, 0, 4, 0, 0});
        builder.Add({1, 17, 0, 8, 0, 0});
        for (unsigned long long count : {3ull, 0xFFFFFFFFull, IsWide(layout) && !IsBasic(layout) ? ~0ull : 4ull}) {
            SCOPED_TRACE(count);
            std::vector<uint8_t> data = builder.Build(count);
            std::vector<HandleEntry> out{{9, 9, 9, 9, 9, 9}};
            EXPECT_FALSE(ParseHandleTable(data.data(), data.size(), layout, kAnyType, &out));
            EXPECT_TRUE(out.empty());
        }
        std::vector<uint8_t> data = builder.Build();
        std::vector<HandleEntry> out;
        EXPECT_FALSE(ParseHandleTable(data.data(), HandleTableHeaderSize(layout) - 1, layout, kAnyType, &out));
        // One entry short of what the count says.
        EXPECT_FALSE(ParseHandleTable(data.data(), data.size() - 1, layout, kAnyType, &out));
        EXPECT_TRUE(ParseHandleTable(data.data(), data.size(), layout, kAnyType, &out));
    }
}

TEST(ParseHandleTable, NativeLayoutFollowsThePointerSize) {
    bool wide = sizeof(void*) == 8;
    EXPECT_EQ(NativeHandleTableLayout(true), wide ? HandleTableLayout::Extended64 : HandleTableLayout::Extended32);
    EXPECT_EQ(NativeHandleTableLayout(false), wide ? HandleTableLayout::Basic64 : HandleTableLayout::Basic32);
}

TEST(FindHandleType, MatchesProcessAndHandleComparingLow16BitsInTheBasicLayout) {
    std::vector<HandleEntry> entries = {{10, 5, 0, 0x44, 0, 0}, {11, 17, 0, 0x44, 0, 0}, {11, 30, 0, 0x48, 0, 0}};
    EXPECT_EQ(FindHandleType(entries, 11, 0x44, false), 17u);
    EXPECT_EQ(FindHandleType(entries, 11, 0x48, false), 30u);
    EXPECT_EQ(FindHandleType(entries, 12, 0x44, false), 0u);
    EXPECT_EQ(FindHandleType(entries, 11, 0x10044, false), 0u);
    EXPECT_EQ(FindHandleType(entries, 11, 0x10044, true), 17u);
}

TEST(FallbackFileTypeNumber, KnowsOnlyTheOldSystems) {
    struct Case {
        uint32_t major;
        uint32_t type;
    } cases[] = {{5, 28}, {6, 25}, {10, 0}, {4, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.major);
        EXPECT_EQ(FallbackFileTypeNumber(c.major), c.type);
    }
}

TEST(QueryGrowingBuffer, DoublesFromThirtyTwoKilobytesUntilTheDataFits) {
    std::vector<uint32_t> sizes;
    std::unique_ptr<uint8_t[]> buffer;
    size_t size = 0;
    int32_t status = QueryGrowingBuffer(
        [&](void* data, uint32_t length, uint32_t* needed) {
            sizes.push_back(length);
            EXPECT_EQ(static_cast<uint8_t*>(data)[length - 1], 0);  // zero-filled
            if (length < 200000) return kStatusInfoLengthMismatch;
            static_cast<uint8_t*>(data)[0] = 0x5A;
            *needed = 200000;
            return kStatusSuccess;
        },
        kSnapshotInitialSize, kSnapshotSizeCap, &buffer, &size);
    EXPECT_EQ(status, kStatusSuccess);
    EXPECT_EQ(sizes, (std::vector<uint32_t>{32768, 65536, 131072, 262144}));
    ASSERT_TRUE(buffer);
    EXPECT_EQ(size, 262144u);
    EXPECT_EQ(buffer[0], 0x5A);
}

TEST(QueryGrowingBuffer, TakesTheReportedSizeWhenItIsLarger) {
    std::vector<uint32_t> sizes;
    std::unique_ptr<uint8_t[]> buffer;
    size_t size = 0;
    int32_t status = QueryGrowingBuffer(
        [&](void*, uint32_t length, uint32_t* needed) {
            sizes.push_back(length);
            *needed = 1000000;
            return length < 1000000 ? kStatusBufferTooSmall : kStatusSuccess;
        },
        kSnapshotInitialSize, kSnapshotSizeCap, &buffer, &size);
    EXPECT_EQ(status, kStatusSuccess);
    EXPECT_EQ(sizes, (std::vector<uint32_t>{32768, 1000000}));
}

TEST(QueryGrowingBuffer, StopsAtTheCapInsteadOfGrowingWithoutBound) {
    int calls = 0;
    std::unique_ptr<uint8_t[]> buffer;
    size_t size = 1;
    const size_t cap = 1024 * 1024;
    int32_t status = QueryGrowingBuffer(
        [&](void*, uint32_t length, uint32_t*) {
            ++calls;
            EXPECT_LE(length, cap);
            return kStatusInfoLengthMismatch;
        },
        kSnapshotInitialSize, cap, &buffer, &size);
    EXPECT_EQ(status, kStatusInsufficientResources);
    EXPECT_EQ(calls, 6);  // 32 KB .. 1 MB
    EXPECT_FALSE(buffer);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(kSnapshotSizeCap, 256u * 1024 * 1024);

    // A reported size above the cap is refused as well, without asking again.
    calls = 0;
    status = QueryGrowingBuffer(
        [&](void*, uint32_t, uint32_t* needed) {
            ++calls;
            *needed = 0x7FFFFFFF;
            return kStatusInfoLengthMismatch;
        },
        kSnapshotInitialSize, kSnapshotSizeCap, &buffer, &size);
    EXPECT_EQ(status, kStatusInsufficientResources);
    EXPECT_EQ(calls, 1);
}

TEST(QueryGrowingBuffer, PassesOtherFailuresOnWithoutABuffer) {
    std::unique_ptr<uint8_t[]> buffer;
    size_t size = 0;
    const int32_t invalidClass = static_cast<int32_t>(0xC0000003);
    EXPECT_EQ(QueryGrowingBuffer([&](void*, uint32_t, uint32_t*) { return invalidClass; }, kSnapshotInitialSize,
                                 kSnapshotSizeCap, &buffer, &size),
              invalidClass);
    EXPECT_FALSE(buffer);
}

TEST(MapToDrivePath, TurnsDeviceAndDosDeviceNamesIntoDrivePaths) {
    std::vector<DriveMapping> drives = {{L"C:", L"\\Device\\HarddiskVolume1"},
                                        {L"D:", L"\\Device\\HarddiskVolume10"},
                                        {L"E:", L"\\Device\\CdRom0"}};
    const std::vector<TextCase> cases = {
        {L"\\Device\\HarddiskVolume1\\Folder\\File.dat", L"C:\\Folder\\File.dat"},
        {L"\\device\\harddiskvolume1\\a", L"C:\\a"},
        {L"\\Device\\HarddiskVolume1", L"C:"},
        // Volume 10 is not volume 1 followed by "0".
        {L"\\Device\\HarddiskVolume10\\x.txt", L"D:\\x.txt"},
        {L"\\Device\\HarddiskVolume12\\x.txt", L"\\Device\\HarddiskVolume12\\x.txt"},
        // What Wine answers.
        {L"\\??\\C:\\users\\me\\x.txt", L"C:\\users\\me\\x.txt"},
        {L"\\??\\z:\\tmp", L"z:\\tmp"},
        {L"\\DosDevices\\C:\\x", L"C:\\x"},
        {L"\\GLOBAL??\\C:\\x", L"C:\\x"},
        {L"\\??\\UNC\\server\\share\\x", L"\\\\server\\share\\x"},
        // A volume without a letter (a mounted folder) stays as it is.
        {L"\\Device\\HarddiskVolume5\\Mounted\\x", L"\\Device\\HarddiskVolume5\\Mounted\\x"},
        {L"\\Device\\NamedPipe\\foo", L"\\Device\\NamedPipe\\foo"},
        {L"\\??\\pipe\\foo", L"\\??\\pipe\\foo"},
        {L"", L""},
    };
    ExpectEachRewrite(cases, [&](const wchar_t* name) { return MapToDrivePath(name, drives); });
}

TEST(ComparablePath, DropsTheLongPathPrefixAndTrailingBackslashesButKeepsCase) {
    const std::vector<TextCase> cases = {
        {L"\\\\?\\C:\\Dir\\File.txt", L"C:\\Dir\\File.txt"},
        {L"\\\\?\\UNC\\srv\\share\\f", L"\\\\srv\\share\\f"},
        {L"\\\\?\\unc\\srv\\share\\f", L"\\\\srv\\share\\f"},
        {L"C:\\Dir\\\\", L"C:\\Dir"},
        {L"C:\\", L"C:\\"},
        {L"\\\\?\\C:\\", L"C:\\"},
        {L"\\", L"\\"},
        {L"c:\\MiXeD", L"c:\\MiXeD"},
        {L"", L""},
    };
    ExpectEachRewrite(cases, ComparablePath);
    EXPECT_EQ(ComparablePath(nullptr), L"");
}

TEST(BaseNameOf, GivesWhatFollowsTheLastBackslash) {
    const std::vector<TextCase> cases = {
        {L"C:\\Program Files\\Orlyn\\game.exe", L"game.exe"},
        {L"game.exe", L"game.exe"},
        {L"C:\\Folder\\", L""},
        {L"\\??\\C:\\x\\tool.EXE", L"tool.EXE"},
        {L"", L""},
    };
    ExpectEachRewrite(cases, [](const wchar_t* path) { return std::wstring(BaseNameOf(path)); });
    EXPECT_STREQ(BaseNameOf(nullptr), L"");
}
