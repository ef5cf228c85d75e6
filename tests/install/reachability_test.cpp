#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "build_settings.h"
#include "install/reachability.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// A TCP listener on 127.0.0.1 with an ephemeral port. Its thread counts the connections it accepts
// until a sentinel connection that carries one byte arrives, so the count is exact without waiting.
class LoopbackListener {
public:
    LoopbackListener() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        int size = sizeof(address);
        if (listener_ == INVALID_SOCKET ||
            ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(listener_, 16) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        port_ = ::ntohs(address.sin_port);
        thread_.reset(::CreateThread(nullptr, 0, &LoopbackListener::Run, this, 0, nullptr));
    }
    ~LoopbackListener() {
        if (listener_ != INVALID_SOCKET) ::closesocket(listener_);  // ends a waiting accept
        if (thread_) ::WaitForSingleObject(thread_.get(), 5000);
    }
    unsigned short port() const { return port_; }
    bool ok() const { return port_ != 0 && thread_.valid(); }

    // Connections accepted before the sentinel; -1 when the sentinel did not arrive in time.
    int ConnectionsSoFar() {
        SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        address.sin_port = ::htons(port_);
        bool sent = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                    ::send(s, "S", 1, 0) == 1;
        ::closesocket(s);
        if (!sent || ::WaitForSingleObject(thread_.get(), 5000) != WAIT_OBJECT_0) return -1;
        return sentinelSeen_ ? count_.load() : -1;
    }

private:
    static DWORD WINAPI Run(void* self) {
        auto* me = static_cast<LoopbackListener*>(self);
        for (;;) {
            SOCKET c = ::accept(me->listener_, nullptr, nullptr);
            if (c == INVALID_SOCKET) return 0;
            char b = 0;
            int n = ::recv(c, &b, 1, 0);
            ::closesocket(c);
            if (n == 1 && b == 'S') {
                me->sentinelSeen_ = true;
                return 0;
            }
            ++me->count_;
        }
    }

    SOCKET listener_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    orlyn::UniqueHandle thread_;
    std::atomic<int> count_{0};
    std::atomic<bool> sentinelSeen_{false};
};

// A loopback port that nobody listens on: bound, then released.
unsigned short ClosedPort() {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int size = sizeof(address);
    unsigned short port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ::ntohs(address.sin_port);
    ::closesocket(s);
    return port;
}

std::wstring ConnectMessage(const std::wstring& host, unsigned short port, int code) {
    return host + L":" + std::to_wstring(port) + L"에 접속 실패하였습니다.(" + std::to_wstring(code) +
           L")\r\n로그인이 실패할 경우 네트워크 관리자에게 문의하세요.\r\n";
}

class Reachability : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(StartWindowsSockets(), 0); }
};

}  // namespace

TEST_F(Reachability, AllPortsOpenConnectsOnceToEach) {
    LoopbackListener a, b, c;
    ASSERT_TRUE(a.ok() && b.ok() && c.ok());
    const unsigned short ports[3] = {a.port(), b.port(), c.port()};
    wchar_t text[kReachabilityTextSize];
    wmemset(text, L'#', kReachabilityTextSize);
    EXPECT_TRUE(CheckSignOnReachability(L"127.0.0.1", ports, 3, text));
    EXPECT_STREQ(text, L"");
    EXPECT_EQ(a.ConnectionsSoFar(), 1);
    EXPECT_EQ(b.ConnectionsSoFar(), 1);
    EXPECT_EQ(c.ConnectionsSoFar(), 1);
}

TEST_F(Reachability, StopsAtTheFirstRefusedPort) {
    for (int refused = 0; refused < 3; ++refused) {
        SCOPED_TRACE(refused);
        LoopbackListener listeners[3];
        unsigned short ports[3];
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(listeners[i].ok());
            ports[i] = listeners[i].port();
        }
        ports[refused] = ClosedPort();
        ASSERT_NE(ports[refused], 0);
        wchar_t text[kReachabilityTextSize];
        EXPECT_FALSE(CheckSignOnReachability(L"127.0.0.1", ports, 3, text));
        EXPECT_EQ(std::wstring(text), ConnectMessage(L"127.0.0.1", ports[refused], WSAECONNREFUSED));
        for (int i = 0; i < 3; ++i) {
            if (i == refused) continue;
            EXPECT_EQ(listeners[i].ConnectionsSoFar(), i < refused ? 1 : 0) << "port index " << i;
        }
    }
}

TEST_F(Reachability, UnresolvableHostGivesTheLookUpMessage) {
    LoopbackListener a;
    ASSERT_TRUE(a.ok());
    const unsigned short ports[3] = {a.port(), a.port(), a.port()};
    wchar_t text[kReachabilityTextSize];
    EXPECT_FALSE(CheckSignOnReachability(L"orlyn-reachability-test.invalid", ports, 3, text));
    std::wstring message = text;
    const std::wstring head = L"orlyn-reachability-test.invalid DNS 조회에 실패하였습니다.(";
    const std::wstring tail = L")\r\n로그인이 실패할 경우 네트워크 관리자에게 문의하세요.\r\n";
    ASSERT_GT(message.size(), head.size() + tail.size());
    EXPECT_EQ(message.substr(0, head.size()), head);
    EXPECT_EQ(message.substr(message.size() - tail.size()), tail);
    std::wstring code = message.substr(head.size(), message.size() - head.size() - tail.size());
    EXPECT_NE(_wtoi(code.c_str()), 0) << "code " << testing::PrintToString(code);
    EXPECT_EQ(a.ConnectionsSoFar(), 0);
}

TEST_F(Reachability, ChecksTheBuildsSignOnHost) {
    // The build's host is under a reserved name that no resolver answers here.
    wchar_t text[kReachabilityTextSize];
    EXPECT_FALSE(CheckSignOnReachability(text));
    const std::wstring head = std::wstring(ORLYN_SIGNON_HOST) + L" DNS 조회에 실패하였습니다.(";
    EXPECT_EQ(std::wstring(text).substr(0, head.size()), head);
}

TEST_F(Reachability, ALongHostNameIsCutToTheBuffer) {
    std::wstring host(1500, L'a');
    host += L".invalid";
    const unsigned short ports[1] = {ClosedPort()};
    wchar_t text[kReachabilityTextSize + 8];
    wmemset(text, L'#', kReachabilityTextSize + 8);
    EXPECT_FALSE(CheckSignOnReachability(host.c_str(), ports, 1, text));
    EXPECT_EQ(wcslen(text), kReachabilityTextSize - 1);
    EXPECT_EQ(std::wstring(text, 16), host.substr(0, 16));
    EXPECT_EQ(text[kReachabilityTextSize], L'#');  // nothing written past the buffer
}
