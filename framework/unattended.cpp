#include "framework/unattended.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "common/string_format.h"
#include "framework/seams.h"

namespace unattended {
namespace {

std::mutex gMutex;
Settings gSettings;
std::function<void(const wchar_t*)> gAnswerLog;
std::vector<std::wstring> gWaitingLines;
std::atomic<bool> gRestartStarted{false};

// What of the box's text the answered line carries.
enum class Detail { None, WholeText, FirstLine, FirstParagraph };

struct Answer {
    int button;
    const wchar_t* line;  // a format with one %s when detail is not None
    Detail detail;
};

Answer AnswerFor(Prompt prompt, bool forceRestart) {
    switch (prompt) {
    case Prompt::StartConfirmation:
        return {IDOK, L"OK\t무인 복구 : 시작 확인에 사용자 대신 '확인'으로 응답하였습니다.\n", Detail::None};
    case Prompt::InitialisationError:
        return {IDOK, L"Error\t무인 복구 : 초기화 에러를 표시하지 않고 종료합니다. (%s)\n", Detail::WholeText};
    case Prompt::FileHolderNotice:
        return {IDOK, L"OK\t무인 복구 : 종료 알림을 표시하지 않고 프로그램을 종료합니다. (%s)\n", Detail::FirstParagraph};
    case Prompt::ReachabilityWarning:
        return {IDOK, L"OK\t무인 복구 : 서버 접속 경고를 표시하지 않았습니다.\n", Detail::None};
    case Prompt::RegistrationFailure:
        return {IDOK, L"Error\t무인 복구 : 등록 실패 메시지를 표시하지 않았습니다. (%s)\n", Detail::WholeText};
    case Prompt::RestartOffer:
        if (forceRestart)
            return {IDYES, L"OK\t무인 복구 : 재시작 안내에 사용자 대신 '예'로 응답하였습니다. 컴퓨터를 재시작합니다.\n",
                    Detail::None};
        return {IDYES,
                L"OK\t무인 복구 : 재시작 안내를 표시하지 않았습니다. 지금 재시작하지 않으며, 다음 재시작 후 "
                L"복구를 이어서 진행합니다.\n",
                Detail::None};
    case Prompt::HostsWarning:
        return {IDOK, L"OK\t무인 복구 : hosts 파일 경고를 표시하지 않았습니다.\n", Detail::None};
    case Prompt::RepairSucceeded:
        return {IDNO, L"OK\t무인 복구 : 복구 성공 메시지에 사용자 대신 '아니요'로 응답하였습니다. 홈페이지를 열지 않습니다.\n",
                Detail::None};
    case Prompt::PhaseFailed:
        return {IDCANCEL,
                L"Error\t무인 복구 : 실패 메시지에 사용자 대신 '취소'로 응답하였습니다. 다시 시도하지 않습니다. (%s)\n",
                Detail::FirstLine};
    }
    return {IDOK, L"OK\t무인 복구 : 메시지를 표시하지 않았습니다.\n", Detail::None};
}

void WriteAnswerLine(const std::wstring& line) {
    std::function<void(const wchar_t*)> writer;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (!gAnswerLog) {
            gWaitingLines.push_back(line);
            return;
        }
        writer = gAnswerLog;
    }
    writer(line.c_str());
}

}  // namespace

void Configure(const Settings& settings) {
    std::lock_guard<std::mutex> lock(gMutex);
    gSettings = settings;
    gWaitingLines.clear();
    gRestartStarted = false;
}

void Reset() {
    Configure(Settings());
    SetAnswerLog(nullptr);
}

const Settings& Current() { return gSettings; }
bool IsUnattended() { return gSettings.mode != RunMode::Interactive; }
bool ShowsWindows() { return gSettings.mode != RunMode::Quiet; }

int AskPerson(Prompt prompt, HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags) {
    if (!IsUnattended()) return ShowMessageBox(owner, text, caption, flags);
    Answer answer = AnswerFor(prompt, gSettings.forceRestart);
    if (answer.detail == Detail::None) {
        WriteAnswerLine(answer.line);
        return answer.button;
    }
    std::wstring shown = text ? text : L"";
    size_t start = shown.find_first_not_of(L"\r\n");
    shown.erase(0, start == std::wstring::npos ? shown.size() : start);
    if (answer.detail == Detail::FirstLine) shown = shown.substr(0, shown.find_first_of(L"\r\n"));
    if (answer.detail == Detail::FirstParagraph) shown = shown.substr(0, shown.find(L"\r\n\r\n"));
    WriteAnswerLine(orlyn::FormatString(answer.line, FoldLines(shown.c_str()).c_str()));
    return answer.button;
}

void SetAnswerLog(std::function<void(const wchar_t* line)> writer) {
    std::vector<std::wstring> waiting;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        gAnswerLog = writer;
        if (writer) waiting.swap(gWaitingLines);
    }
    for (const std::wstring& line : waiting) writer(line.c_str());
}

bool RequestsRestartItself() { return !IsUnattended() || gSettings.forceRestart; }
void NoteRestartStarted() { gRestartStarted = true; }
bool RestartStarted() { return gRestartStarted; }

std::wstring FoldLines(const wchar_t* text) {
    std::wstring folded;
    bool pendingBlank = false;
    for (const wchar_t* p = text ? text : L""; *p; ++p) {
        if (*p == L'\r' || *p == L'\n') {
            pendingBlank = !folded.empty();
            continue;
        }
        if (pendingBlank && folded.back() != L' ') folded += L' ';
        pendingBlank = false;
        folded += *p;
    }
    while (!folded.empty() && folded.back() == L' ') folded.pop_back();
    return folded;
}

}  // namespace unattended
