#include "browser/browser_steps.h"

#include <shlwapi.h>

#include "browser/chrome.h"
#include "browser/custom_scheme.h"
#include "install/system_registrations.h"

namespace {
constexpr wchar_t kScheme[] = L"tsl";
constexpr wchar_t kChromeRestartLine[] = L"OK\t복구를 위해 Google Chrome을 재시작 합니다.\n";
}  // namespace

bool RemoveBrowserIntegration(RepairLogWriter& log, LONG& chromeRestart) {
    CCustomScheme scheme(kScheme);
    CChrome chrome(scheme.GetScheme());
    if (chrome.IsSchemeExcluded()) {
        if (IsChromeRunning()) {
            log.WriteLog(kChromeRestartLine);
            chrome.CloseChromeWindows();
            if (IsChromeRunning()) {
                TerminateChrome();
                (void)IsChromeRunning();
            }
            chromeRestart = 1;
        }
        chrome.RemoveSchemeExclusion();
    }
    return scheme.Unregister();
}

bool InstallBrowserIntegration(RepairLogWriter& log, LONG& chromeRestart) {
    CCustomScheme scheme(kScheme);
    bool registered = scheme.IsRegistered(HKEY_LOCAL_MACHINE) || scheme.IsRegistered(HKEY_CURRENT_USER);
    if (!registered) {
        wchar_t folder[MAX_PATH] = {};
        wchar_t handler[MAX_PATH] = {};
        // Without the product folder the handler would be a bare "TSL.exe" that nothing can start:
        // leave the scheme unregistered, so the install reports the failure and may be retried.
        if (ResolveProductFolder(folder) && ::PathCombineW(handler, folder, L"TSL.exe")) {
            registered = scheme.Register(HKEY_LOCAL_MACHINE, handler) || scheme.Register(HKEY_CURRENT_USER, handler);
        }
    }
    if (registered) {
        CChrome chrome(scheme.GetScheme());
        if ((IsChromeInstalled(HKEY_LOCAL_MACHINE) || IsChromeInstalled(HKEY_CURRENT_USER)) &&
            !chrome.IsSchemeExcluded()) {
            if (IsChromeRunning()) {
                log.WriteLog(kChromeRestartLine);
                chrome.CloseChrome();
                chromeRestart = 1;
            }
            chrome.AddSchemeExclusion();
            if (chromeRestart == 1) {
                chrome.RestartChrome();
                chromeRestart = 0;
            }
        }
    }
    return registered;
}
