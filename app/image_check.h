// Whether a program file is the program that is running.
#pragma once

#include <windows.h>

#include <string>

// True when the file's headers, every section that the running program cannot write (code, constants) and
// its resources hold what the loader mapped at image, once the file's base relocations are applied for
// where it was loaded. Sections written as the program runs (data, import addresses) are not compared;
// the headers' image base, which the loader may set to the real base, is not either.
bool FileMatchesLoadedImage(const std::string& file, HMODULE image);
