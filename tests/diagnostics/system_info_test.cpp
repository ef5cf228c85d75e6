#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/repair_context.h"
#include "common/registry.h"
#include "common/string_format.h"
#include "diagnostics/system_info.h"
#include "support/temp_log.h"
#include "support/test_support.h"

using testing_support::LogOpening;
using testing_support::TempLogContext;

TEST(OsNameLine, NamesEveryVersionOfTheTable) {
    struct Case {
        DWORD major, minor, platform;
        const wchar_t* line;
    } cases[] = {
        {3, 51, 2, L"\tOSName        : Windows NT 3.51\n"},
        {3, 10, 2, L"\tOSName        : Windows NT 3.51\n"},
        {4, 0, 2, L"\tOSName        : Windows NT 4.0\n"},
        {4, 0, 1, L"\tOSName        : Windows 95\n"},
        {4, 10, 1, L"\tOSName        : Windows 98\n"},
        {4, 90, 1, L"\tOSName        : Windows Me\n"},
        {4, 3, 1, L""},
        {5, 0, 2, L"\tOSName        : Windows 2000\n"},
        {5, 1, 2, L"\tOSName        : Windows XP\n"},
        {5, 2, 2, L"\tOSName        : Windows Server 2003 family\n"},
        {5, 3, 2, L""},
        {6, 0, 2, L"\tOSName        : Windows Vista\n"},
        {6, 1, 2, L"\tOSName        : Windows 7\n"},
        {6, 2, 2, L"\tOSName        : Windows 8\n"},
        {6, 3, 2, L"\tOSName        : Windows 8.1\n"},
        {6, 4, 2, L"\tOSName        : Windows 6.4\n"},
        {10, 0, 2, L"\tOSName        : Windows 10\n"},
        {10, 1, 2, L"\tOSName        : Windows 10.1\n"},
        {7, 0, 2, L"\tOSName        : Windows 7.0\n"},
        {2, 5, 2, L"\tOSName        : Windows 2.5\n"},
        {11, 0, 2, L"\tOSName        : Windows 11.0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.major << "." << c.minor << " platform " << c.platform);
        EXPECT_EQ(c.line, OsNameLine(c.major, c.minor, c.platform));
    }
}

TEST(FormatFileVersion, SplitsBothHalves) {
    EXPECT_EQ(L"0.0.0.0", FormatFileVersion(0));
    EXPECT_EQ(L"6.1.7601.17514", FormatFileVersion((6ull << 48) | (1ull << 32) | (7601ull << 16) | 17514ull));
    EXPECT_EQ(L"65535.65535.65535.65535", FormatFileVersion(~0ull));
}

namespace {

SystemInfo SampleInfo(DWORD major) {
    SystemInfo info;
    wcscpy(info.processorVendor, L"GenuineIntel");
    wcscpy(info.processorIdentifier, L"Intel64 Family 6 Model 58 Stepping 9");
    wcscpy(info.processorName, L"Intel(R) Core(TM) i5-3470 CPU @ 3.20GHz");
    info.processorMhz = 3201;
    info.memoryMb = 8097;
    info.systemDiskMb = 238472;
    wcscpy(info.adapterDescription, L"NVIDIA GeForce GTX 470");
    info.adapterDriverVersion = 0x00080015000D23AFull;  // 8.21.13.9135
    info.adapterVendorId = 4318;
    info.adapterDeviceId = 1741;
    info.adapterSubSysId = 7;
    info.adapterRevision = 161;
    info.osMajor = major;
    info.osMinor = 1;
    info.osBuild = 7601;
    info.osPlatformId = 2;
    wcscpy(info.osServicePack, L"Service Pack 1");
    wcscpy(info.ieVersion, L"11.0.9600.18376");
    info.dllVersions[1] = (6ull << 48) | (1ull << 32) | (7601ull << 16) | 17514ull;  // d3d9.dll
    return info;
}

}  // namespace

TEST(FormatSystemInfo, WritesEveryLine) {
    const std::wstring expected =
        L"=========================\n"
        L"   System Info\n"
        L"=========================\n"
        L"CPU Info\n"
        L"\tvender ID     : GenuineIntel\n"
        L"\tidentifier    : Intel64 Family 6 Model 58 Stepping 9\n"
        L"\tprocessorName : Intel(R) Core(TM) i5-3470 CPU @ 3.20GHz\n"
        L"\tspeed         : 3201 MHz\n"
        L"BOARD Info\n"
        L"\tmemory        : 8097 MB\n"
        L"\tmain hdd      : 238472 MB\n"
        L"VGA Info\n"
        L"\tdescription   : NVIDIA GeForce GTX 470\n"
        L"\tdriverVersion : 8\n"
        L"\tvendorId      : 4318\n"
        L"\tdeviceId      : 1741\n"
        L"\tsubSysId      : 7\n"
        L"\trevision      : 161\n"
        L"OS Info\n"
        L"\tmajorVersion  : 6\n"
        L"\tminorVersion  : 1\n"
        L"\tbuildNumber   : 7601\n"
        L"\tplatformId    : 2\n"
        L"\tCSDVersion    : Service Pack 1\n"
        L"\tOSName        : Windows 7\n"
        L"\tAdministrator : true\n"
        L"IE Info\n"
        L"\tversion       : 11.0.9600.18376\n"
        L"DLL Version Info\n"
        L"\td3d8.dll     : 0.0.0.0\n"
        L"\td3d9.dll     : 6.1.7601.17514\n"
        L"\tddraw.dll    : 0.0.0.0\n"
        L"\tdsound.dll   : 0.0.0.0\n"
        L"\tdsound3d.dll : 0.0.0.0\n"
        L"\tdmusic.dll   : 0.0.0.0\n"
        L"\tdplay.dll    : 0.0.0.0\n"
        L"\twsock32.dll  : 0.0.0.0\n"
        L"\tcabinet.dll  : 0.0.0.0\n"
        L"\tcabview.dll  : 0.0.0.0\n"
        L"\n\n";
    EXPECT_EQ(expected, FormatSystemInfo(SampleInfo(6), true));
}

TEST(FormatSystemInfo, AdministratorLineOnlyFromWindows2000On) {
    struct Case {
        DWORD major;
        bool admin;
        const wchar_t* line;  // null: no administrator line
    } cases[] = {
        {4, true, nullptr},
        {5, false, L"\tAdministrator : false\n"},
        {6, true, L"\tAdministrator : true\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.major);
        std::wstring text = FormatSystemInfo(SampleInfo(c.major), c.admin);
        size_t at = text.find(L"\tAdministrator");
        if (!c.line) {
            EXPECT_EQ(std::wstring::npos, at);
        } else {
            ASSERT_NE(std::wstring::npos, at);
            EXPECT_EQ(c.line, text.substr(at, wcslen(c.line)));
        }
    }
}

TEST(MachineKeyPathFromDeviceMap, StripsTheMachinePrefixInAnyCase) {
    std::wstring path;
    EXPECT_TRUE(MachineKeyPathFromDeviceMap(L"\\Registry\\Machine\\System\\Video\\{1}\\0000", path));
    EXPECT_EQ(L"System\\Video\\{1}\\0000", path);
    EXPECT_TRUE(MachineKeyPathFromDeviceMap(L"\\REGISTRY\\MACHINE\\System\\X", path));
    EXPECT_EQ(L"System\\X", path);
    EXPECT_FALSE(MachineKeyPathFromDeviceMap(L"\\Registry\\User\\X", path));
    EXPECT_FALSE(MachineKeyPathFromDeviceMap(L"\\Registry\\Machin", path));
    EXPECT_FALSE(MachineKeyPathFromDeviceMap(L"", path));
}

TEST(GatherSystemInfo, ReadsTheMachine) {
    SystemInfo info;
    GatherSystemInfo(info);

    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof(memory);
    ASSERT_TRUE(::GlobalMemoryStatusEx(&memory));
    EXPECT_EQ(static_cast<DWORD>((memory.ullTotalPhys + (1 << 20) - 1) >> 20), info.memoryMb);
    EXPECT_GT(info.systemDiskMb, 0u);
    EXPECT_NE(L'\0', info.processorVendor[0]);
    EXPECT_NE(L'\0', info.adapterDescription[0]) << "from Direct3D 9 or the video device map";
    EXPECT_GE(info.osMajor, 5u);
    EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_NT), info.osPlatformId);
    EXPECT_NE(L'\0', info.ieVersion[0]);

    // A library that the system cannot find shows as 0; one that it finds has a version.
    for (size_t i = 0; i < kSystemInfoDllCount; ++i) {
        SCOPED_TRACE(orlyn::ToUtf8(kSystemInfoDlls[i]));
        wchar_t found[MAX_PATH];
        bool exists = ::SearchPathW(nullptr, kSystemInfoDlls[i], nullptr, MAX_PATH, found, nullptr) != 0;
        if (!exists) EXPECT_EQ(0u, info.dllVersions[i]);
        else EXPECT_NE(0u, info.dllVersions[i]);
    }
}

TEST(ReadAdapterDescriptionFromRegistry, FollowsTheVideoDeviceMap) {
    // A device map and a device key of the test's own, in the layout of HARDWARE\\DEVICEMAP\\VIDEO.
    const std::wstring base = L"SOFTWARE\\" + testing_support::UniqueName(L"OrlynVideoTest");
    testing_support::ScopedRegKey cleanup(HKEY_LOCAL_MACHINE, base);  // removed last, with everything below
    testing_support::ScopedRegKey map(HKEY_LOCAL_MACHINE, base + L"\\Map");
    testing_support::ScopedRegKey device(HKEY_LOCAL_MACHINE, base + L"\\Device\\0000");
    ASSERT_EQ(ERROR_SUCCESS, orlyn::SetRegString(device.key(), L"Device Description", L"Orlyn Test Adapter"));
    struct Case {
        std::wstring video0;  // empty: no value
        const wchar_t* description;  // null: not found
    } cases[] = {
        {L"\\REGISTRY\\Machine\\" + base + L"\\Device\\0000", L"Orlyn Test Adapter"},
        {L"\\Registry\\Machine\\" + base + L"\\Device\\missing", nullptr},
        {L"\\Registry\\User\\" + base + L"\\Device\\0000", nullptr},
        {L"", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.video0));
        ::RegDeleteValueW(map.key(), L"\\Device\\Video0");
        if (!c.video0.empty()) {
            ASSERT_EQ(ERROR_SUCCESS, orlyn::SetRegString(map.key(), L"\\Device\\Video0", c.video0.c_str()));
        }
        wchar_t description[kSystemInfoTextSize];
        wcscpy(description, L"preset");
        bool found = ReadAdapterDescriptionFromRegistry(description, kSystemInfoTextSize, (base + L"\\Map").c_str());
        EXPECT_EQ(c.description != nullptr, found);
        EXPECT_STREQ(c.description ? c.description : L"", description);
    }
}

TEST(WriteSystemInfo, OpensTheLogWithTheSectionAndNoTimestamps) {
    TempLogContext<> context(L"sys", LogOpening::Later);
    context.GatherSystemInfo();
    ASSERT_TRUE(context.OpenTempLog());
    context.WriteSystemInfo();
    context.WriteLog(L"after\n");
    context.CloseLog();

    std::vector<std::wstring> raw;
    bool bom = false;
    std::vector<std::wstring> messages = context.Messages(&raw, &bom);
    EXPECT_TRUE(bom);
    std::wstring expectedText = FormatSystemInfo(context.systemInfo, ::IsUserAnAdmin() != FALSE);
    std::vector<std::wstring> expected;
    size_t start = 0;
    for (size_t end; (end = expectedText.find(L'\n', start)) != std::wstring::npos; start = end + 1)
        expected.push_back(expectedText.substr(start, end - start));
    ASSERT_GE(raw.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(expected[i], raw[i]) << "line " << i;
    EXPECT_EQ(L"after", messages[expected.size()]) << "entries written after the section keep their timestamps";
    EXPECT_EQ(25u, raw[expected.size()].size()) << "timestamp, tab, message";
}

TEST(WriteSystemInfo, WritesNothingWhenTheLogIsNotOpen) {
    TempLogContext<> context(L"sys", LogOpening::Later);
    context.GatherSystemInfo();
    EXPECT_NE(0u, context.systemInfo.memoryMb) << "the snapshot is gathered all the same";
    context.WriteSystemInfo();  // no stream: nothing to write to, no crash
    ASSERT_TRUE(context.OpenTempLog());
    context.CloseLog();
    context.WriteSystemInfo();
    EXPECT_TRUE(context.Messages().empty());
}
