// Placeholders until process termination is built.
#include "removal/log_handle.h"

bool CLogHandle::KillProcessByName(const wchar_t*) { return true; }
bool CLogHandle::CloseFileUsers(const wchar_t*) { return false; }
bool IsProcessRunning(const wchar_t*) { return false; }
