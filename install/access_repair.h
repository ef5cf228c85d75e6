// Access repair for the module's registry keys: a key that the elevated program cannot open with full
// access gets Administrators as owner (when its owner cannot even be read) and a fresh access list.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "common/registry.h"
#include "common/repair_log_writer.h"

// Names are registry object names as Windows' security functions take them: "MACHINE\\SOFTWARE\\...",
// "CLASSES_ROOT\\...", "CURRENT_USER\\..." or "USERS\\...", at most 1,023 units.
constexpr size_t kRegistryObjectNameSize = 1024;

// Splits a registry object name into its root key and the key path after the leading root prefix
// (prefixes compared case-sensitively). Text that looks like a prefix further along the path is part of
// the path. False for an unknown prefix or an over-long name.
[[nodiscard]] bool SplitRegistryObjectName(const wchar_t* name, HKEY& root, std::wstring& keyPath);

// The registry view that a repair addresses: the process's own, the 64-bit one, or (for a 64-bit
// process) the 32-bit one. The whole tree, the owner and the access list are handled in that view.
using RepairView = orlyn::RegView;

// True when the key and every key below it open with KEY_ALL_ACCESS in the view, repairing the ones
// that refuse; also true when the key does not exist.
[[nodiscard]] bool RepairRegistryKeyAccessInView(const wchar_t* name, RepairView view);
[[nodiscard]] inline bool RepairRegistryKeyAccess(const wchar_t* name, bool use64BitView) {
    return RepairRegistryKeyAccessInView(name, use64BitView ? RepairView::Wow64_64 : RepairView::Default);
}

// The module's COM keys, in the order they are checked.
extern const wchar_t* const kModuleComKeys[7];

// Checks every key in the default and then in the 64-bit view, logging each key that stays
// inaccessible; true when all checks succeeded. All checks are always made.
[[nodiscard]] bool RepairRegistryKeysAccess(RepairLogWriter& log, const wchar_t* const* keys, size_t count);
// The same over the module's seven COM keys.
[[nodiscard]] bool RepairComRegistryAccess(RepairLogWriter& log);
