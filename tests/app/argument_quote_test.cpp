#include <gtest/gtest.h>

#include "app/argument_quote.h"
#include "app/command_line.h"
#include "app/run_setup.h"
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
        // CommandLineToArgvW's splitting, alone and followed by another argument (which a quote that was
        // not closed would swallow).
        EXPECT_EQ(run_setup::SplitArguments(quoted.c_str()), std::vector<std::wstring>{argument});
        EXPECT_EQ(run_setup::SplitArguments((quoted + L" --start").c_str()),
                  (std::vector<std::wstring>{argument, L"--start"}));
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
        std::wstring arguments = L"--start" + ResumeSwitches(options);
        std::vector<std::wstring> expected = {L"--start", L"/quiet", L"/norestart", L"/log", path};
        EXPECT_EQ(run_setup::SplitArguments(arguments.c_str()), expected);
        EXPECT_EQ(SplitByRunTime(arguments), expected);
        CommandLineOptions again = ParseCommandLine(run_setup::SplitArguments(arguments.c_str()));
        EXPECT_EQ(again.logCopyPath, path);
    }
}
