// Placeholders until the payload manifest is built.
#include "app/repair_context.h"

bool PayloadList::Load(const wchar_t*) {
    message[0] = L'\0';
    return true;
}

bool ExtractPayloadManifest(CRepairContext&, std::wstring& text) {
    text.clear();
    return true;
}

bool CheckPayloadResources(CRepairContext&) { return true; }
