// Whether this computer can reach the maker's sign-on server: a host look-up and one TCP connection to
// each of its ports, without data.
#pragma once

#include <windows.h>

#include <cstddef>

constexpr size_t kReachabilityTextSize = 1024;  // units of the caller's message buffer
constexpr unsigned short kSignOnPorts[3] = {80, 443, 47611};

// Starts Windows Sockets once for the process (kept until exit). Returns the WSAStartup result, 0 on success.
int StartWindowsSockets();

// The sign-on server of this build on its three ports. True when every connection was made; otherwise
// text (kReachabilityTextSize units) holds the message for the user.
[[nodiscard]] bool CheckSignOnReachability(wchar_t* text);

// The same check against any host and ports, tried in order; the first failure ends it.
[[nodiscard]] bool CheckSignOnReachability(const wchar_t* host, const unsigned short* ports, size_t portCount,
                                           wchar_t* text);
