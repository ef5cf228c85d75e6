// The program's command line: the resume argument "--start" and the switches of unattended runs.
// Pure: takes the arguments (without the program name) and returns what they ask for.
#pragma once

#include <string>
#include <vector>

#include "framework/run_mode.h"

struct CommandLineOptions {
    RunMode mode = RunMode::Interactive;
    bool forceRestart = false;  // /forcerestart; /norestart (the default) leaves the restart to others
    bool resumeStart = false;   // --start
    std::wstring logCopyPath;   // /log <path>; empty when not given
    bool usage = false;         // /? or /help
    // The first argument that was not understood (an unknown switch, a word that begins with a dash or
    // slash look-alike, /log without a path, two restart choices or two /log paths); empty when every
    // argument was understood.
    std::wstring invalidArgument;

    bool IsValid() const { return invalidArgument.empty(); }
};

// Switches are case-insensitive and begin with "/" or "-", in any order; /quiet wins over /passive.
// "--start" is taken as it is written (case-sensitive). Arguments that are no switch are passed over: an entry written without
// quotes around a path with blanks splits that path into such pieces.
CommandLineOptions ParseCommandLine(const std::vector<std::wstring>& arguments);

// The switches a run resumed after a restart needs to run the same way: "" for an interactive run
// without /log, else e.g. "/quiet /norestart /log \"C:\\logs\\pc1.log\"". Each begins with a blank.
std::wstring ResumeSwitches(const CommandLineOptions& options);
