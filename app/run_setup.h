// Start-up from the command line: the switches of unattended runs, the usage box, and the settings
// that the run's prompts are answered by (framework/unattended.h).
#pragma once

#include <string>
#include <vector>

namespace run_setup {

// The arguments of a command line that holds no program name (as wWinMain gets it), split as the
// system splits a program's command line.
std::vector<std::wstring> SplitArguments(const wchar_t* commandLine);

// Parses the command line. With /? or an unknown switch: shows the usage box when a person can see
// it and the run is not quiet, sets exitCode (0 or 87) and returns false: nothing else is to be done.
// Otherwise sets the run's settings (the /log path made absolute; /forcerestart only for a run that
// was not itself resumed after a restart) and returns true.
bool ApplyCommandLine(const wchar_t* commandLine, int& exitCode);

}  // namespace run_setup
