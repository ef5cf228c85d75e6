// The hosts-file check of the final state: finds entries that redirect the maker's web domains.
#pragma once

#include <string>
#include <vector>

#include "app/hosts_scan.h"

namespace hosts_check {

// Reads a hosts file as text (CR LF read as LF, UTF-8 when valid, else the ANSI code page; a Ctrl-Z
// ends the text). False when the file cannot be opened.
bool ReadHostsText(const wchar_t* path, std::wstring& text);

// The two suffixes of the hosts check: a dot and each of the maker's web domains, the home page's first.
std::vector<std::wstring> MakerDomainSuffixes();

}  // namespace hosts_check
