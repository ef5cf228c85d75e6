#!/usr/bin/env bash
# Sourced: answers the message boxes of a running OrlynRepair.exe as a user would, through
# answer_message_box.exe. Needs $ORLYN_WINE and $bin.

# answer TIMEOUT_MS ACTION: presses a button of the program's next box (or only prints its text).
answer() { "$ORLYN_WINE" "$bin/answer_message_box.exe" OrlynRepair.exe "$1" "$2"; }

# answer_prompts PID TRANSCRIPT: answers every box until the program PID ends: the start confirmation
# and every notice or warning with OK, the success prompt with No (no web page), a failure prompt with
# Cancel (no retry) and the restart prompt with No. Each box's text is appended to TRANSCRIPT, followed
# by a line "-- <action>". Calls on_prompt TEXT before answering when such a function is defined.
answer_prompts() {
  local pid=$1 transcript=$2 text action
  while kill -0 "$pid" 2>/dev/null; do
    text=$(answer 1000 show 2>/dev/null) || continue
    [ -n "$text" ] || continue
    case "$text" in
      *"복구에 성공했습니다"*) action=no ;;
      *"재설치 과정에 문제가 발생하였습니다"*) action=no ;;
      *"다시 시도하시겠습니까"*) action=cancel ;;
      *) action=ok ;;
    esac
    printf '%s\n-- %s\n' "$text" "$action" >>"$transcript"
    if declare -F on_prompt >/dev/null; then on_prompt "$text"; fi
    answer 10000 "$action" >/dev/null 2>&1 || true
  done
}
