// Winsock first: windows.h must not bring in the old socket header.
#include <winsock2.h>

#include "common/Owners.h"
#include "soap/InetStream.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace
{
TEST(InetStream, DetachedReadFails)
{
    CInetStream stream;
    char buffer[8];
    ULONG read = 0;
    EXPECT_EQ(E_FAIL, stream.Read(buffer, sizeof buffer, &read));
    EXPECT_EQ(E_FAIL, stream.Read(buffer, sizeof buffer, nullptr));
}

// Answers one HTTP request on a loopback port with a fixed body, then closes.
class CLoopbackServer
{
public:
    explicit CLoopbackServer(std::string body) : m_body(std::move(body))
    {
        WSADATA data;
        m_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            listen(m_listener, 1) == 0 &&
            getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        {
            m_port = ntohs(address.sin_port);
            m_thread = std::thread([this] { Serve(); });
        }
    }
    ~CLoopbackServer()
    {
        closesocket(m_listener);
        if (m_thread.joinable())
        {
            m_thread.join();
        }
        if (m_started)
        {
            WSACleanup();
        }
    }
    CLoopbackServer(const CLoopbackServer&) = delete;
    CLoopbackServer& operator=(const CLoopbackServer&) = delete;

    INTERNET_PORT Port() const { return m_port; }

private:
    void Serve()
    {
        const SOCKET client = accept(m_listener, nullptr, nullptr);
        if (client == INVALID_SOCKET)
        {
            return;
        }
        std::string request;
        char chunk[512];
        int received = 0;
        while (request.find("\r\n\r\n") == std::string::npos &&
               (received = recv(client, chunk, sizeof chunk, 0)) > 0)
        {
            request.append(chunk, static_cast<size_t>(received));
        }
        const std::string answer =
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(m_body.size()) +
            "\r\nConnection: close\r\n\r\n" + m_body;
        send(client, answer.data(), static_cast<int>(answer.size()), 0);
        shutdown(client, SD_SEND);
        while (recv(client, chunk, sizeof chunk, 0) > 0)
        {
        }
        closesocket(client);
    }

    std::string m_body;
    bool m_started = false;
    SOCKET m_listener = INVALID_SOCKET;
    INTERNET_PORT m_port = 0;
    std::thread m_thread;
};

TEST(InetStream, ReadsTheBodyThenReportsZeroBytesOnEveryLaterRead)
{
    CLoopbackServer server("0123456789");
    ASSERT_NE(0, server.Port());
    CUniqueHInternet session(InternetOpenW(L"stream_tests", INTERNET_OPEN_TYPE_DIRECT,
                                           /* lpszProxy */ nullptr,
                                           /* lpszProxyBypass */ nullptr, /* dwFlags */ 0));
    ASSERT_TRUE(session);
    CUniqueHInternet connection(InternetConnectW(session.get(), L"127.0.0.1", server.Port(),
                                                 /* lpszUserName */ nullptr,
                                                 /* lpszPassword */ nullptr, INTERNET_SERVICE_HTTP,
                                                 0, 0));
    ASSERT_TRUE(connection);
    CUniqueHInternet request(HttpOpenRequestW(
        connection.get(), L"GET", L"/", /* lpszVersion */ nullptr, /* lpszReferrer */ nullptr,
        /* lplpszAcceptTypes */ nullptr,
        INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_UI,
        /* dwContext */ 0));
    ASSERT_TRUE(request);
    ASSERT_TRUE(HttpSendRequestW(request.get(), /* lpszHeaders */ nullptr, 0,
                                 /* lpOptional */ nullptr, 0));

    CInetStream stream;
    stream.Attach(request.get());
    char buffer[32] = {};
    ULONG read = 0;
    ASSERT_EQ(S_OK, stream.Read(buffer, 4, &read));
    EXPECT_EQ("0123", std::string(buffer, read));
    // No count asked for: the read still happens.
    EXPECT_EQ(S_OK, stream.Read(buffer, 2, nullptr));
    std::string rest;
    do
    {
        ASSERT_EQ(S_OK, stream.Read(buffer, sizeof buffer, &read));
        rest.append(buffer, read);
    } while (read != 0);
    EXPECT_EQ("6789", rest);
    read = 99;
    EXPECT_EQ(S_OK, stream.Read(buffer, sizeof buffer, &read));
    EXPECT_EQ(0u, read);
    EXPECT_EQ(request.get(), stream.Detach());
    EXPECT_EQ(nullptr, stream.Request());
    EXPECT_EQ(E_FAIL, stream.Read(buffer, sizeof buffer, &read));
}
} // namespace
