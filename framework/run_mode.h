// How a run meets the person at the screen, chosen on the command line.
#pragma once

enum class RunMode {
    Interactive,  // every prompt is asked
    Passive,      // the dialog and its progress bar are shown; no prompt is asked
    Quiet,        // no window and no message box at all
};
