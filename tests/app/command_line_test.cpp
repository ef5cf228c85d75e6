// The command line of unattended runs.
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/run_setup.h"
#include "common/string_format.h"

namespace {

struct ParseCase {
    const char* name;
    std::vector<std::wstring> arguments;
    RunMode mode;
    bool forceRestart;
    bool resumeStart;
    std::wstring logCopyPath;
    bool usage;
    std::wstring invalidArgument;  // empty: valid
};

}  // namespace

TEST(CommandLine, ParsesSwitchesOfEitherMarkInAnyCaseAndOrder) {
    const RunMode I = RunMode::Interactive, P = RunMode::Passive, Q = RunMode::Quiet;
    const ParseCase cases[] = {
        {"nothing", {}, I, false, false, L"", false, L""},
        {"resume only", {L"--start"}, I, false, true, L"", false, L""},
        {"quiet", {L"/quiet"}, Q, false, false, L"", false, L""},
        {"dash mark", {L"-quiet"}, Q, false, false, L"", false, L""},
        {"case", {L"/QuIeT", L"-NoRestart"}, Q, false, false, L"", false, L""},
        {"passive", {L"-Passive"}, P, false, false, L"", false, L""},
        {"force restart first", {L"/forcerestart", L"/passive"}, P, true, false, L"", false, L""},
        {"start among switches", {L"/quiet", L"--start", L"/forcerestart"}, Q, true, true, L"", false, L""},
        {"start first", {L"--start", L"-quiet"}, Q, false, true, L"", false, L""},
        {"log path with blanks", {L"/log", L"C:\\my logs\\pc 1.log", L"/quiet"}, Q, false, false,
         L"C:\\my logs\\pc 1.log", false, L""},
        {"log between switches", {L"-QUIET", L"-LOG", L"\\\\srv\\logs\\pc1.log", L"--start"}, Q, false, true,
         L"\\\\srv\\logs\\pc1.log", false, L""},
        {"same switch twice", {L"/quiet", L"-QUIET"}, Q, false, false, L"", false, L""},
        {"help", {L"/?"}, I, false, false, L"", true, L""},
        {"help word", {L"-HELP", L"/quiet"}, Q, false, false, L"", true, L""},
        // Pieces of an unquoted path with blanks (an entry written by an older build) are no switches.
        {"pieces of a path", {L"Files\\Orlyn\\OrlynRepair.exe", L"--start"}, I, false, true, L"", false, L""},
        {"unknown switch", {L"/quiet", L"/silent"}, Q, false, false, L"", false, L"/silent"},
        {"start in another case", {L"--START"}, I, false, false, L"", false, L"--START"},
        {"a mark without a name is no switch", {L"/"}, I, false, false, L"", false, L""},
        {"log without a path", {L"/quiet", L"/log"}, Q, false, false, L"", false, L"/log"},
        {"log followed by a switch", {L"/log", L"/quiet"}, Q, false, false, L"", false, L"/log"},
        {"log followed by --start", {L"/log", L"--start"}, I, false, true, L"", false, L"/log"},
        {"log with an empty path", {L"/log", L""}, I, false, false, L"", false, L"/log"},
        // Quiet wins over passive, whichever comes first; and even beside an error, so that no usage box
        // is shown to a PC where nobody is.
        {"quiet then passive", {L"/quiet", L"/passive"}, Q, false, false, L"", false, L""},
        {"passive then quiet", {L"-PASSIVE", L"/quiet", L"-passive"}, Q, false, false, L"", false, L""},
        {"passive, quiet and an error", {L"/passive", L"/bogus", L"/quiet"}, Q, false, false, L"", false, L"/bogus"},
        {"two restart choices", {L"/norestart", L"/forcerestart"}, I, true, false, L"", false, L"/forcerestart"},
        {"two log paths", {L"/log", L"a.log", L"/log", L"b.log"}, I, false, false, L"b.log", false, L"/log"},
        {"first of two unknown", {L"/x", L"/y"}, I, false, false, L"", false, L"/x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CommandLineOptions options = ParseCommandLine(c.arguments);
        EXPECT_EQ(options.invalidArgument, c.invalidArgument);
        EXPECT_EQ(options.IsValid(), c.invalidArgument.empty());
        EXPECT_EQ(options.mode, c.mode);
        EXPECT_EQ(options.forceRestart, c.forceRestart);
        EXPECT_EQ(options.resumeStart, c.resumeStart);
        EXPECT_EQ(options.logCopyPath, c.logCopyPath);
        EXPECT_EQ(options.usage, c.usage);
    }
}

// A switch copied from a word processor, a mail or a web page often begins with a character that only
// looks like "-" or "/": such a word is an unknown switch, never a path piece passed over.
TEST(CommandLine, WordBeginningWithADashOrSlashLookAlikeIsAnUnknownSwitch) {
    struct Case {
        const char* name;
        std::wstring word;
    } cases[] = {
        {"en dash", L"\u2013quiet"},
        {"em dash", L"\u2014passive"},
        {"hyphen", L"\u2010quiet"},
        {"non-breaking hyphen", L"\u2011quiet"},
        {"figure dash", L"\u2012quiet"},
        {"horizontal bar", L"\u2015quiet"},
        {"minus sign", L"\u2212quiet"},
        {"small em dash", L"\uFE58quiet"},
        {"small hyphen-minus", L"\uFE63quiet"},
        {"fullwidth hyphen-minus", L"\uFF0Dquiet"},
        {"fullwidth solidus", L"\uFF0Fquiet"},
        {"fraction slash", L"\u2044quiet"},
        {"division slash", L"\u2215quiet"},
        {"big solidus", L"\u29F8quiet"},
        {"soft hyphen", L"\u00ADquiet"},
        {"hyphen bullet", L"\u2043quiet"},
        {"en dash alone", L"\u2013"},
        {"the resume argument with en dashes", L"\u2013\u2013start"},
        {"a dash look-alike before a real dash", L"\u2013-quiet"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CommandLineOptions options = ParseCommandLine({L"/norestart", c.word, L"/log", L"C:\\a.log"});
        EXPECT_EQ(options.invalidArgument, c.word);
        EXPECT_EQ(options.mode, RunMode::Interactive);
        // Through the system's own splitting, as the program reads its command line.
        CommandLineOptions split = ParseCommandLine(run_setup::SplitArguments((L"/passive " + c.word).c_str()));
        EXPECT_EQ(split.invalidArgument, c.word);
    }
    // Look-alikes inside a word are a path's business, and plain marks stay switches.
    const std::vector<std::wstring> fine[] = {
        {L"C:\\logs\\pc\u20131.log"},
        {L"/log", L"C:\\logs\\\u2013a.log"},
        {L"pc\u2014name", L"-quiet"},
    };
    for (const auto& arguments : fine) {
        SCOPED_TRACE(orlyn::ToUtf8(arguments[0]));
        EXPECT_TRUE(ParseCommandLine(arguments).IsValid());
    }
}

TEST(CommandLine, ResumeSwitchesRepeatTheModeRestartChoiceAndLogAndParseBack) {
    struct Case {
        std::vector<std::wstring> arguments;
        std::wstring switches;
    } cases[] = {
        {{}, L""},
        {{L"--start"}, L""},
        {{L"/QUIET"}, L" /quiet /norestart"},
        {{L"-passive", L"-forcerestart"}, L" /passive /forcerestart"},
        {{L"/log", L"C:\\my logs\\a.log", L"/quiet"}, L" /quiet /norestart /log \"C:\\my logs\\a.log\""},
        {{L"/log", L"C:\\a.log"}, L" /log \"C:\\a.log\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.switches));
        CommandLineOptions options = ParseCommandLine(c.arguments);
        ASSERT_TRUE(options.IsValid());
        std::wstring switches = ResumeSwitches(options);
        EXPECT_EQ(switches, c.switches);
        // What the resumed run reads from its entry means the same run.
        CommandLineOptions again =
            ParseCommandLine(run_setup::SplitArguments((L"--start" + switches).c_str()));
        ASSERT_TRUE(again.IsValid());
        EXPECT_TRUE(again.resumeStart);
        EXPECT_EQ(again.mode, options.mode);
        EXPECT_EQ(again.forceRestart, options.forceRestart);
        EXPECT_EQ(again.logCopyPath, options.logCopyPath);
    }
}
