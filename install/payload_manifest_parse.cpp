#include "install/payload_manifest_parse.h"

#include <climits>
#include <cstring>

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

// Copies a field into a fixed record field; false when it does not fit with its terminator.
bool CopyField(wchar_t* dst, size_t width, const std::wstring& field) {
    if (field.size() >= width) return false;
    std::memcpy(dst, field.data(), field.size() * sizeof(wchar_t));
    dst[field.size()] = L'\0';
    return true;
}

void ReplaceAll(std::wstring& text, const std::wstring& word, const std::wstring& replacement) {
    for (size_t pos = text.find(word); pos != std::wstring::npos;
         pos = text.find(word, pos + replacement.size())) {
        text.replace(pos, word.size(), replacement);
    }
}

// Longest line (without its line end) that a row may have; longer lines are not rows of ours.
constexpr size_t kMaxManifestLineUnits = 10239;

// The manifest is read as a text-mode 8-bit file: every byte becomes one UTF-16 unit, CR LF becomes LF
// and a Ctrl-Z ends the text. Returns the lines without their LF; a last line without a line end counts.
std::vector<std::wstring> SplitManifestLines(const char* bytes, size_t size) {
    std::vector<std::wstring> lines;
    std::wstring line;
    bool pending = false;  // characters read since the last line end
    for (size_t i = 0; i < size; ++i) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b == 0x1A) break;  // Ctrl-Z: end of a text-mode file
        if (b == '\r' && i + 1 < size && bytes[i + 1] == '\n') continue;
        if (b == '\n') {
            lines.push_back(line);
            line.clear();
            pending = false;
            continue;
        }
        line += static_cast<wchar_t>(b);
        pending = true;
    }
    if (pending) lines.push_back(line);
    return lines;
}

// Number of fields that a row with this install action must have.
int RequiredFieldCount(int installAction) {
    if (installAction == 0) return 4;
    if (installAction == 3 || installAction == 6) return 6;
    return 5;
}

// The C library's decimal conversion (blanks, optional sign, digits; 0 for no number; clamped on overflow).
int ParseDecimal(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1) break;  // clamped below; more digits change nothing
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// Parses one line into a zero-filled entry. False when the row is malformed: fewer than four fields,
// a field count that does not suit the action, or a field longer than its width in the record.
bool ParseManifestRow(const std::wstring& line, PayloadEntry& entry) {
    std::memset(&entry, 0, sizeof(entry));
    // A line too long for the reader's buffer, or one with a NUL in it, is not a row this program wrote.
    if (line.size() > kMaxManifestLineUnits || line.find(L'\0') != std::wstring::npos) return false;

    size_t end = line.size();
    while (end > 0 && IsBlank(line[end - 1])) --end;

    std::vector<std::wstring> fields;
    for (size_t pos = 0; pos < end;) {
        size_t tab = line.find(L'\t', pos);
        if (tab == std::wstring::npos || tab > end) tab = end;
        if (tab > pos) fields.push_back(line.substr(pos, tab - pos));
        pos = tab + 1;
    }
    if (fields.size() < 4) return false;

    // A resource number outside the 16-bit range names no resource: it becomes 0, never a wrapped id.
    int resource = ParseDecimal(fields[0]);
    entry.resourceId = (resource >= 0 && resource <= 0xFFFF) ? static_cast<uint16_t>(resource) : 0;
    entry.installAction = ParseDecimal(fields[3]);
    if (!CopyField(entry.fileName, 256, fields[1]) || !CopyField(entry.targetPath, 260, fields[2]))
        return false;
    if (fields.size() > 4 && !CopyField(entry.displayName, 256, fields[4])) return false;
    if (fields.size() > 5 && !CopyField(entry.policyKey, 512, fields[5])) return false;
    return fields.size() >= static_cast<size_t>(RequiredFieldCount(entry.installAction));
}

}  // namespace

bool ParseManifest(const char* bytes, size_t size, std::vector<PayloadEntry>& entries) {
    std::vector<std::wstring> lines = SplitManifestLines(bytes, size);
    entries.reserve(entries.size() + lines.size());  // records are 2.5 KB: grow once, not by doubling
    for (const std::wstring& line : lines) {
        PayloadEntry entry;
        if (!ParseManifestRow(line, entry)) return false;
        entries.push_back(entry);
    }
    return true;
}

std::wstring ExpandPathMacroText(const std::wstring& path, const std::wstring& windowsFolder,
                                 const std::wstring& programFilesFolder, const std::wstring& appDataFolder) {
    std::wstring result = path;
    ReplaceAll(result, L"$Windows$", windowsFolder);
    ReplaceAll(result, L"$ProgramFiles$", programFilesFolder);
    ReplaceAll(result, L"$AppData$", appDataFolder);
    return result;
}
