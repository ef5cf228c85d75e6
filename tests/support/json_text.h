// JSON text as its structure sees it, for checks on edited Local State files: strings (with their escapes)
// are stepped over, so only the characters outside them count. Plain C++, no Windows: the fuzz target on
// Linux uses it too.
#pragma once

#include <string>

namespace json_text {

// Calls visit(c) for every character outside strings, in order; the quotes are inside.
template <typename Visit>
void ForEachOutsideStrings(const std::string& text, Visit visit) {
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else {
            visit(c);
        }
    }
}

// No white space outside strings.
inline bool IsCompact(const std::string& text) {
    bool compact = true;
    ForEachOutsideStrings(text, [&](char c) {
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t') compact = false;
    });
    return compact;
}

// How deep objects and arrays nest at the most.
inline int NestingDepth(const std::string& text) {
    int depth = 0, deepest = 0;
    ForEachOutsideStrings(text, [&](char c) {
        if (c == '{' || c == '[') {
            if (++depth > deepest) deepest = depth;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    });
    return deepest;
}

}  // namespace json_text
