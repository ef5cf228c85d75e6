// Registration of self-registering COM servers (ActiveX controls): in this process through the
// library's DllRegisterServer, or, for a 64-bit library, through the system's elevated regsvr32.
#pragma once

#include <windows.h>

#include <string>

// Units of the caller's failure-text buffer.
constexpr size_t kComErrorTextSize = 1024;

// Registers the library at path. In-process mode (use64BitTool false): on failure errorText (optional,
// kComErrorTextSize units) receives the failure text. 64-bit mode: regsvr32 /s runs elevated and its exit
// code decides; a start failure other than a declined elevation prompt is shown in a message box.
// errorText is written only on an in-process failure.
[[nodiscard]] bool RegisterComServer(const wchar_t* path, wchar_t* errorText, bool use64BitTool);

// The 64-bit mode with a given registration program (the system's regsvr32 in RegisterComServer).
[[nodiscard]] bool RunElevatedRegistration(const wchar_t* program, const wchar_t* path);

// regsvr32's parameters for path: the silent switch and the path in double quotes, so that a path
// with blanks reaches the tool as one argument.
std::wstring RegSvr32Parameters(const wchar_t* path);
