// The payload manifest: the files this program carries and how each is installed.
#pragma once

#include <string>
#include <vector>

#include "install/payload_manifest_parse.h"

class PayloadList {
public:
    // Reads the payload list from the manifest resource in the program's memory, appending rows to
    // `entries`; always sets `message`. `manifestPath` is the copy that ExtractPayloadManifest wrote; it
    // only names the manifest in the texts. Nothing is read back from that file: it lies in the user's
    // temporary folder, where any program of the user, elevated or not, may rewrite it or put a link in
    // its place between the write and the read.
    bool Load(const wchar_t* manifestPath);
    // Parses manifest text, appending rows to `entries`; sets `message` to the success or the content
    // error text. A malformed row ends the parse with false; the rows before it stay in `entries`.
    bool Parse(const char* bytes, size_t size);

    wchar_t message[1024] = {};
    std::vector<PayloadEntry> entries;  // manifest order; read-only once the dialog has initialised
};

// Writes the manifest resource to "%TEMP%\OrlynRepairList.txt" (the temp folder is GetTempPathW's, so
// TMP decides it), a copy for whoever looks; the program itself never reads it. On success text is the
// path; on failure text is the error text.
bool ExtractPayloadManifest(std::wstring& text);
// True when every entry's resource exists in the program's module (true for an empty list).
bool CheckPayloadResources(const PayloadList& list);
