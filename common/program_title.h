// The program's title: the repair dialog's window title and the caption of every message box.
#pragma once

namespace orlyn {

inline constexpr wchar_t kProgramTitle[] = L"오를린 에러복구 프로그램";

}  // namespace orlyn
