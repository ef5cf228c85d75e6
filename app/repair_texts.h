// The texts that the repair shell shows or writes. The user-facing ones are Korean, as shipped.
#pragma once

#include "common/program_title.h"

namespace repair_text {

// Window title and the caption of every message box.
using orlyn::kProgramTitle;

inline constexpr wchar_t kConfirmStart[] =
    L"지금 복구를 시작할까요?\r\n시작되면 웹 브라우저가 모두 종료됩니다.\r\n작업 중인 프로그램들을 저장 후 시작하세요.\r\n";

inline constexpr wchar_t kInitError1[] = L"초기화 에러 #1 : 삭제 목록을 얻어오는데 실패하였습니다.";
inline constexpr wchar_t kInitError2[] = L"초기화 에러 #2 : 설치 파일 목록 리스트 파일에 문제가 있습니다.\r\n\r\n%s";
inline constexpr wchar_t kInitError3[] = L"초기화 에러 #3 : 설치 파일 목록을 얻어오는데 실패하였습니다.\r\n\r\n%s";
inline constexpr wchar_t kInitError4[] = L"초기화 에러 #4 : 설치할 파일이 존재하지 않습니다.";

inline constexpr wchar_t kRestartPrompt[] =
    L"\r\n재설치 과정에 문제가 발생하였습니다.\r\n\r\n이 문제는 컴퓨터를 재시작하면 해결할 수 있습니다.\r\n\r\n"
    L"컴퓨터 재시작 후 본 프로그램이 자동으로 재설치를 진행합니다.\r\n\r\n"
    L"컴퓨터를 재시작하려면 '예'버튼을 클릭해주세요.\r\n\r\n* 주의 : 모든 프로그램이 종료되므로 필히 저장해 주세요.\r\n";

inline constexpr wchar_t kHostsModifiedLog[] = L"Error\thosts 파일에 수정사항이 있습니다.\n";
inline constexpr wchar_t kHostsWarning[] =
    L"hosts 파일에 임의로 수정된 내용이 발견되었습니다.\r\n\r\n오를린 홈페이지가 계속 비정상적으로 작동 시 \r\n"
    L"hosts 파일을 확인하시기 바랍니다.\r\n\r\n%s";
inline constexpr wchar_t kRepairSucceeded[] = L"복구에 성공했습니다!\r\n오를린 홈페이지로 이동할까요?";

inline constexpr wchar_t kFailureWhileChecking[] = L"기존 모듈을 확인하는 중에";
inline constexpr wchar_t kFailureWhileRemoving[] = L"기존 모듈을 삭제하는 중에";
inline constexpr wchar_t kFailureWhileInstalling[] = L"신규 모듈을 설치하는 중에";
inline constexpr wchar_t kFailureUnknown[] = L"알수 없는";
inline constexpr wchar_t kFailurePrompt[] =
    L"%s 에러가 발생하였습니다.\r\n다시 시도하시겠습니까?\r\n시작되면 웹 브라우저가 모두 종료됩니다.";

// Shown (interactive) when another copy of the program is repairing this PC; that copy is left alone.
inline constexpr wchar_t kOtherRunActive[] =
    L"이미 복구가 진행 중입니다.\r\n진행 중인 복구가 끝난 후 다시 시도해 주세요.";

// Lines of a run that cannot go on: each is followed by the error code's line.
inline constexpr wchar_t kWorkerNotStartedLog[] = L"Error\t작업 스레드를 시작하지 못했습니다. (단계 %d)\n";
inline constexpr wchar_t kTimerNotStartedLog[] = L"Error\t타이머를 시작하지 못했습니다. (타이머 %u)\n";
// How an unattended run ends that the program itself had to end (exit code 1603).
inline constexpr wchar_t kUnattendedCannotGoOnLog[] = L"Error\t무인 복구 : 복구를 계속할 수 없어 실패로 종료합니다.\n";
inline constexpr wchar_t kUnattendedRunBoundLog[] =
    L"Error\t무인 복구 : 제한 시간(%u초) 안에 복구가 끝나지 않아 실패로 종료합니다. (단계 %d)\n";
inline constexpr wchar_t kWorkerLeftRunningLog[] =
    L"Error\t무인 복구 : 진행 중인 작업이 끝나지 않아 기다리지 않고 종료합니다.\n";

// Registry and file names.
inline constexpr wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr wchar_t kRunOnceValue[] = L"OrlynComCleaner";
inline constexpr wchar_t kStartArgument[] = L"--start";
inline constexpr wchar_t kLogFileName[] = L"OrlynRepair.log";
inline constexpr wchar_t kLogFallbackPath[] = L"C:\\OrlynRepair.log";
inline constexpr wchar_t kLogArchiveSubpath[] = L"\\Orlyn\\Common\\OrlynRepair.log";
inline constexpr wchar_t kHostsSubpath[] = L"\\system32\\drivers\\etc\\hosts";

}  // namespace repair_text
