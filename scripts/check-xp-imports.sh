#!/usr/bin/env bash
# Fails when the program imports a system function that Windows XP lacks: such an import stops the
# program from starting there at all. Those functions are looked up at run time instead.
#   scripts/check-xp-imports.sh build/i686/bin/OrlynRepair.exe
set -euo pipefail
exe=${1:?usage: check-xp-imports.sh EXE}
vista_and_later=(
  GetTickCount64 GetThreadId GetErrorMode SetThreadErrorMode FlsAlloc FlsFree FlsGetValue FlsSetValue
  InitializeSRWLock AcquireSRWLockExclusive AcquireSRWLockShared ReleaseSRWLockExclusive ReleaseSRWLockShared
  TryAcquireSRWLockExclusive TryAcquireSRWLockShared InitializeConditionVariable SleepConditionVariableCS
  SleepConditionVariableSRW WakeConditionVariable WakeAllConditionVariable InitOnceExecuteOnce
  InitOnceBeginInitialize InitOnceComplete InitializeCriticalSectionEx CreateEventExW CreateMutexExW
  CreateSemaphoreExW CreateSymbolicLinkW GetFinalPathNameByHandleW QueryFullProcessImageNameW
  CompareStringOrdinal CompareStringEx LCMapStringEx GetLocaleInfoEx GetUserDefaultLocaleName
  InterlockedCompareExchange64 RegDeleteKeyExW RegDeleteTreeW RegGetValueW RegSetKeyValueW
  RegCopyTreeW SHGetKnownFolderPath CreateProcessWithTokenW EndTask Wow64DisableWow64FsRedirection
  Wow64RevertWow64FsRedirection IsWow64Process K32GetModuleFileNameExW K32EnumProcessModules
  GetProcessImageFileNameW GetNamedPipeClientProcessId SetFileInformationByHandle
  GetFileInformationByHandleEx ReOpenFile CancelIoEx GetQueuedCompletionStatusEx
)
imports=$(i686-w64-mingw32-objdump -p "$exe" 2>/dev/null || x86_64-w64-mingw32-objdump -p "$exe")
grep -qi "DLL Name: KERNEL32" <<<"$imports" || { echo "$exe: cannot read its imports" >&2; exit 2; }
found=0
for name in "${vista_and_later[@]}"; do
  if grep -qE "^\s+[0-9a-f]+\s+[0-9]+\s+$name$" <<<"$imports"; then
    echo "$exe imports $name, which Windows XP lacks" >&2
    found=1
  fi
done
[ "$found" -eq 0 ] && echo "$exe: no import that Windows XP lacks"
exit "$found"
