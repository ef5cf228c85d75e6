#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/string_format.h"
#include "common/win_api.h"
#include "removal/file_user_fixtures.h"
#include "removal/find_process.h"
#include "removal/handle_table.h"

using namespace testing_support;
using namespace orlyn;
using removal_test::CopyFixture;
using removal_test::StartReady;

namespace {

std::vector<FileUser> UsersOf(DWORD processId, const std::vector<FileUser>& users) {
    std::vector<FileUser> out;
    for (const FileUser& u : users)
        if (u.processId == processId) out.push_back(u);
    return out;
}

// The users found are exactly the one process, under its image name.
void ExpectTheOnlyUser(const std::vector<FileUser>& users, DWORD processId, const std::wstring& image) {
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0].processId, processId);
    EXPECT_STREQ(users[0].imageName, image.c_str());
}

std::wstring Upper(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(towupper(c));
    return s;
}

// Probe hooks of the tests: they count the tries and make the query of one file not return, make
// every query slow, or keep a probe thread from beginning. A try that does not come back in time is
// abandoned, not ended, so the script must outlive every try that may still come back.
struct ProbeScript {
    using NtQueryObjectFn = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    NtQueryObjectFn queryObject = LookupProc<NtQueryObjectFn>(L"ntdll.dll", "NtQueryObject");
    UniqueHandle never{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle release{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};  // lets a held-up probe begin
    UniqueHandle begun{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};    // set when it does
    std::wstring hangName;  // a query of a handle whose name ends in this does not return
    bool hangOnce = false;  // ... only the first such query does not
    DWORD delayMs = 0;      // every query first waits this long (INFINITE: it never returns)
    LONG tries = 0;
    LONG returned = 0;
    LONG triesOfHangName = 0;
    LONG hangs = 0;
    LONG begins = 0;

    // holdBegin: a probe thread does not begin until release is set.
    CFindProcess::ProbeHooks Hooks(bool holdBegin = false) {
        CFindProcess::ProbeHooks hooks;
        hooks.begin = holdBegin ? &HoldBegin : nullptr;
        hooks.query = &Query;
        hooks.context = this;
        return hooks;
    }

private:
    static void HoldBegin(void* context) {
        auto* self = static_cast<ProbeScript*>(context);
        ::InterlockedIncrement(&self->begins);
        ::WaitForSingleObject(self->release.get(), INFINITE);
        ::SetEvent(self->begun.get());
    }
    static bool EndsWithNoCase(const wchar_t* text, size_t length, const std::wstring& tail) {
        if (tail.empty() || length < tail.size()) return false;
        const wchar_t* start = text + (length - tail.size());
        for (size_t i = 0; i < tail.size(); ++i) {
            wchar_t a = start[i], b = tail[i];
            if (a >= L'A' && a <= L'Z') a = static_cast<wchar_t>(a - L'A' + L'a');
            if (b >= L'A' && b <= L'Z') b = static_cast<wchar_t>(b - L'A' + L'a');
            if (a != b) return false;
        }
        return true;
    }
    static void Query(HANDLE handle, void* context) {
        auto* self = static_cast<ProbeScript*>(context);
        ::InterlockedIncrement(&self->tries);
        if (self->delayMs) ::WaitForSingleObject(self->never.get(), self->delayMs);
        Named(self, handle);
        ::InterlockedIncrement(&self->returned);
    }
    static void Named(ProbeScript* self, HANDLE handle) {
        ULONG_PTR buffer[2048 / sizeof(ULONG_PTR)] = {};
        ULONG needed = 0;
        if (!self->queryObject || self->queryObject(handle, 1, buffer, sizeof(buffer), &needed) < 0) return;
        struct {
            USHORT length;
            USHORT maximumLength;
            const wchar_t* text;
        } name;
        std::memcpy(&name, buffer, sizeof(name));
        if (!name.text || !EndsWithNoCase(name.text, name.length / sizeof(wchar_t), self->hangName)) return;
        LONG tried = ::InterlockedIncrement(&self->triesOfHangName);
        if (self->hangOnce && tried > 1) return;
        ::InterlockedIncrement(&self->hangs);
        ::WaitForSingleObject(self->never.get(), INFINITE);
    }
};

// The holding fixture program with a file of a temporary folder open.
struct HeldFile {
    TempDir dir{L"fp"};
    std::wstring file;
    ChildProcess holder;

    explicit HeldFile(const wchar_t* name) : file(dir / name) {}
    testing::AssertionResult Start() { return StartReady(holder, FixturePath(L"hold_file.exe"), file); }
};

// Writes a small file at the path and opens it to read.
testing::AssertionResult WriteAndOpen(const std::wstring& path, UniqueFileHandle* file) {
    if (!WriteFileText(path, L"x")) return testing::AssertionFailure() << "cannot write " << ToUtf8(path);
    file->reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!*file) return testing::AssertionFailure() << "cannot open " << ToUtf8(path);
    return testing::AssertionSuccess();
}

// Whether an object manager name stands for the path once rewritten with the drive letters.
testing::AssertionResult NamesPath(const std::wstring& objectName, const std::wstring& path) {
    std::wstring drivePath = CFindProcess::ToDrivePath(objectName);
    if (SamePath(drivePath.c_str(), path.c_str())) return testing::AssertionSuccess();
    return testing::AssertionFailure() << ToUtf8(objectName) << " stands for " << ToUtf8(drivePath);
}

// After one handle was skipped, the next query gives the name of its file; `tries` handles have been
// tried so far.
void ExpectNextNamedAfterOneSkip(CFindProcess& finder, const ProbeScript& script, HANDLE handle,
                                 const std::wstring& path, LONG tries) {
    EXPECT_TRUE(NamesPath(finder.QueryHandleName(handle), path));
    EXPECT_EQ(script.tries, tries);
    EXPECT_EQ(finder.probeTimeouts(), 1u);
}

DWORD WINAPI ReadOneByte(void* pipe) {
    char byte;
    DWORD got = 0;
    ::ReadFile(static_cast<HANDLE>(pipe), &byte, 1, &got, nullptr);
    return 0;
}

}  // namespace

TEST(SamePath, IgnoresCaseLongPathPrefixAndTrailingBackslashAndComparesFullPathsAsTheGuardDoes) {
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        bool same;
    } cases[] = {
        {L"C:\\Dir\\File.txt", L"c:\\dir\\FILE.TXT", true},
        {L"C:\\Dir\\", L"C:\\Dir", true},
        {L"\\\\?\\C:\\Dir\\f", L"C:\\Dir\\f", true},
        {L"\\\\?\\UNC\\srv\\share\\f", L"\\\\srv\\share\\f", true},
        {L"C:\\", L"C:\\", true},
        {L"C:\\", L"C:", false},
        {L"C:\\Dir\\File.txt", L"C:\\Dir\\File.txt2", false},
        {L"C:\\Dir\\a", L"D:\\Dir\\a", false},
        {L"", L"", false},
        // Full paths compare in the tree guard's comparison form.
        {L"C:\\Dir\\f", L"C:/Dir/f", true},
        {L"c:\\dir\\F", L"C:\\Dir\\.\\sub\\..\\\\f", true},
        {L"C:\\Dir\\f", L"C:\\Dir\\f. ", true},
        {L"\\\\srv\\share\\x", L"//SRV/share/x/", true},
        {L"C:\\Dir\\a", L"C:\\Dir\\a\\..\\b", false},
        {L"C:\\Dir\\f:s", L"C:\\Dir\\f", false},
        {L"C:\\", L"C:\\Dir\\..", true},
        // Names that are no full path compare by their text alone.
        {L"\\Device\\HarddiskVolume5\\Mounted\\x", L"\\device\\harddiskvolume5\\mounted\\X\\", true},
        {L"\\Device\\HarddiskVolume5\\x", L"\\Device\\HarddiskVolume5\\.\\x", false},
        {L"Dir\\f", L"C:\\Dir\\f", false},
        {L"Dir\\f", L"dir\\F", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.a) + " vs " + ToUtf8(c.b));
        EXPECT_EQ(SamePath(c.a, c.b), c.same);
    }
}

TEST(IsAlreadyListed, OneEntryPerProcessAndPerExactImageName) {
    std::vector<FileUser> users(2);
    users[0] = FileUser{100, L"a.exe", L""};
    users[1] = FileUser{200, L"", L""};
    struct Case {
        DWORD pid;
        const wchar_t* name;
        bool listed;
    } cases[] = {
        {100, L"a.exe", true}, {101, L"a.exe", true},  {100, L"b.exe", true}, {101, L"A.EXE", false},
        {300, L"", false},     {200, L"", true},       {300, L"b.exe", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pid << " " << ToUtf8(c.name));
        EXPECT_EQ(IsAlreadyListed(users, c.pid, c.name), c.listed);
    }
}

TEST(CFindProcess, IsOneInstanceThroughTheSingleton) {
    EXPECT_EQ(Singleton<CFindProcess>::Instance(), Singleton<CFindProcess>::Instance());
}

TEST(CFindProcess, LearnsTheFileTypeNumberFromAHandleOfItsOwn) {
    HeldFile held(L"held.bin");
    ASSERT_TRUE(held.Start());
    CFindProcess finder;
    ASSERT_TRUE(finder.SnapshotHandles());
    EXPECT_NE(finder.fileTypeNumber(), 0u);
    std::printf("file object type number %lu, %s table, %zu file handles\n", finder.fileTypeNumber(),
                finder.extendedLayout() ? "extended" : "basic", finder.handleTable().size());
    if (RunningUnderWine()) {
        EXPECT_EQ(finder.fileTypeNumber(), 17u);
        EXPECT_TRUE(finder.extendedLayout());
    }
    // Every kept entry has that type; the holder's file handle is among them and ours are not.
    bool holderSeen = false;
    for (const HandleEntry& e : finder.handleTable()) {
        EXPECT_EQ(e.objectTypeNumber, finder.fileTypeNumber());
        EXPECT_NE(e.processId, ::GetCurrentProcessId());
        if (e.processId == held.holder.Id()) holderSeen = true;
    }
    EXPECT_TRUE(holderSeen);
}

TEST(CFindProcess, QueryHandleNameGivesANameThatMapsToTheDrivePath) {
    TempDir dir(L"fp");
    std::wstring file = dir / L"named.txt";
    UniqueFileHandle f;
    ASSERT_TRUE(WriteAndOpen(file, &f));
    CFindProcess finder;
    std::wstring name = finder.QueryHandleName(f.get());
    ASSERT_FALSE(name.empty());
    std::printf("object name: %ls\n", name.c_str());
    EXPECT_TRUE(NamesPath(name, file));
    // A second query reuses the probe thread.
    EXPECT_EQ(finder.QueryHandleName(f.get()), name);
    EXPECT_EQ(finder.probeTimeouts(), 0u);
}

TEST(CFindProcess, ToDrivePathUsesTheDevicesOfTheDriveLetters) {
    wchar_t target[MAX_PATH] = {};
    ASSERT_NE(::QueryDosDeviceW(L"C:", target, MAX_PATH), 0u);
    std::printf("C: is %ls\n", target);
    EXPECT_EQ(CFindProcess::ToDrivePath(std::wstring(target) + L"\\Folder\\File.dat"), L"C:\\Folder\\File.dat");
    EXPECT_EQ(CFindProcess::ToDrivePath(L"\\??\\C:\\Folder"), L"C:\\Folder");
    EXPECT_EQ(CFindProcess::ToDrivePath(L"\\Device\\NoSuchVolume77\\x"), L"\\Device\\NoSuchVolume77\\x");
}

TEST(CFindProcess, ScanHandlesNeverHandsOutInheritableHandles) {
    HeldFile held(L"f.bin");
    ASSERT_TRUE(held.Start());
    UniqueHandle process = CFindProcess::OpenForDuplicate(held.holder.Id());
    ASSERT_TRUE(process);
    DWORD flags = 0xFFFF;
    ASSERT_TRUE(::GetHandleInformation(process.get(), &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
    CFindProcess finder;
    ASSERT_TRUE(finder.SnapshotHandles());
    int duplicated = 0;
    for (const HandleEntry& e : finder.handleTable()) {
        if (e.processId != held.holder.Id()) continue;
        UniqueHandle copy = CFindProcess::DuplicateFrom(process.get(), static_cast<ULONG_PTR>(e.handleValue));
        if (!copy) continue;
        ++duplicated;
        flags = 0xFFFF;
        ASSERT_TRUE(::GetHandleInformation(copy.get(), &flags));
        EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
    }
    EXPECT_GT(duplicated, 0);
}

TEST(CFindProcess, LeavesNoHandlesBehindAfterAScan) {
    HeldFile held(L"held.bin");
    ASSERT_TRUE(held.Start());
    CFindProcess finder;
    ASSERT_EQ(finder.FindFileUsers(held.file.c_str()).size(), 1u);
    DWORD before = 0, after = 0;
    ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &before));
    ASSERT_EQ(finder.FindFileUsers(held.file.c_str()).size(), 1u);
    ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &after));
    EXPECT_EQ(after, before);
}

TEST(FindFileUsers, FindsTheProgramThatHoldsAFileOpen) {
    TempDir dir(L"fp");
    std::wstring image = UniqueName(L"holder") + L".exe";
    std::wstring exe = CopyFixture(dir, L"hold_file.exe", image);
    std::wstring file = dir / L"locked.dat";
    ChildProcess holder;
    ASSERT_TRUE(StartReady(holder, exe, file));

    std::wstring slashed = file;
    for (auto& c : slashed)
        if (c == L'\\') c = L'/';
    // However a registry value may spell the path.
    const std::wstring spellings[] = {file, Upper(file), slashed, dir.path() + L"\\.\\sub\\..\\locked.dat",
                                      dir.path() + L"\\\\locked.dat. "};
    CFindProcess* finder = Singleton<CFindProcess>::Instance();
    for (const std::wstring& asked : spellings) {
        SCOPED_TRACE(ToUtf8(asked));
        std::vector<FileUser> users = finder->FindFileUsers(asked.c_str());
        std::vector<FileUser> mine = UsersOf(holder.Id(), users);
        ASSERT_EQ(mine.size(), 1u);
        EXPECT_STREQ(mine[0].imageName, image.c_str());
        EXPECT_STREQ(mine[0].windowTitle, L"");
        EXPECT_EQ(users.size(), 1u);
    }
    // Another file in the same folder is used by nobody.
    std::wstring other = dir / L"free.dat";
    ASSERT_TRUE(WriteFileText(other, L"x"));
    EXPECT_TRUE(finder->FindFileUsers(other.c_str()).empty());
}

TEST(FindFileUsers, FindsTheProgramThatHoldsAFolderOpen) {
    TempDir dir(L"fp");
    std::wstring image = UniqueName(L"folderholder") + L".exe";
    std::wstring exe = CopyFixture(dir, L"hold_file.exe", image);
    std::wstring folder = dir / L"busy";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ChildProcess holder;
    ASSERT_TRUE(StartReady(holder, exe, folder, L"- share"));
    std::vector<FileUser> users = Singleton<CFindProcess>::Instance()->FindFileUsers((folder + L"\\").c_str());
    ASSERT_EQ(UsersOf(holder.Id(), users).size(), 1u);
    EXPECT_STREQ(UsersOf(holder.Id(), users)[0].imageName, image.c_str());
}

TEST(FindFileUsers, FindsTheProgramThatLoadedALibraryAndListsItOnce) {
    TempDir dir(L"fp");
    std::wstring image = UniqueName(L"loader") + L".exe";
    std::wstring exe = CopyFixture(dir, L"load_library.exe", image);
    std::wstring dll = CopyFixture(dir, L"find_marker.dll", UniqueName(L"marker") + L".dll");
    ASSERT_FALSE(dll.empty());
    struct Case {
        const wchar_t* how;
        const wchar_t* args;
    } cases[] = {{L"loaded only", L""}, {L"loaded and held open", L"hold"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.how));
        ChildProcess loader;
        ASSERT_TRUE(StartReady(loader, exe, dll, c.args));
        ExpectTheOnlyUser(Singleton<CFindProcess>::Instance()->FindFileUsers(dll.c_str()), loader.Id(), image);
    }
}

TEST(FindFileUsers, ListsTwoProcessesOfOneNameOnceAndTwoProgramsInOrderFound) {
    TempDir dir(L"fp");
    std::wstring nameA = UniqueName(L"sharerA") + L".exe";
    std::wstring nameB = UniqueName(L"sharerB") + L".exe";
    std::wstring exeA = CopyFixture(dir, L"hold_file.exe", nameA);
    std::wstring exeB = CopyFixture(dir, L"hold_file.exe", nameB);
    std::wstring file = dir / L"shared.dat";
    ChildProcess a1, a2, b;
    ASSERT_TRUE(StartReady(a1, exeA, file, L"- share"));
    ASSERT_TRUE(StartReady(a2, exeA, file, L"- share"));
    ASSERT_TRUE(StartReady(b, exeB, file, L"- share"));
    std::vector<FileUser> users = Singleton<CFindProcess>::Instance()->FindFileUsers(file.c_str());
    ASSERT_EQ(users.size(), 2u);
    int aIndex = wcscmp(users[0].imageName, nameA.c_str()) == 0 ? 0 : 1;
    EXPECT_STREQ(users[aIndex].imageName, nameA.c_str());
    EXPECT_TRUE(users[aIndex].processId == a1.Id() || users[aIndex].processId == a2.Id());
    EXPECT_STREQ(users[1 - aIndex].imageName, nameB.c_str());
    EXPECT_EQ(users[1 - aIndex].processId, b.Id());
}

TEST(FindFileUsers, GivesTheWindowTitleOfTheHolder) {
    TempDir dir(L"fp");
    std::wstring image = UniqueName(L"titled") + L".exe";
    std::wstring exe = CopyFixture(dir, L"titled_window.exe", image);
    std::wstring file = dir / L"doc.txt";
    std::wstring title = L"Orlyn " + UniqueName(L"title") + L" \xBB38\xC11C";
    ChildProcess window;
    ASSERT_TRUE(StartReady(window, exe, title, L"\"" + file + L"\""));
    EXPECT_EQ(CFindProcess::FindWindowTitle(window.Id()), title);
    EXPECT_EQ(CFindProcess::FindWindowTitle(::GetCurrentProcessId()), L"");
    std::vector<FileUser> users = Singleton<CFindProcess>::Instance()->FindFileUsers(file.c_str());
    ASSERT_NO_FATAL_FAILURE(ExpectTheOnlyUser(users, window.Id(), image));
    EXPECT_STREQ(users[0].windowTitle, title.c_str());
}

TEST(FindFileUsers, NeverListsThisProgramItself) {
    TempDir dir(L"fp");
    std::wstring file = dir / L"mine.dat";
    UniqueFileHandle f(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(f);
    EXPECT_TRUE(Singleton<CFindProcess>::Instance()->FindFileUsers(file.c_str()).empty());
    wchar_t self[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    EXPECT_TRUE(UsersOf(::GetCurrentProcessId(), Singleton<CFindProcess>::Instance()->FindFileUsers(self)).empty());
}

TEST(GetProcessBaseName, NamesARunningProcessAndNothingForAMissingOne) {
    TempDir dir(L"fp");
    std::wstring image = UniqueName(L"named") + L".exe";
    ChildProcess child;
    ASSERT_TRUE(StartReady(child, CopyFixture(dir, L"hold_file.exe", image), dir / L"n.dat"));
    EXPECT_EQ(CFindProcess::GetProcessBaseName(child.Id()), image);
    child.Kill();
    EXPECT_EQ(CFindProcess::GetProcessBaseName(0xFFFFFFF0), L"");
}

TEST(QueryHandleName, SkipsAHandleWhoseQueryDoesNotReturnAndGoesOn) {
    // A synchronous pipe with a read pending on another thread: on Windows every query of that file
    // object waits for the read, which never completes.
    std::wstring pipeName = L"\\\\.\\pipe\\" + UniqueName(L"orlyn_hang");
    UniqueFileHandle server(::CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                               4096, 4096, 0, nullptr));
    ASSERT_TRUE(server);
    UniqueFileHandle client(
        ::CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(client);
    UniqueHandle reader(::CreateThread(nullptr, 0, ReadOneByte, client.get(), 0, nullptr));
    ASSERT_TRUE(reader);
    ::Sleep(50);  // let the read begin; nothing signals that it is pending

    CFindProcess finder;
    DWORD start = ::GetTickCount();
    std::wstring name = finder.QueryHandleName(client.get());
    DWORD spent = ::GetTickCount() - start;
    // Let the reader finish whatever happened.
    DWORD written = 0;
    ::WriteFile(server.get(), "x", 1, &written, nullptr);
    ::WaitForSingleObject(reader.get(), 5000);
    if (!name.empty()) ORLYN_SKIP_ON_WINE("queries on a pipe with a pending read return at once");
    EXPECT_TRUE(name.empty());
    EXPECT_EQ(finder.probeTimeouts(), 1u);  // tried once, within the guard time
    EXPECT_LT(spent, 2000u);

    // The next handle gets a new probe thread and its name.
    TempDir dir(L"fp");
    std::wstring file = dir / L"after.txt";
    UniqueFileHandle f;
    ASSERT_TRUE(WriteAndOpen(file, &f));
    EXPECT_TRUE(NamesPath(finder.QueryHandleName(f.get()), file));
}

TEST(ScanHandles, PassesOverHandlesOfAProcessThatEndedAfterTheSnapshot) {
    HeldFile held(L"gone.dat");
    ASSERT_TRUE(held.Start());
    CFindProcess finder;
    ASSERT_TRUE(finder.SnapshotHandles());
    held.holder.Kill();
    finder.ScanHandles(held.file.c_str());
    EXPECT_TRUE(finder.results().empty());
}

TEST(QueryHandleName, TriesAHandleWhoseQueryDoesNotReturnOnceAndGivesTheNextItsName) {
    TempDir dir(L"fp");
    ProbeScript script;
    script.hangName = UniqueName(L"hang") + L".dat";
    const std::wstring hanging = dir / script.hangName;
    const std::wstring plain = dir / L"plain.dat";
    UniqueFileHandle h, p;
    ASSERT_TRUE(WriteAndOpen(hanging, &h));
    ASSERT_TRUE(WriteAndOpen(plain, &p));

    CFindProcess finder;
    finder.SetProbeHooks(script.Hooks());
    EXPECT_EQ(finder.QueryHandleName(h.get()), L"");
    EXPECT_EQ(script.triesOfHangName, 1);
    EXPECT_EQ(finder.probeTimeouts(), 1u);

    // A new probe thread takes the next handle.
    ExpectNextNamedAfterOneSkip(finder, script, p.get(), plain, 2);
    EXPECT_EQ(script.triesOfHangName, 1);
}

TEST(QueryHandleName, SkipsTheHandleWhenTheProbeThreadHasNotBegunInTimeAndKeepsTheThread) {
    TempDir dir(L"fp");
    const std::wstring file = dir / L"slow.dat";
    UniqueFileHandle f;
    ASSERT_TRUE(WriteAndOpen(file, &f));
    ProbeScript script;
    CFindProcess finder;
    finder.SetProbeHooks(script.Hooks(true));
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(finder.QueryHandleName(f.get()), L"");
    const DWORD spent = ::GetTickCount() - start;
    EXPECT_EQ(script.tries, 0);
    EXPECT_EQ(finder.probeTimeouts(), 1u);
    // The guard time covers the start: the scan does not wait seconds for a thread to begin.
    EXPECT_LT(spent, 1000u);

    // The thread is not ended while it starts, not even at the end of a scan (here one over no
    // handles): once it has begun, it takes the next handle.
    finder.ScanHandles(file.c_str());
    ::SetEvent(script.release.get());
    ASSERT_EQ(::WaitForSingleObject(script.begun.get(), 10000), WAIT_OBJECT_0);
    ExpectNextNamedAfterOneSkip(finder, script, f.get(), file, 1);
    EXPECT_EQ(script.begins, 1);
}

TEST(FindFileUsers, SkipsAHolderWhoseHandleCannotBeNamedAndFindsTheNext) {
    TempDir dir(L"fp");
    ProbeScript script;
    script.hangName = UniqueName(L"shared") + L".dat";
    script.hangOnce = true;
    const std::wstring file = dir / script.hangName;
    const std::wstring nameA = UniqueName(L"holderA") + L".exe";
    const std::wstring nameB = UniqueName(L"holderB") + L".exe";
    ChildProcess a, b;
    ASSERT_TRUE(StartReady(a, CopyFixture(dir, L"hold_file.exe", nameA), file, L"- share"));
    ASSERT_TRUE(StartReady(b, CopyFixture(dir, L"hold_file.exe", nameB), file, L"- share"));

    CFindProcess finder;
    finder.SetProbeHooks(script.Hooks());
    std::vector<FileUser> users = finder.FindFileUsers(file.c_str());
    // Each holder's handle was tried once: the first did not come back and was skipped, the second
    // was named.
    EXPECT_EQ(script.triesOfHangName, 2);
    EXPECT_EQ(script.hangs, 1);
    EXPECT_EQ(finder.probeTimeouts(), 1u);
    ASSERT_EQ(users.size(), 1u);
    const bool foundA = users[0].processId == a.Id();
    EXPECT_TRUE(foundA || users[0].processId == b.Id());
    EXPECT_STREQ(users[0].imageName, (foundA ? nameA : nameB).c_str());
}

TEST(FindFileUsers, AHandleWhoseQueryDoesNotReturnCostsOneThreadOverRepeatedScans) {
    ProbeScript script;
    script.hangName = UniqueName(L"stuck") + L".dat";
    HeldFile stuck(script.hangName.c_str());
    HeldFile plain(L"plain.dat");
    ASSERT_TRUE(stuck.Start());
    ASSERT_TRUE(plain.Start());

    CFindProcess finder;
    finder.SetProbeHooks(script.Hooks());
    for (int scan = 0; scan < 3; ++scan) {
        SCOPED_TRACE(scan);
        EXPECT_TRUE(finder.FindFileUsers(stuck.file.c_str()).empty());
        // Tried once: later scans skip it while that try is out rather than abandon a thread each.
        EXPECT_EQ(script.triesOfHangName, 1);
        EXPECT_EQ(finder.abandonedProbes(), 1u);
    }
    // The other handles are still named.
    std::vector<FileUser> users = finder.FindFileUsers(plain.file.c_str());
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0].processId, plain.holder.Id());
}

TEST(ScanHandles, EndsWhenEveryQueryIsSlowOrNeverReturnsAndLeavesTheProcessWorking) {
    HeldFile held(L"held.dat");
    ASSERT_TRUE(held.Start());
    struct Case {
        const char* name;
        DWORD delayMs;
    };
    for (const Case& c : {Case{"slow", 200}, Case{"never returns", INFINITE}}) {
        SCOPED_TRACE(c.name);
        // A try that never comes back keeps the script for good.
        auto* script = new ProbeScript;
        script->delayMs = c.delayMs;
        {
            CFindProcess finder;
            finder.SetProbeHooks(script->Hooks());
            ASSERT_TRUE(finder.SnapshotHandles());
            const size_t handles = finder.handleTable().size();
            ASSERT_GT(handles, 0u);
            finder.ScanHandles(held.file.c_str());
            EXPECT_TRUE(finder.results().empty());
            // Each handle tried was skipped, and no more threads were given up on than the bound.
            EXPECT_GT(finder.probeTimeouts(), 0u);
            EXPECT_LE(finder.probeTimeouts(), handles);
            EXPECT_LE(finder.abandonedProbes(), CProbeThread::kMaxAbandoned);
            if (c.delayMs != INFINITE) {
                // The slow ones come back by themselves.
                EXPECT_TRUE(WaitUntil([&] { return finder.abandonedProbes() == 0; }, 30000));
                EXPECT_EQ(script->returned, script->tries);
            } else {
                EXPECT_LE(static_cast<size_t>(script->tries), CProbeThread::kMaxAbandoned);
                if (handles >= CProbeThread::kMaxAbandoned) {
                    EXPECT_EQ(finder.abandonedProbes(), CProbeThread::kMaxAbandoned);
                }
            }
        }
        // No thread left runs the slow script's query (one still starting only exits once it begins).
        if (c.delayMs != INFINITE) delete script;

        // Allocation, library loads, name queries and a whole search still go through.
        HMODULE library = ::LoadLibraryW(L"version.dll");
        EXPECT_TRUE(library);
        if (library) ::FreeLibrary(library);
        std::vector<char> block(1 << 20, 'x');
        UniqueFileHandle own;
        ASSERT_TRUE(WriteAndOpen(held.dir / L"own.dat", &own));
        CFindProcess other;
        EXPECT_TRUE(NamesPath(other.QueryHandleName(own.get()), held.dir / L"own.dat"));
        std::vector<FileUser> users = other.FindFileUsers(held.file.c_str());
        ASSERT_EQ(users.size(), 1u);
        EXPECT_EQ(users[0].processId, held.holder.Id());
    }
}
