#include <winsock2.h>
#include <ws2tcpip.h>

#include "install/reachability.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "build_settings.h"
#include "common/string_format.h"
#include "common/unique_handle.h"

namespace {

struct SocketTraits {
    using Type = SOCKET;
    static Type Invalid() { return INVALID_SOCKET; }
    static void Close(Type s) { ::closesocket(s); }
};
using UniqueSocket = orlyn::UniqueAny<SocketTraits>;

constexpr size_t kMaxAddresses = 100;

void SetLookupMessage(wchar_t* text, const wchar_t* host, int code) {
    orlyn::Format(text, kReachabilityTextSize,
                  L"%s DNS 조회에 실패하였습니다.(%d)\r\n"
                  L"로그인이 실패할 경우 네트워크 관리자에게 문의하세요.\r\n",
                  host, code);
}

// Host names are plain ASCII in practice; the ANSI code page is what gethostbyname expects.
bool ToAnsi(const wchar_t* text, std::string& out) {
    int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return false;
    out.assign(static_cast<size_t>(size), '\0');
    if (::WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], size, nullptr, nullptr) != size) return false;
    out.resize(static_cast<size_t>(size) - 1);
    return true;
}

}  // namespace

int StartWindowsSockets() {
    static std::once_flag once;
    static int result = 0;
    std::call_once(once, [] {
        WSADATA data;
        result = ::WSAStartup(MAKEWORD(2, 2), &data);
    });
    return result;
}

bool CheckSignOnReachability(wchar_t* text) {
    return CheckSignOnReachability(ORLYN_SIGNON_HOST, kSignOnPorts, 3, text);
}

bool CheckSignOnReachability(const wchar_t* host, const unsigned short* ports, size_t portCount, wchar_t* text) {
    text[0] = L'\0';
    StartWindowsSockets();

    std::string ansiHost;
    if (!ToAnsi(host, ansiHost)) {
        SetLookupMessage(text, host, WSAHOST_NOT_FOUND);
        return false;
    }
    hostent* entry = ::gethostbyname(ansiHost.c_str());
    if (!entry) {
        SetLookupMessage(text, host, ::WSAGetLastError());
        return false;
    }
    // Only IPv4 addresses of exactly four bytes fit an in_addr; anything else is not used.
    std::vector<in_addr> addresses;
    if (entry->h_addrtype == AF_INET && entry->h_length == sizeof(in_addr)) {
        for (char** p = entry->h_addr_list; p && *p && addresses.size() < kMaxAddresses; ++p) {
            in_addr address;
            std::memcpy(&address, *p, sizeof(address));
            addresses.push_back(address);
        }
    }
    if (addresses.empty()) {
        SetLookupMessage(text, host, ::WSAGetLastError());
        return false;
    }
    // One address for all ports, so the ports are tested on the same server.
    const in_addr chosen = addresses[static_cast<size_t>(std::rand()) % addresses.size()];

    for (size_t i = 0; i < portCount; ++i) {
        UniqueSocket s(::WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, 0));
        if (!s) {
            orlyn::Format(text, kReachabilityTextSize,
                          L"소켓 생성에 실패하였습니다.(%d)\r\n"
                          L"로그인이 실패할 경우 컴뷰터를 재부팅 후 재시도하세요.\r\n",
                          ::WSAGetLastError());
            return false;
        }
        sockaddr_in target = {};
        target.sin_family = AF_INET;
        target.sin_port = ::htons(ports[i]);
        target.sin_addr = chosen;
        if (::connect(s.get(), reinterpret_cast<const sockaddr*>(&target), sizeof(target)) == SOCKET_ERROR) {
            int code = ::WSAGetLastError();
            orlyn::Format(text, kReachabilityTextSize,
                          L"%s:%d에 접속 실패하였습니다.(%d)\r\n"
                          L"로그인이 실패할 경우 네트워크 관리자에게 문의하세요.\r\n",
                          host, static_cast<int>(ports[i]), code);
            return false;
        }
    }
    return true;
}
