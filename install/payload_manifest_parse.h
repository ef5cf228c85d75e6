// The payload manifest's text format, parsed from bytes: no files, no Windows state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One manifest row. Fixed-size record; text fields are NUL-terminated and their widths include the NUL.
struct PayloadEntry {
    uint16_t resourceId;        // RT_RCDATA resource that holds the file's bytes
    wchar_t fileName[256];      // name as shipped (informational)
    wchar_t targetPath[260];    // where the file goes, usually beginning with a path macro
    int installAction;          // what the install does after copying the file
    wchar_t displayName[256];   // Windows Firewall entry name (actions 1, 3, 6); empty when absent
    wchar_t policyKey[512];     // Internet Explorer elevation-policy subkey (actions 3, 6); empty when absent
};

// Parses every line, appending the rows to entries in order. Stops at the first malformed row and
// returns false; the rows before it stay appended. An empty text succeeds with no rows. The bytes read
// as a text-mode 8-bit file (each byte one unit, CR LF as LF, Ctrl-Z ends the text); a row is one line
// of tab-separated fields, malformed when it is longer than 10239 units, has too few fields for its
// install action or a field too long for the record.
bool ParseManifest(const char* bytes, size_t size, std::vector<PayloadEntry>& entries);

// Replaces every "$Windows$", then every "$ProgramFiles$", then every "$AppData$" (case-sensitive).
std::wstring ExpandPathMacroText(const std::wstring& path, const std::wstring& windowsFolder,
                                 const std::wstring& programFilesFolder, const std::wstring& appDataFolder);
