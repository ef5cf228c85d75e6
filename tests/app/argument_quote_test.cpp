#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include "app/argument_quote.h"
#include "app/command_line.h"
#include "common/string_format.h"
#include "support/test_support.h"

using testing_support::FixturePath;

namespace {

// Arguments that the system's splitting treats specially: backslashes before a quote or at the end,
// quotes, blanks, tabs, and text that looks like a switch.
const std::wstring kArguments[] = {
    L"C:\\logs\\pc1.log",
    L"C:\\logs\\",
    L"C:\\my logs\\",
    L"\\\\server\\share\\",
    L"C:\\a\\\\b\\\\\\",
    L"a\"b",
    L"a\\\"b",
    L"a\\\\\"b",
    L"\"",
    L"\\",
    L"\"quoted\"",
    L"tab\there",
    L"  leading and trailing  ",
    L"C:\\로그\\복구 로그.log",
    L"/quiet",
    L"",
};

// The arguments after the program name, as CommandLineToArgvW splits the command line.
std::vector<std::wstring> SplitBySystem(const std::wstring& commandLine) {
    std::vector<std::wstring> arguments;
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(commandLine.c_str(), &count);
    if (!words) return arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(words[i]);
    ::LocalFree(words);
    return arguments;
}

// The arguments as the C run-time of a started program split them for its wmain.
std::vector<std::wstring> SplitByRunTime(const std::wstring& arguments) {
    testing_support::TempDir dir(L"args");
    std::wstring output = dir / L"args.bin";
    testing_support::ChildProcess child;
    std::vector<std::wstring> split;
    if (!child.Start(FixturePath(L"write_args.exe"), L"\"" + output + L"\" " + arguments) ||
        !child.WaitForExit(30000) || child.ExitCode() != 0) {
        ADD_FAILURE() << "write_args.exe did not run";
        return split;
    }
    std::string bytes = testing_support::ReadFileBytes(output);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(L'\0', start);
        split.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return split;
}

}  // namespace

TEST(QuoteArgument, EscapesOnlyBackslashesThatMeetAQuote) {
    struct Case {
        const wchar_t* argument;
        const wchar_t* quoted;
    } cases[] = {
        {L"C:\\logs\\pc1.log", L"\"C:\\logs\\pc1.log\""},
        {L"C:\\logs\\", L"\"C:\\logs\\\\\""},
        {L"\\\\server\\share", L"\"\\\\server\\share\""},
        {L"a\"b", L"\"a\\\"b\""},
        {L"a\\\"b", L"\"a\\\\\\\"b\""},
        {L"", L"\"\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.argument));
        EXPECT_EQ(QuoteArgument(c.argument), c.quoted);
    }
}

TEST(QuoteArgument, ComesBackWholeFromTheSystemsAndTheRunTimesSplitting) {
    std::wstring all;
    std::vector<std::wstring> expected;
    for (const std::wstring& argument : kArguments) {
        SCOPED_TRACE(orlyn::ToUtf8(argument));
        std::wstring quoted = QuoteArgument(argument);
        EXPECT_EQ(SplitBySystem(L"x.exe " + quoted), std::vector<std::wstring>{argument});
        // Followed by another argument: a quote that was not closed would swallow it.
        EXPECT_EQ(SplitBySystem(L"x.exe " + quoted + L" --start"), (std::vector<std::wstring>{argument, L"--start"}));
        all += quoted + L" ";
        expected.push_back(argument);
    }
    // One started program for the whole table.
    EXPECT_EQ(SplitByRunTime(all), expected);
}

TEST(QuoteArgument, ResumeCommandGivesBackALogPathEndingInABackslashOrHoldingAQuote) {
    for (const wchar_t* path : {L"C:\\logs\\", L"\\\\server\\logs$\\", L"C:\\odd\"name.log"}) {
        SCOPED_TRACE(orlyn::ToUtf8(path));
        CommandLineOptions options = ParseCommandLine({L"/quiet", L"/log", path});
        ASSERT_TRUE(options.IsValid());
        std::wstring command = L"\"C:\\ProgramData\\OrlynRepair\\OrlynRepair.exe\" --start" + ResumeSwitches(options);
        std::vector<std::wstring> expected = {L"--start", L"/quiet", L"/norestart", L"/log", path};
        EXPECT_EQ(SplitBySystem(command), expected);
        EXPECT_EQ(SplitByRunTime(L"--start" + ResumeSwitches(options)), expected);
        CommandLineOptions again = ParseCommandLine(SplitBySystem(command));
        EXPECT_EQ(again.logCopyPath, path);
    }
}
