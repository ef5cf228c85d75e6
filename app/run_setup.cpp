#include "app/run_setup.h"

#include <windows.h>
#include <shellapi.h>

#include "app/command_line.h"
#include "app/repair_texts.h"
#include "app/run_result.h"
#include "app/usage_text.h"
#include "common/string_format.h"
#include "framework/seams.h"
#include "framework/unattended.h"

namespace run_setup {

std::vector<std::wstring> SplitArguments(const wchar_t* commandLine) {
    std::vector<std::wstring> arguments;
    if (!commandLine || !*commandLine) return arguments;
    // CommandLineToArgvW reads its first word by the rules of a program name: give it one.
    std::wstring whole = L"x ";
    whole += commandLine;
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(whole.c_str(), &count);
    if (!words) return arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(words[i]);
    ::LocalFree(words);
    return arguments;
}

namespace {

// Whether a person can see this process's windows (its window station is the visible one; a service
// or a deployment agent's session is not).
bool IsInteractiveSession() {
    USEROBJECTFLAGS flags = {};
    HWINSTA station = ::GetProcessWindowStation();
    if (!station || !::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), nullptr)) return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH];
    DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) return path;
    return full;
}

}  // namespace

bool ApplyCommandLine(const wchar_t* commandLine, int& exitCode) {
    CommandLineOptions options = ParseCommandLine(SplitArguments(commandLine));
    if (!options.IsValid() || options.usage) {
        exitCode = options.IsValid() ? run_result::kSuccess : run_result::kInvalidParameter;
        if (options.mode != RunMode::Quiet && IsInteractiveSession()) {
            std::wstring text;
            if (!options.IsValid())
                text = orlyn::FormatString(usage_text::kUnknownSwitch, options.invalidArgument.c_str());
            text += usage_text::kUsage;
            ShowMessageBox(nullptr, text.c_str(), repair_text::kProgramTitle,
                           MB_OK | (options.IsValid() ? MB_ICONINFORMATION : MB_ICONERROR));
        }
        return false;
    }
    // The resumed run starts elsewhere (RunOnce): a relative path would mean another file then.
    if (!options.logCopyPath.empty()) options.logCopyPath = FullPath(options.logCopyPath);
    unattended::Settings settings;
    settings.mode = options.mode;
    // A resumed run whose removal fails again does not restart the PC once more: with a lasting fault
    // /forcerestart would otherwise restart it without end. It leaves the entry for the next restart.
    settings.forceRestart = options.forceRestart && !options.resumeStart;
    settings.logCopyPath = options.logCopyPath;
    settings.resumeSwitches = ResumeSwitches(options);
    unattended::Configure(settings);
    return true;
}

}  // namespace run_setup
