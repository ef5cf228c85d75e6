// The repair log's line ends: every line feed is written as CR LF. Text in, text out; the file is
// LogStream's.
#pragma once

#include <cstddef>
#include <string>

namespace orlyn {

// Turns "\n" into "\r\n", leaving an existing "\r\n" alone. prevCr says whether the text before ended in "\r".
[[nodiscard]] std::wstring ExpandLineEnds(const wchar_t* text, size_t length, bool prevCr);

// ExpandLineEnds over a sequence of writes: remembers whether the last unit written was "\r", so that
// a "\r\n" split across two writes stays one line end.
class LineEndExpander {
public:
    [[nodiscard]] std::wstring Expand(const wchar_t* text, size_t length);

private:
    bool lastWasCr_ = false;
};

}  // namespace orlyn
