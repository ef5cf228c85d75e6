// The payload manifest: the files this program carries and how each is installed.
#pragma once

#include <string>
#include <vector>

#include "install/payload_manifest_parse.h"

class PayloadList {
public:
    // Parses the manifest file at path, appending rows to `entries`; always sets `message`. A malformed
    // row ends the load with false; the rows before it stay in `entries`.
    bool Load(const wchar_t* path);

    wchar_t message[1024] = {};
    std::vector<PayloadEntry> entries;  // manifest order; read-only once the dialog has initialised
};

// Writes the manifest resource to "%TEMP%\OrlynRepairList.txt" (the temp folder is GetTempPathW's, so
// TMP decides it). On success text is the path; on failure text is the error text.
bool ExtractPayloadManifest(std::wstring& text);
// True when every entry's resource exists in the program's module (true for an empty list).
bool CheckPayloadResources(const PayloadList& list);
