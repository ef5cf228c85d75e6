// Placeholders until the removal primitives are built.
#include "removal/log_handle.h"

bool CLogHandle::RemoveFile(const wchar_t*) { return true; }
bool CLogHandle::RemoveFolder(const wchar_t*) { return true; }
bool CLogHandle::RemoveFolderTree(const wchar_t*, bool) { return true; }
void CLogHandle::ClearFolderContents(const wchar_t*) {}
LONG CLogHandle::RemoveRegKey(HKEY, const wchar_t*, bool report) { return report ? TRUE : ERROR_SUCCESS; }
bool CLogHandle::RemoveRegValue(HKEY, const wchar_t*, const wchar_t*) { return true; }
