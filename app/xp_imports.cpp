// The POSIX thread library that the C++ run-time is linked with calls GetTickCount64, which Windows XP
// lacks: importing it would stop the program from starting there at all. This file, linked into the
// program itself, fills the import slot that library refers to with our own function, which uses
// GetTickCount64 where the system has it.
#include <windows.h>

#include "common/tick_count.h"

#if defined(__i386__)
#define ORLYN_IMPORT_SLOT "__imp__GetTickCount64@0"
#else
#define ORLYN_IMPORT_SLOT "__imp_GetTickCount64"
#endif

extern "C" {
ULONGLONG(WINAPI* orlynGetTickCount64Slot)() __asm__(ORLYN_IMPORT_SLOT) = &orlyn::TickCount64;
}
