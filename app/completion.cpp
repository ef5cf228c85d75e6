// How a run ends: the final state (hosts check, success prompt) and the failure state (retry).
#include "app/orlyn_repair_dlg.h"

#include "app/hosts_check.h"
#include "app/repair_texts.h"
#include "build_settings.h"
#include "common/string_format.h"
#include "framework/seams.h"
#include "framework/unattended.h"

std::wstring COrlynRepairDlg::CheckHostsFile() {
    std::wstring path = windowsFolder;
    path += repair_text::kHostsSubpath;
    std::wstring text;
    if (!hosts_check::ReadHostsText(path.c_str(), text)) return std::wstring();

    std::wstring findings;
    auto lines = hosts_check::FindRedirectedLines(hosts_check::SplitReads(text), hosts_check::MakerDomainSuffixes(),
                                                   orlyn::EndsWithNoCase);
    for (const auto& line : lines) {
        WriteLog(repair_text::kHostsModifiedLog);
        WriteLog(L"%s\r\n", line.c_str());
        findings += line;
        findings += L"\r\n";
    }
    return findings;
}

void COrlynRepairDlg::EnterFinalState() {
    HWND hwnd = dialogWindow_;
    std::wstring findings = CheckHostsFile();
    if (!findings.empty()) {
        std::wstring warning = orlyn::FormatString(repair_text::kHostsWarning, findings.c_str());
        unattended::AskPerson(Prompt::HostsWarning, hwnd, warning.c_str(), repair_text::kProgramTitle,
                              MB_OK | MB_ICONWARNING);
    }
    ::ShowWindow(hwnd, SW_RESTORE);
    ::SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    if (unattended::AskPerson(Prompt::RepairSucceeded, hwnd, repair_text::kRepairSucceeded,
                              repair_text::kProgramTitle, MB_YESNO | MB_ICONQUESTION) == IDYES)
        OpenWebPage(hwnd, ORLYN_HOME_PAGE);
    ::SendMessageW(hwnd, WM_CLOSE, 0, 0);
}

namespace {

const wchar_t* FailurePhrase(int previousState) {
    switch (previousState) {
    case COrlynRepairDlg::kStateCheck:
        return repair_text::kFailureWhileChecking;
    case COrlynRepairDlg::kStateRemoval:
        return repair_text::kFailureWhileRemoving;
    case COrlynRepairDlg::kStateInstall:
        return repair_text::kFailureWhileInstalling;
    default:
        return repair_text::kFailureUnknown;
    }
}

}  // namespace

void COrlynRepairDlg::EnterFailureState() {
    HWND hwnd = dialogWindow_;
    std::wstring text = orlyn::FormatString(repair_text::kFailurePrompt, FailurePhrase(previousState_));
    int answer = unattended::AskPerson(Prompt::PhaseFailed, hwnd, text.c_str(), repair_text::kProgramTitle,
                                       MB_OKCANCEL | MB_ICONEXCLAMATION);
    // The chain runs until the person has answered: a start asked for while the prompt is up is refused.
    chainRunning_ = false;
    if (answer == IDOK && !closing_) {
        RunState(kStateReset);
        StartSequenceTimers();
        return;
    }
    ::SendMessageW(hwnd, WM_CLOSE, 0, 0);
}
