#include "framework/browser_host.h"

bool BrowserHost::HtmlEngineAvailable() { return false; }

std::unique_ptr<BrowserHost> BrowserHost::Create(HWND, DWORD, Events*) { return nullptr; }
