#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "common/string_format.h"
#include "install/com_registration.h"
#include "support/test_support.h"

using testing_support::FileExists;
using testing_support::FixturePath;
using testing_support::ScriptedMessageBoxes;
using testing_support::TempDir;

namespace {

const wchar_t kSentinel[] = L"untouched";

// Sets ORLYN_COM_FIXTURE_MARK for the scope; com_ok.dll creates that file when it registers.
class RegistrationMark {
public:
    explicit RegistrationMark(const std::wstring& path) : path_(path) {
        ::SetEnvironmentVariableW(L"ORLYN_COM_FIXTURE_MARK", path.c_str());
    }
    ~RegistrationMark() { ::SetEnvironmentVariableW(L"ORLYN_COM_FIXTURE_MARK", nullptr); }
    bool Written() const { return FileExists(path_); }

private:
    std::wstring path_;
};

UINT CurrentErrorMode() {
    UINT mode = ::SetErrorMode(0);
    ::SetErrorMode(mode);
    return mode;
}

bool CopyInto(const std::wstring& from, const std::wstring& to) { return ::CopyFileW(from.c_str(), to.c_str(), FALSE); }

// A 64-bit library whose DllRegisterServer succeeds: in the 64-bit build the plain fixture, in the 32-bit
// build its 64-bit twin, which this process cannot load and hands to the system's regsvr32.
std::wstring ComOk64() {
#ifdef _WIN64
    return FixturePath(L"com_ok.dll");
#else
    return FixturePath(L"com_ok64.dll");
#endif
}

// The path of the program that ran a com_ok library's DllRegisterServer, from its mark file.
std::wstring MarkHost(const std::wstring& mark) {
    std::string bytes = testing_support::ReadFileBytes(mark);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

}  // namespace

TEST(RegisterComServer, CallsDllRegisterServerAndLeavesTheTextAlone) {
    TempDir dir(L"com");
    RegistrationMark mark(dir / L"registered.mark");
    std::wstring dll = FixturePath(L"com_ok.dll");
    wchar_t text[kComErrorTextSize];
    wcscpy(text, kSentinel);

    EXPECT_TRUE(RegisterComServer(dll.c_str(), text, false));
    EXPECT_TRUE(mark.Written());
    EXPECT_STREQ(kSentinel, text);
    EXPECT_EQ(nullptr, ::GetModuleHandleW(dll.c_str())) << "the library must be unloaded again";
}

TEST(RegisterComServer, InProcessFailuresGiveTheirTexts) {
    TempDir dir(L"com");
    std::wstring notADll = dir / L"not a library.dll";
    ASSERT_TRUE(testing_support::WriteFileBytes(notADll, "this is plain text, not a library"));
    struct Case {
        std::wstring path;
        const wchar_t* expected;
    } cases[] = {
        {FixturePath(L"com_fail.dll"),
         L"Call DllRegisterServer Failed(result = 80040201, scode = 80040201, error code = 1234)"},
        {FixturePath(L"com_noexport.dll"), L"GetProcAddress Failed(DllRegisterServer,127)"},
        {notADll, L"LoadLibraryEx Failed(193)"},
        {dir / L"missing.dll", L"LoadLibraryEx Failed(126)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "path " << orlyn::ToUtf8(c.path));
        wchar_t text[kComErrorTextSize];
        wcscpy(text, kSentinel);
        const UINT before = SEM_NOGPFAULTERRORBOX;
        UINT saved = ::SetErrorMode(before);
        EXPECT_FALSE(RegisterComServer(c.path.c_str(), text, false));
        EXPECT_STREQ(c.expected, text);
        EXPECT_EQ(before, CurrentErrorMode()) << "the error mode is restored";
        EXPECT_EQ(nullptr, ::GetModuleHandleW(c.path.c_str()));
        ::SetErrorMode(saved);
        EXPECT_FALSE(RegisterComServer(c.path.c_str(), nullptr, false)) << "no text buffer is fine too";
    }
}

TEST(RegisterComServer, FailsWhenOleCannotStartOnTheThread) {
    // A thread in the multithreaded apartment cannot initialise OLE.
    bool result = true;
    std::wstring text;
    std::wstring dll = FixturePath(L"com_ok.dll");
    std::thread worker([&] {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        wchar_t buffer[kComErrorTextSize] = {};
        result = RegisterComServer(dll.c_str(), buffer, false);
        text = buffer;
        ::CoUninitialize();
    });
    worker.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(L"OleInitialize Failed", text);
}

TEST(RegisterComServer, OnAnApartmentThreadThatStartedComItStillRegisters) {
    // test_main initialised COM apartment-threaded on this thread: OLE reports "already" and goes on.
    TempDir dir(L"com");
    RegistrationMark mark(dir / L"registered.mark");
    wchar_t text[kComErrorTextSize] = {};
    EXPECT_TRUE(RegisterComServer(FixturePath(L"com_ok.dll").c_str(), text, false)) << orlyn::ToUtf8(text);
    EXPECT_TRUE(mark.Written());
}

TEST(RegSvr32Parameters, QuotesThePath) {
    EXPECT_EQ(L"/s \"C:\\Program Files\\Orlyn\\QrGame64.dll\"", RegSvr32Parameters(L"C:\\Program Files\\Orlyn\\QrGame64.dll"));
    EXPECT_EQ(L"/s \"C:\\x.dll\"", RegSvr32Parameters(L"C:\\x.dll"));
}

TEST(RegisterComServer64, RegistersAPathWithBlanksThroughElevatedRegsvr32) {
    TempDir dir(L"com64");
    std::wstring folder = dir / L"with blanks";
    ASSERT_TRUE(testing_support::CreateFolders(folder));
    std::wstring dll = folder + L"\\com ok.dll";
    ASSERT_TRUE(CopyInto(ComOk64(), dll));
    RegistrationMark mark(dir / L"registered64.mark");
    ScriptedMessageBoxes boxes;
    wchar_t text[kComErrorTextSize];
    wcscpy(text, kSentinel);

    // The 32-bit program names "<system folder>\\regsvr32.exe" as GetSystemDirectory gives it (system32);
    // under WOW64 the file system redirects that start to syswow64's 32-bit regsvr32, which hands a 64-bit
    // library on to the 64-bit regsvr32 of the real system32.
    EXPECT_TRUE(RegisterComServer(dll.c_str(), text, true));
    ASSERT_TRUE(mark.Written()) << "regsvr32 ran the library's DllRegisterServer";
    const std::wstring host = MarkHost(dir / L"registered64.mark");
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
    EXPECT_TRUE(orlyn::EqualsNoCase(host.c_str(), (std::wstring(system) + L"\\regsvr32.exe").c_str()))
        << "registered by " << orlyn::ToUtf8(host);
    EXPECT_STREQ(kSentinel, text) << "the 64-bit mode writes no text";
    EXPECT_EQ(0u, boxes.Count());
}

TEST(RegisterComServer64, ANonzeroExitCodeFailsWithoutAMessage) {
    TempDir dir(L"com64");
    std::wstring notADll = dir / L"not a library.dll";
    ASSERT_TRUE(testing_support::WriteFileBytes(notADll, "plain text"));
    std::wstring failing = dir / L"failing server.dll";
    ASSERT_TRUE(CopyInto(FixturePath(L"com_fail.dll"), failing));
    ScriptedMessageBoxes boxes;
    for (const std::wstring& path : {notADll, failing, std::wstring(FixturePath(L"com_noexport.dll"))}) {
        SCOPED_TRACE(orlyn::ToUtf8(path));
        wchar_t text[kComErrorTextSize];
        wcscpy(text, kSentinel);
        EXPECT_FALSE(RegisterComServer(path.c_str(), text, true));
        EXPECT_STREQ(kSentinel, text);
    }
    EXPECT_EQ(0u, boxes.Count());
}

TEST(RegisterComServer64, AToolThatDoesNotStartIsShownInAMessageBox) {
    TempDir dir(L"com64");
    ScriptedMessageBoxes boxes;
    EXPECT_FALSE(RunElevatedRegistration((dir / L"no such tool.exe").c_str(), FixturePath(L"com_ok.dll").c_str()));
    std::vector<seams::MessageBoxCall> calls = boxes.Calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(nullptr, calls[0].owner);
    EXPECT_EQ(L"ERROR!", calls[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR | MB_OK), calls[0].flags);
    EXPECT_EQ(0u, calls[0].text.rfind(L"Execute RegSvr32(64bit) Failed! (error code=", 0)) << orlyn::ToUtf8(calls[0].text);
    EXPECT_EQ(L")\r\n", calls[0].text.substr(calls[0].text.size() - 3));
}
