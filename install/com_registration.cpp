#include "install/com_registration.h"

#include <ole2.h>
#include <shellapi.h>

#include "common/string_format.h"
#include "common/unique_handle.h"
#include "framework/unattended.h"

namespace {

const wchar_t kRegisterExport[] = L"DllRegisterServer";

// Restores the process error mode at the end of the scope.
class ErrorModeScope {
public:
    explicit ErrorModeScope(UINT mode) : previous_(::SetErrorMode(mode)) {}
    ~ErrorModeScope() { ::SetErrorMode(previous_); }
    ErrorModeScope(const ErrorModeScope&) = delete;
    ErrorModeScope& operator=(const ErrorModeScope&) = delete;

private:
    UINT previous_;
};

using OleScope = orlyn::InitScope<::OleInitialize, ::OleUninitialize>;

bool RegisterInProcess(const wchar_t* path, std::wstring& failure) {
    OleScope ole;
    if (!ole.ok()) {
        failure = L"OleInitialize Failed";
        return false;
    }
    // Declared after the OLE scope so the library is unloaded and the mode restored before OLE ends.
    ErrorModeScope errorMode(SEM_FAILCRITICALERRORS);
    // The library's own folder is searched first for the libraries it depends on.
    orlyn::UniqueLibrary library(::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!library) {
        failure = orlyn::FormatString(L"LoadLibraryEx Failed(%d)", static_cast<int>(::GetLastError()));
        return false;
    }
    using RegisterFn = HRESULT(STDAPICALLTYPE*)();
    auto registerServer =
        reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(::GetProcAddress(library.get(), "DllRegisterServer")));
    if (!registerServer) {
        failure = orlyn::FormatString(L"GetProcAddress Failed(%s,%d)", kRegisterExport,
                                      static_cast<int>(::GetLastError()));
        return false;
    }
    HRESULT hr = registerServer();
    if (FAILED(hr)) {
        DWORD error = ::GetLastError();
        failure = orlyn::FormatString(L"Call %s Failed(result = %X, scode = %X, error code = %d)", kRegisterExport,
                                      static_cast<unsigned>(hr), static_cast<unsigned>(hr), static_cast<int>(error));
        return false;
    }
    return true;
}

}  // namespace

bool RunElevatedRegistration(const wchar_t* program, const wchar_t* path) {
    std::wstring parameters = RegSvr32Parameters(path);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;
    info.lpVerb = L"runas";
    info.lpFile = program;
    info.lpParameters = parameters.c_str();
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info)) {
        DWORD error = ::GetLastError();
        if (error != ERROR_CANCELLED) {  // the user declined the elevation prompt: nothing more to say
            wchar_t text[256];
            orlyn::Format(text, 256, L"Execute RegSvr32(64bit) Failed! (error code=%d)\r\n", static_cast<int>(error));
            unattended::AskPerson(Prompt::RegistrationFailure, nullptr, text, L"ERROR!", MB_ICONERROR | MB_OK);
        }
        return false;
    }
    if (!info.hProcess) return true;  // started through a path that gives no process to wait for
    orlyn::UniqueHandle process(info.hProcess);
    DWORD exitCode = static_cast<DWORD>(-1);
    if (::WaitForSingleObject(process.get(), INFINITE) == WAIT_OBJECT_0) {
        if (!::GetExitCodeProcess(process.get(), &exitCode)) exitCode = static_cast<DWORD>(-1);
    }
    return exitCode == 0;
}

std::wstring RegSvr32Parameters(const wchar_t* path) { return orlyn::FormatString(L"%s \"%s\"", L"/s", path); }

bool RegisterComServer(const wchar_t* path, wchar_t* errorText, bool use64BitTool) {
    if (use64BitTool) {
        wchar_t systemFolder[MAX_PATH] = {};
        ::GetSystemDirectoryW(systemFolder, MAX_PATH);
        wchar_t program[1024];
        orlyn::Format(program, 1024, L"%s\\regsvr32.exe", systemFolder);
        return RunElevatedRegistration(program, path);
    }
    std::wstring failure;
    bool ok = RegisterInProcess(path, failure);
    if (!ok && errorText) orlyn::Format(errorText, kComErrorTextSize, L"%s", failure.c_str());
    return ok;
}
