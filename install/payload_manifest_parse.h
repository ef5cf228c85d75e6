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

// The manifest is read as a text-mode 8-bit file: every byte becomes one UTF-16 unit, CR LF becomes LF
// and a Ctrl-Z ends the text. Returns the lines without their LF; a last line without a line end counts.
std::vector<std::wstring> SplitManifestLines(const char* bytes, size_t size);

// Longest line (without its line end) that a row may have; longer lines are not rows of ours.
constexpr size_t kMaxManifestLineUnits = 10239;

// Number of fields that a row with this install action must have.
int RequiredFieldCount(int installAction);

// Parses one line into a zero-filled entry. False when the row is malformed: fewer than four fields,
// a field count that does not suit the action, or a field longer than its width in the record.
bool ParseManifestRow(const std::wstring& line, PayloadEntry& entry);

// Parses every line, appending the rows to entries in order. Stops at the first malformed row and
// returns false; the rows before it stay appended. An empty text succeeds with no rows.
bool ParseManifest(const char* bytes, size_t size, std::vector<PayloadEntry>& entries);

// The C library's decimal conversion (blanks, optional sign, digits; 0 for no number; clamped on overflow).
int ParseDecimal(const std::wstring& text);

// Replaces every "$Windows$", then every "$ProgramFiles$", then every "$AppData$" (case-sensitive).
std::wstring ExpandPathMacroText(const std::wstring& path, const std::wstring& windowsFolder,
                                 const std::wstring& programFilesFolder, const std::wstring& appDataFolder);
