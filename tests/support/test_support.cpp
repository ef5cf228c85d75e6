#include "support/test_support.h"

#include <sddl.h>

#include <atomic>
#include <cwchar>

#include "common/registry.h"
#include "common/string_format.h"

namespace testing_support {

std::wstring UniqueName(const wchar_t* tag) {
    static std::atomic<unsigned> counter{0};
    wchar_t buf[128];
    _snwprintf(buf, 127, L"%s_%lu_%u", tag, ::GetCurrentProcessId(), counter.fetch_add(1));
    buf[127] = 0;
    return buf;
}

TempDir::TempDir(const wchar_t* tag) {
    wchar_t temp[MAX_PATH];
    DWORD n = ::GetTempPathW(MAX_PATH, temp);
    std::wstring base(temp, n);
    if (!base.empty() && base.back() == L'\\') base.pop_back();
    path_ = base + L"\\orlyn_" + UniqueName(tag);
    ::CreateDirectoryW(path_.c_str(), nullptr);
}

TempDir::~TempDir() { DeleteTree(path_); }

void DeleteTree(const std::wstring& path) {
    DWORD attrs = ::GetFileAttributesW(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return;
    if (attrs & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesW(path.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY);
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        ::DeleteFileW(path.c_str());
        return;
    }
    if (!(attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW fd;
        orlyn::UniqueFindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &fd));
        if (find) {
            do {
                if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0) continue;
                DeleteTree(path + L"\\" + fd.cFileName);
            } while (::FindNextFileW(find.get(), &fd));
        }
    }
    ::RemoveDirectoryW(path.c_str());
}

std::wstring TestProgramFolder() {
    wchar_t buf[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, buf, MAX_PATH);
    std::wstring p(buf, n);
    return p.substr(0, p.find_last_of(L'\\'));
}

std::wstring FixturePath(const wchar_t* fileName) { return TestProgramFolder() + L"\\" + fileName; }

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    orlyn::UniqueFileHandle f(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return false;
    DWORD written = 0;
    return ::WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool WriteFileText(const std::wstring& path, const std::wstring& text) {
    return WriteFileBytes(path, orlyn::ToUtf8(text));
}

std::string ReadFileBytes(const std::wstring& path) {
    orlyn::UniqueFileHandle f(::CreateFileW(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    if (!f) return std::string();
    std::string out;
    char buf[65536];
    DWORD got = 0;
    while (::ReadFile(f.get(), buf, sizeof(buf), &got, nullptr) && got > 0) out.append(buf, got);
    return out;
}

bool FileExists(const std::wstring& path) {
    DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path) {
    DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateFolders(const std::wstring& path) {
    if (path.empty() || FolderExists(path)) return true;
    size_t cut = path.find_last_of(L'\\');
    if (cut != std::wstring::npos && cut > 2) CreateFolders(path.substr(0, cut));
    return ::CreateDirectoryW(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

std::vector<std::wstring> ReadLogMessages(const std::wstring& path, std::vector<std::wstring>* rawLines,
                                          bool* hadBom) {
    std::string bytes = ReadFileBytes(path);
    bool bom = bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    if (hadBom) *hadBom = bom;
    std::wstring text = orlyn::FromUtf8(bom ? bytes.substr(3) : bytes);
    std::vector<std::wstring> messages;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(L"\r\n", pos);
        std::wstring line = text.substr(pos, end == std::wstring::npos ? std::wstring::npos : end - pos);
        pos = end == std::wstring::npos ? text.size() : end + 2;
        if (rawLines) rawLines->push_back(line);
        // "YYYY-MM-DD HH:MM:SS\t"
        bool stamped = line.size() >= 20 && line[4] == L'-' && line[7] == L'-' && line[10] == L' ' &&
                       line[13] == L':' && line[16] == L':' && line[19] == L'\t';
        messages.push_back(stamped ? line.substr(20) : line);
    }
    return messages;
}

ChildProcess::~ChildProcess() { Kill(); }

bool ChildProcess::Start(const std::wstring& exe, const std::wstring& args, bool inheritHandles) {
    std::wstring cmd = L"\"" + exe + L"\"";
    if (!args.empty()) cmd += L" " + args;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, inheritHandles, 0, nullptr, nullptr, &si, &pi))
        return false;
    ::CloseHandle(pi.hThread);
    process_.reset(pi.hProcess);
    id_ = pi.dwProcessId;
    return true;
}

bool ChildProcess::WaitForExit(DWORD timeoutMs) {
    return process_ && ::WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD ChildProcess::ExitCode() const {
    DWORD code = 0;
    if (process_) ::GetExitCodeProcess(process_.get(), &code);
    return code;
}

void ChildProcess::Kill() {
    if (!process_) return;
    if (::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process_.get(), 1);
        ::WaitForSingleObject(process_.get(), 5000);
    }
    process_.reset();
}

bool WaitForNamedEvent(const std::wstring& name, DWORD timeoutMs) {
    // Created here if the fixture has not yet made it, so the order of the two does not matter.
    orlyn::UniqueHandle ev(::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    return ev && ::WaitForSingleObject(ev.get(), timeoutMs) == WAIT_OBJECT_0;
}

ScriptedMessageBoxes::ScriptedMessageBoxes(std::deque<int> answers) : answers_(std::move(answers)) {
    seams::SetMessageBoxHandler([this](const seams::MessageBoxCall& call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
        if (answers_.empty()) return IDOK;
        int a = answers_.front();
        answers_.pop_front();
        return a;
    });
}

ScriptedMessageBoxes::~ScriptedMessageBoxes() { seams::SetMessageBoxHandler(nullptr); }

void ScriptedMessageBoxes::Push(int answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.push_back(answer);
}

std::vector<seams::MessageBoxCall> ScriptedMessageBoxes::Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

size_t ScriptedMessageBoxes::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_.size();
}

RecordedSystemCalls::RecordedSystemCalls(BOOL restartResult) {
    seams::SetRestartHandler([this, restartResult](UINT flags, DWORD reason) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++restarts_;
        flags_ = flags;
        reason_ = reason;
        return restartResult;
    });
    seams::SetOpenPageHandler([this](HWND, const std::wstring& url) {
        std::lock_guard<std::mutex> lock(mutex_);
        pages_.push_back(url);
        return true;
    });
}

RecordedSystemCalls::~RecordedSystemCalls() {
    seams::SetRestartHandler(nullptr);
    seams::SetOpenPageHandler(nullptr);
}

int RecordedSystemCalls::RestartCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return restarts_;
}
UINT RecordedSystemCalls::LastRestartFlags() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return flags_;
}
DWORD RecordedSystemCalls::LastRestartReason() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reason_;
}
std::vector<std::wstring> RecordedSystemCalls::OpenedPages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pages_;
}

ScopedRegKey::ScopedRegKey(HKEY root, const std::wstring& path, REGSAM view)
    : root_(root), path_(path), view_(view) {
    ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key_.put(), nullptr);
}

ScopedRegKey::~ScopedRegKey() {
    key_.reset();
    DeleteRegTreeForTest(root_, path_, view_);
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
    orlyn::UniqueHkey key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

void DeleteRegTreeForTest(HKEY root, const std::wstring& path, REGSAM view) {
    orlyn::UniqueHkey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, key.put()) != ERROR_SUCCESS) return;
    for (;;) {
        wchar_t name[256];
        DWORD len = 256;
        if (::RegEnumKeyExW(key.get(), 0, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        DeleteRegTreeForTest(root, path + L"\\" + name, view);
        // A child that could not be removed would loop forever: stop if it is still there.
        orlyn::UniqueHkey still;
        if (::RegOpenKeyExW(key.get(), name, 0, KEY_READ | view, still.put()) == ERROR_SUCCESS) break;
    }
    key.reset();
    using DeleteKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
    auto deleteEx = reinterpret_cast<DeleteKeyExFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
    if (deleteEx) deleteEx(root, path.c_str(), view, 0);
    else ::RegDeleteKeyW(root, path.c_str());
}

void SetRegStringForTest(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text) {
    orlyn::UniqueHkey key;
    ASSERT_EQ(orlyn::CreateRegKey(root, path.c_str(), KEY_ALL_ACCESS, orlyn::RegView::Default, key),
              ERROR_SUCCESS);
    ASSERT_EQ(orlyn::SetRegString(key.get(), name, text.c_str()), ERROR_SUCCESS);
}

namespace {
const wchar_t kMakerKeyPath[] = L"SOFTWARE\\Orlyn";
}

MakerKeyScope::MakerKeyScope() : existed_(KeyExists(HKEY_LOCAL_MACHINE, kMakerKeyPath)) {}

MakerKeyScope::~MakerKeyScope() {
    if (!existed_) DeleteRegTreeForTest(HKEY_LOCAL_MACHINE, kMakerKeyPath);
}

void SetKeyAclForTest(HKEY root, const std::wstring& path, const wchar_t* sddl, REGSAM view) {
    orlyn::UniqueHkey key;
    ASSERT_EQ(::RegOpenKeyExW(root, path.c_str(), 0, WRITE_DAC | view, key.put()), ERROR_SUCCESS);
    orlyn::UniqueLocal sd;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        sddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(sd.put()), nullptr));
    ASSERT_EQ(::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, sd.get()), ERROR_SUCCESS);
}

bool RunningUnderWine() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace testing_support
