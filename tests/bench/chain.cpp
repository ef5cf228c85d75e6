// How long a whole chain takes when every phase returns at once: the real dialog (native page) from
// the sequence's start to the success prompt, against the sum of the fixed reporting delays.
#include <windows.h>

#include <cstdio>

#include "app/orlyn_repair_dlg.h"
#include "app/repair_texts.h"
#include "common/unique_handle.h"
#include "support/test_support.h"

namespace {

// 101, 102 + 103, 104, 105 + 107, 108 + 109.
constexpr double kFixedDelaysMs = 100 + (100 + 200) + 100 + (100 + 200) + (100 + 200);

class InstantPhasesDlg : public COrlynRepairDlg {
public:
    LARGE_INTEGER initStart{}, sequenceStart{}, closeStart{}, closeEnd{};

protected:
    BOOL OnInitDialog() override {
        ::QueryPerformanceCounter(&initStart);
        BOOL result = COrlynRepairDlg::OnInitDialog();
        ::QueryPerformanceCounter(&sequenceStart);  // StartSequenceTimers ran last
        return result;
    }
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        bool first = message == WM_CLOSE && closeStart.QuadPart == 0;
        if (first) ::QueryPerformanceCounter(&closeStart);
        bool handled = COrlynRepairDlg::OnMessage(message, wParam, lParam, result);
        if (first) ::QueryPerformanceCounter(&closeEnd);
        return handled;
    }
    bool RunPhase(int state) override {
        if (state == kStateRestart) return true;
        BeginPhaseItems(1);
        AddPhaseItemDone();
        return true;
    }
};

double Ms(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? atoi(argv[1]) : 5;
    orlyn::ComInit com;
    CDHtmlDialog::SetPageMode(PageMode::Native);
    testing_support::RecordedSystemCalls calls;
    std::printf("run  dialog-total-ms  create-ms  init-ms  chain-ms  fixed-delays-ms  overhead-ms  close-ms  on-close-ms\n");
    double sum = 0;
    for (int run = 1; run <= runs; ++run) {
        LARGE_INTEGER promptAt{};
        seams::SetMessageBoxHandler([&](const seams::MessageBoxCall&) {
            ::QueryPerformanceCounter(&promptAt);
            return IDNO;
        });
        seams::SetMessageBoxHoldTime(0);  // the prompt ends the measured chain; holding it would only add a constant
        InstantPhasesDlg dialog;
        LARGE_INTEGER before, after;
        ::QueryPerformanceCounter(&before);
        dialog.DoModal();
        ::QueryPerformanceCounter(&after);
        seams::SetMessageBoxHandler(nullptr);
        if (dialog.sequenceState != COrlynRepairDlg::kStateFinal) {
            std::printf("run %d did not reach the final state (state %d)\n", run, dialog.sequenceState);
            return 1;
        }
        double chain = Ms(dialog.sequenceStart, promptAt);
        sum += chain;
        std::printf("%3d  %15.1f  %9.1f  %7.1f  %8.1f  %15.0f  %11.1f  %8.1f  %11.1f\n", run, Ms(before, after),
                    Ms(before, dialog.initStart), Ms(dialog.initStart, dialog.sequenceStart), chain, kFixedDelaysMs,
                    chain - kFixedDelaysMs, Ms(dialog.closeStart, after),
                    Ms(dialog.closeStart, dialog.closeEnd));
    }
    std::printf("mean chain %.1f ms for %.0f ms of fixed delays\n", sum / runs, kFixedDelaysMs);
    return 0;
}
