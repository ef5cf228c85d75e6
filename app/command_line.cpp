#include "app/command_line.h"

#include "app/argument_quote.h"

namespace {

bool IsSwitch(const std::wstring& argument) {
    return argument.size() > 1 && (argument[0] == L'/' || argument[0] == L'-');
}

// Characters that look like "-" or "/" and that word processors, mail and web pages put in their
// place: a switch copied from there must not be passed over as a path piece (the run would then wait
// for a person on a PC where nobody is).
bool IsLookAlikeMark(wchar_t c) {
    switch (c) {
    case 0x00AD:  // soft hyphen
    case 0x2010:  // hyphen
    case 0x2011:  // non-breaking hyphen
    case 0x2012:  // figure dash
    case 0x2013:  // en dash
    case 0x2014:  // em dash
    case 0x2015:  // horizontal bar
    case 0x2043:  // hyphen bullet
    case 0x2044:  // fraction slash
    case 0x2212:  // minus sign
    case 0x2215:  // division slash
    case 0x29F8:  // big solidus
    case 0xFE58:  // small em dash
    case 0xFE63:  // small hyphen-minus
    case 0xFF0D:  // fullwidth hyphen-minus
    case 0xFF0F:  // fullwidth solidus
        return true;
    default:
        return false;
    }
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
    bool restartGiven = false;
    bool logGiven = false;
    auto reject = [&options](const std::wstring& argument) {
        if (options.invalidArgument.empty()) options.invalidArgument = argument.empty() ? L"\"\"" : argument;
    };
    // The same switch twice is harmless; two different answers to one question are an error, except
    // that /quiet wins over /passive: whoever asked for either wants no prompt, and one asked for none.
    auto chooseMode = [&](RunMode mode) {
        if (options.mode != RunMode::Quiet) options.mode = mode;
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
        if (!argument.empty() && IsLookAlikeMark(argument[0])) {
            reject(argument);
            continue;
        }
        if (!IsSwitch(argument)) continue;
        std::wstring name = LowerAscii(argument.substr(1));
        if (name == L"quiet") {
            chooseMode(RunMode::Quiet);
        } else if (name == L"passive") {
            chooseMode(RunMode::Passive);
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
