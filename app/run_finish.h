// What every run does last, once its dialog has closed (or the start was declined).
#pragma once

namespace run_finish {

// A run started from the resume copy removes it (at the next restart when the running image cannot be
// deleted now), unless the RunOnce entry starts it again.
void FinishRun();

}  // namespace run_finish
