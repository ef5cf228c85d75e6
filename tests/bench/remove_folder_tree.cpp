// Times RemoveFolderTree on a generated tree of 20,000 files in 2,000 folders against "cmd /c rd /s /q" on
// an identical tree, in the same run: once writing every line to a log file as the removal does, once
// with no log attached.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/log_stream.h"
#include "removal/log_handle.h"
#include "support/test_support.h"

namespace {

constexpr int kTopFolders = 50;
constexpr int kSubFolders = 39;       // 50 + 50 * 39 = 2,000 folders
constexpr int kFilesPerFolder = 10;   // in every folder: 20,000 files

bool MakeTree(const std::wstring& root, int& files, int& folders) {
    files = folders = 0;
    if (!::CreateDirectoryW(root.c_str(), nullptr)) return false;
    auto fill = [&](const std::wstring& dir) {
        for (int f = 0; f < kFilesPerFolder; ++f) {
            std::wstring path = dir + L"\\file" + std::to_wstring(f) + L".dat";
            // Every fifth file read-only, as installed files often are.
            DWORD attributes = f % 5 == 0 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
            HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
            if (h == INVALID_HANDLE_VALUE) return false;
            DWORD written = 0;
            ::WriteFile(h, "0123456789abcdef", 16, &written, nullptr);
            ::CloseHandle(h);
            ++files;
        }
        return true;
    };
    for (int t = 0; t < kTopFolders; ++t) {
        std::wstring top = root + L"\\top" + std::to_wstring(t);
        if (!::CreateDirectoryW(top.c_str(), nullptr)) return false;
        ++folders;
        if (!fill(top)) return false;
        for (int s = 0; s < kSubFolders; ++s) {
            std::wstring sub = top + L"\\sub" + std::to_wstring(s);
            if (!::CreateDirectoryW(sub.c_str(), nullptr)) return false;
            ++folders;
            if (!fill(sub)) return false;
        }
    }
    return true;
}

double Seconds(LARGE_INTEGER start, LARGE_INTEGER end) {
    LARGE_INTEGER freq;
    ::QueryPerformanceFrequency(&freq);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart);
}

double TimeRemoveFolderTree(const std::wstring& root, const std::wstring& logPath, bool& ok) {
    CLogHandle handle;
    if (!logPath.empty()) handle.Attach(orlyn::LogStream::Create(logPath.c_str()), true);
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    ok = handle.RemoveFolderTree(root.c_str(), true);
    ::QueryPerformanceCounter(&end);
    handle.Close();
    return Seconds(start, end);
}

double TimeRd(const std::wstring& root, bool& ok) {
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
    std::wstring line = L"cmd /c rd /s /q \"" + root + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    ok = ::CreateProcessW(cmd.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != 0;
    if (ok) {
        orlyn::UniqueHandle process(pi.hProcess);
        orlyn::UniqueHandle thread(pi.hThread);
        ok = ::WaitForSingleObject(process.get(), 600000) == WAIT_OBJECT_0;
    }
    ::QueryPerformanceCounter(&end);
    ok = ok && ::GetFileAttributesW(root.c_str()) == INVALID_FILE_ATTRIBUTES;
    return Seconds(start, end);
}

}  // namespace

int main() {
    testing_support::TempDir dir(L"bench");
    std::wstring logged = dir / L"logged";
    std::wstring quiet = dir / L"quiet";
    std::wstring rd = dir / L"rd";
    int files = 0, folders = 0;
    for (const auto& root : {logged, quiet, rd}) {
        if (!MakeTree(root, files, folders)) {
            std::printf("could not generate the tree (error %lu)\n", ::GetLastError());
            return 1;
        }
    }
    std::printf("tree: %d files in %d folders (each of three copies)\n", files, folders);

    bool okLogged = false, okQuiet = false, okRd = false;
    double tLogged = TimeRemoveFolderTree(logged, dir / L"bench.log", okLogged);
    double tQuiet = TimeRemoveFolderTree(quiet, L"", okQuiet);
    double tRd = TimeRd(rd, okRd);
    std::printf("RemoveFolderTree, logging every entry: %8.3f s  %s\n", tLogged, okLogged ? "removed" : "FAILED");
    std::printf("RemoveFolderTree, no log attached:     %8.3f s  %s\n", tQuiet, okQuiet ? "removed" : "FAILED");
    std::printf("cmd /c rd /s /q:                       %8.3f s  %s\n", tRd, okRd ? "removed" : "FAILED");
    return okLogged && okQuiet && okRd ? 0 : 1;
}
