// The usage box of /? and of an unknown switch.
#pragma once

namespace usage_text {

inline constexpr wchar_t kUsage[] =
    L"사용법 : OrlynRepair.exe [/passive | /quiet] [/norestart | /forcerestart] [/log <경로>]\r\n\r\n"
    L"/passive : 진행 창만 표시하고 아무것도 묻지 않습니다.\r\n"
    L"/quiet : 창과 메시지를 전혀 표시하지 않습니다.\r\n"
    L"/norestart : 재시작이 필요하면 재시작하지 않고 종료합니다. (기본값)\r\n"
    L"/forcerestart : 재시작이 필요하면 컴퓨터를 재시작합니다.\r\n"
    L"/log <경로> : 복구가 끝나면 복구 로그의 사본을 이 경로에 저장합니다.\r\n"
    L"/? , /help : 이 도움말을 표시합니다.\r\n\r\n"
    L"종료 코드 : 0 성공, 1602 사용자 취소, 1603 실패, 1618 다른 복구 진행 중, "
    L"3010 재시작 필요, 1641 재시작 시작됨\r\n";

// Before the usage when a switch was not understood.
inline constexpr wchar_t kUnknownSwitch[] = L"알 수 없는 옵션입니다 : %s\r\n\r\n";

}  // namespace usage_text
