// Stand-in for the game manager's libraries (TSLDll.dll, TSLDll64.dll, kessvald.dll): a real DLL that
// loads, names itself and, where a manifest registers it as a COM server, registers successfully.
#include <windows.h>

#ifndef TSL_DLL_NAME
#define TSL_DLL_NAME L"TSLDll"
#endif

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) ::DisableThreadLibraryCalls(instance);
    return TRUE;
}

__declspec(dllexport) const wchar_t* WINAPI TslModuleName() { return TSL_DLL_NAME; }

// The stand-in has no classes to register; both answer success so that a registration step can run.
__declspec(dllexport) HRESULT WINAPI DllRegisterServer() { return S_OK; }
__declspec(dllexport) HRESULT WINAPI DllUnregisterServer() { return S_OK; }

}  // extern "C"
