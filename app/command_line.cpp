#include "app/command_line.h"

#include "app/argument_quote.h"

namespace {

bool IsSwitch(const std::wstring& argument) {
    return argument.size() > 1 && (argument[0] == L'/' || argument[0] == L'-');
}

std::wstring LowerAscii(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return text;
}

}  // namespace

CommandLineOptions ParseCommandLine(const std::vector<std::wstring>& arguments) {
    CommandLineOptions options;
    bool modeGiven = false;
    bool restartGiven = false;
    bool logGiven = false;
    auto reject = [&options](const std::wstring& argument) {
        if (options.invalidArgument.empty()) options.invalidArgument = argument.empty() ? L"\"\"" : argument;
    };
    // The same switch twice is harmless; two different answers to one question are an error.
    auto chooseMode = [&](RunMode mode, const std::wstring& argument) {
        if (modeGiven && options.mode != mode) reject(argument);
        modeGiven = true;
        options.mode = mode;
    };
    auto chooseRestart = [&](bool force, const std::wstring& argument) {
        if (restartGiven && options.forceRestart != force) reject(argument);
        restartGiven = true;
        options.forceRestart = force;
    };

    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        if (argument == L"--start") {
            options.resumeStart = true;
            continue;
        }
        if (!IsSwitch(argument)) continue;
        std::wstring name = LowerAscii(argument.substr(1));
        if (name == L"quiet") {
            chooseMode(RunMode::Quiet, argument);
        } else if (name == L"passive") {
            chooseMode(RunMode::Passive, argument);
        } else if (name == L"norestart") {
            chooseRestart(false, argument);
        } else if (name == L"forcerestart") {
            chooseRestart(true, argument);
        } else if (name == L"?" || name == L"help") {
            options.usage = true;
        } else if (name == L"log") {
            // The path is the next argument; a switch there means the path was left out.
            if (i + 1 >= arguments.size() || arguments[i + 1].empty() || IsSwitch(arguments[i + 1]) ||
                arguments[i + 1] == L"--start") {
                reject(argument);
                continue;
            }
            const std::wstring& path = arguments[++i];
            if (logGiven && options.logCopyPath != path) reject(argument);
            logGiven = true;
            options.logCopyPath = path;
        } else {
            reject(argument);
        }
    }
    return options;
}

std::wstring ResumeSwitches(const CommandLineOptions& options) {
    std::wstring switches;
    if (options.mode != RunMode::Interactive) {
        switches += options.mode == RunMode::Quiet ? L" /quiet" : L" /passive";
        switches += options.forceRestart ? L" /forcerestart" : L" /norestart";
    }
    if (!options.logCopyPath.empty()) {
        switches += L" /log ";
        switches += QuoteArgument(options.logCopyPath);
    }
    return switches;
}
