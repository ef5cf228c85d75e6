// Chrome's Local State text: the member protocol_handler.excluded_schemes.<scheme>. Pure functions on
// UTF-8 text; the file handling lives in chrome_local_state.cpp. An edit writes the whole text back
// compactly; every number keeps the text it had, whatever its size or precision.
#pragma once

#include <string>

namespace local_state {

enum class EditResult {
    Invalid,    // not JSON, nested deeper than 512, or the root, protocol_handler or excluded_schemes is not
                // an object
    Unchanged,  // nothing to write: the member was already there (addition) or absent (removal)
    Changed,    // `out` holds the new text, compact
};

// Whether excluded_schemes holds a member named `name` (any value). False for invalid text; `valid`,
// when given, tells the two apart.
[[nodiscard]] bool HasExclusion(const std::string& text, const std::string& name, bool* valid = nullptr);

// Appends name: false to excluded_schemes, creating protocol_handler and excluded_schemes as empty
// objects when missing. An existing member keeps its value.
[[nodiscard]] EditResult AddExclusion(const std::string& text, const std::string& name, std::string& out);

// Removes every member named `name` from excluded_schemes; the last member takes the place of a
// removed one.
[[nodiscard]] EditResult RemoveExclusion(const std::string& text, const std::string& name, std::string& out);

}  // namespace local_state
