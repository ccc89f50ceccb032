#include "AllocationFailure.h"
#include "HandleCount.h"
#include "HttpFetch.h"
#include "common/StringError.h"
#include "soap/SoapClient.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
// Exposes the client's state to the tests.
class CTestClient : public CSoapClient
{
public:
    using CSoapClient::m_certificateInfo;
    using CSoapClient::m_connectionHandle;
    using CSoapClient::m_internetHandle;
    using CSoapClient::m_objectName;
    using CSoapClient::m_requestBody;
    using CSoapClient::m_requestFlags;
    using CSoapClient::m_requestHandle;
    using CSoapClient::m_responseStream;
    using CSoapClient::m_serviceUrl;
    using CSoapClient::m_timeoutMs;
    using CSoapClient::StoreCertificateText;

    void WriteBody(const std::string& body)
    {
        ASSERT_EQ(S_OK,
                  m_requestBody.WriteBytes(body.c_str(), static_cast<int>(body.size()), nullptr));
    }

    // The whole response body, read as a consumer would: until S_OK with 0 bytes.
    std::string ReadResponse()
    {
        std::string response;
        char buffer[100];
        ULONG read = 0;
        HRESULT result;
        while ((result = m_responseStream.Read(buffer, sizeof(buffer), &read)) == S_OK && read != 0)
        {
            response.append(buffer, read);
        }
        EXPECT_EQ(S_OK, result);
        return response;
    }
};

std::wstring Port(const char* name)
{
    const std::wstring port = LoopbackPort(name);
    EXPECT_FALSE(port.empty()) << name << ": run under tests/support/loopback_servers.py";
    return port;
}

std::wstring HttpUrl(const std::wstring& path)
{
    return L"http://127.0.0.1:" + Port("HTTP") + path;
}

std::wstring HttpsUrl(const char* server, const std::wstring& path = L"/kaldris/x.asmx")
{
    return L"https://localhost:" + Port(server) + path;
}

const wchar_t kSoapAction[] = L"SOAPAction: \"urn:test/Count\"\r\n";
const std::string kBody = "<soap:Envelope>\xC3\xA9</soap:Envelope>";

struct EchoedRequest
{
    std::string requestLine;
    std::vector<std::string> headers;
    std::string body;
};

EchoedRequest ParseEcho(const std::string& echo)
{
    EchoedRequest request;
    const size_t end = echo.find("\r\n\r\n");
    EXPECT_NE(end, std::string::npos) << echo;
    if (end == std::string::npos)
    {
        return request;
    }
    request.body = echo.substr(end + 4);
    size_t start = 0;
    while (start < end)
    {
        size_t next = echo.find("\r\n", start);
        if (next > end)
        {
            next = end;
        }
        const std::string line = echo.substr(start, next - start);
        if (request.requestLine.empty())
        {
            request.requestLine = line;
        }
        else
        {
            request.headers.push_back(line);
        }
        start = next + 2;
    }
    return request;
}

size_t IndexOfHeader(const EchoedRequest& request, const std::string& prefix)
{
    for (size_t i = 0; i < request.headers.size(); ++i)
    {
        if (request.headers[i].compare(0, prefix.size(), prefix) == 0)
        {
            return i;
        }
    }
    return std::string::npos;
}

EchoedRequest PostAndEcho(CTestClient& client, const std::wstring& url, const wchar_t* headers,
                          HRESULT expected = S_OK)
{
    client.SetServiceUrl(url.c_str());
    client.WriteBody(kBody);
    EXPECT_EQ(expected, client.PostEnvelope(headers));
    return ParseEcho(client.ReadResponse());
}

TEST(SoapClient, PostsTheBodyWithTheSoapActionThenContentType)
{
    CTestClient client;
    const EchoedRequest request =
        PostAndEcho(client, HttpUrl(L"/kaldris/Mervo3/mervoservice2.asmx"), kSoapAction);

    EXPECT_EQ("POST /kaldris/Mervo3/mervoservice2.asmx HTTP/1.1", request.requestLine);
    const size_t action = IndexOfHeader(request, "SOAPAction:");
    const size_t contentType = IndexOfHeader(request, "Content-Type:");
    ASSERT_NE(action, std::string::npos);
    ASSERT_NE(contentType, std::string::npos);
    EXPECT_EQ("SOAPAction: \"urn:test/Count\"", request.headers[action]);
    EXPECT_EQ("Content-Type: text/xml; charset=utf-8", request.headers[contentType]);
    EXPECT_EQ(action + 1, contentType);
    EXPECT_NE(IndexOfHeader(request, "User-Agent: Zorvik Rules Engine/2.0"), std::string::npos);
    EXPECT_NE(IndexOfHeader(request, "Accept: text/*"), std::string::npos);
    EXPECT_NE(IndexOfHeader(request, "Content-Length: " + std::to_string(kBody.size())),
              std::string::npos);
    EXPECT_EQ(kBody, request.body);
}

TEST(SoapClient, ObjectNameIsThePathFollowedByTheQuery)
{
    const struct
    {
        const wchar_t* path;
        const char* requestLine;
    } cases[] = {
        {L"/kaldris/Mervo3/mervoservice2.asmx", "POST /kaldris/Mervo3/mervoservice2.asmx HTTP/1.1"},
        {L"/svc.asmx?op=Count&x=1", "POST /svc.asmx?op=Count&x=1 HTTP/1.1"},
        {L"/a b/c", "POST /a%20b/c HTTP/1.1"},
    };
    for (const auto& c : cases)
    {
        CTestClient client;
        EXPECT_EQ(c.requestLine, PostAndEcho(client, HttpUrl(c.path), kSoapAction).requestLine);
    }
}

TEST(SoapClient, EmptyHeaderTextSendsContentTypeAlone)
{
    CTestClient client;
    const EchoedRequest request = PostAndEcho(client, HttpUrl(L"/x"), L"");
    EXPECT_EQ(std::string::npos, IndexOfHeader(request, "SOAPAction:"));
    EXPECT_NE(std::string::npos, IndexOfHeader(request, "Content-Type: text/xml; charset=utf-8"));
    EXPECT_EQ(kBody, request.body);
}

TEST(SoapClient, NullHeaderTextOpensNothing)
{
    CTestClient client;
    client.SetServiceUrl(HttpUrl(L"/x").c_str());
    EXPECT_EQ(E_POINTER, client.PostEnvelope(nullptr));
    EXPECT_FALSE(client.m_internetHandle);
    EXPECT_FALSE(client.m_connectionHandle);
}

TEST(SoapClient, RefusedConnectionGivesWinInetsError)
{
    CTestClient client;
    client.SetServiceUrl((L"http://127.0.0.1:" + Port("CLOSED") + L"/x").c_str());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INTERNET_CANNOT_CONNECT), client.PostEnvelope(kSoapAction));
    char buffer[8];
    ULONG read = 0;
    EXPECT_EQ(E_FAIL, client.m_responseStream.Read(buffer, sizeof(buffer), &read));
}

TEST(SoapClient, RequestFlagsFollowTheScheme)
{
    const struct
    {
        const wchar_t* url;
        DWORD flags;
    } cases[] = {
        {L"https://host/x", 0x00C40200}, {L"HTTPS://host/x", 0x00C40200},
        {L"http://host/x", 0x00440200},  {L"ftp://host/x", 0x00440200},
        {L"foo://host/x", 0x00440200},
    };
    for (const auto& c : cases)
    {
        CTestClient client;
        EXPECT_EQ(0u, client.m_requestFlags);
        client.SetServiceUrl(c.url);
        EXPECT_EQ(c.flags, client.m_requestFlags) << c.url;
        client.ResetClient();
        EXPECT_EQ(0u, client.m_requestFlags);
    }
}

TEST(SoapClient, SetServiceUrlKeepsFormerStateWhenItCannotUseTheUrl)
{
    CTestClient client;
    client.SetServiceUrl(L"http://host:81/first?q");
    client.WriteBody("kept");
    client.SetServiceUrl(nullptr); // changes nothing, not even the body
    EXPECT_EQ("kept", client.m_requestBody.Text());
    EXPECT_EQ(L"/first?q", client.m_objectName);

    client.SetServiceUrl(L"no scheme here"); // parse fails: record cleared, name kept
    EXPECT_EQ(-1, client.m_serviceUrl.m_schemeId);
    EXPECT_EQ(0, client.m_serviceUrl.m_port);
    EXPECT_EQ(L"/first?q", client.m_objectName);
    EXPECT_EQ(0x00440200u, client.m_requestFlags);
    EXPECT_EQ("", client.m_requestBody.Text());

    client.SetServiceUrl(L"https://host:82/second");
    const std::wstring tooLong = L"http://host/" + std::wstring(2100, L'a');
    client.SetServiceUrl(tooLong.c_str()); // escaping fails: the former URL stands
    EXPECT_EQ(82, client.m_serviceUrl.m_port);
    EXPECT_EQ(L"/second", client.m_objectName);
    EXPECT_EQ(0x00C40200u, client.m_requestFlags);
}

// Whichever allocation inside an operation fails, it leaves the operation as
// the string layer's failure, as every other of its failures does.
TEST(SoapClient, NoMemoryLeavesAsTheStringLayersError)
{
    using Operation = void (*)(CTestClient&, const std::wstring&);
    const Operation setUrl = [](CTestClient& client, const std::wstring& url) {
        client.SetServiceUrl(url.c_str());
    };
    const Operation post = [](CTestClient& client, const std::wstring&) {
        client.PostEnvelope(kSoapAction);
    };
    const struct
    {
        const char* operation;
        std::wstring url;
        Operation run;
    } cases[] = {
        {"SetServiceUrl", HttpUrl(L"/x?q"), setUrl},
        {"PostEnvelope over http", HttpUrl(L"/x"), post},
        {"PostEnvelope over https", HttpsUrl("HTTPS"), post},
    };
    for (const auto& c : cases)
    {
        int failed = 0;
        for (int k = 1;; ++k)
        {
            CTestClient client;
            client.SetServiceUrl(c.url.c_str());
            HRESULT raised = S_OK;
            bool met = false;
            {
                const CAllocationFailure failure(k);
                try
                {
                    c.run(client, c.url);
                }
                catch (const CStringError& error)
                {
                    raised = error.Result();
                }
                met = failure.Met();
            }
            if (!met)
            {
                EXPECT_EQ(S_OK, raised) << c.operation;
                break;
            }
            EXPECT_EQ(E_OUTOFMEMORY, raised) << c.operation << ", allocation " << k;
            ++failed;
        }
        EXPECT_GT(failed, 0) << c.operation << " allocates nothing";
    }
}

TEST(SoapClient, ResetIsHarmlessOnAFreshClientAndTwice)
{
    CTestClient client;
    client.ResetClient();
    client.ResetClient();
    EXPECT_FALSE(client.m_internetHandle);
    EXPECT_EQ(80, client.m_serviceUrl.m_port);
    EXPECT_EQ(SchemeHttp, client.m_serviceUrl.m_schemeId);

    PostAndEcho(client, HttpUrl(L"/x"), kSoapAction);
    client.ResetClient();
    client.ResetClient();
    EXPECT_FALSE(client.m_requestHandle);
    EXPECT_FALSE(client.m_connectionHandle);
    EXPECT_FALSE(client.m_internetHandle);
    EXPECT_EQ("", client.m_requestBody.Text());
}

TEST(SoapClient, ResponseReadsToItsEndThenKeepsGivingZeroBytes)
{
    CTestClient client;
    client.SetServiceUrl(HttpUrl(L"/x").c_str());
    client.WriteBody(kBody);
    ASSERT_EQ(S_OK, client.PostEnvelope(kSoapAction));
    const std::string response = client.ReadResponse();
    EXPECT_GT(response.size(), kBody.size());
    char buffer[16];
    for (int i = 0; i < 3; ++i)
    {
        ULONG read = 99;
        EXPECT_EQ(S_OK, client.m_responseStream.Read(buffer, sizeof(buffer), &read));
        EXPECT_EQ(0u, read);
    }
    client.ResetClient();
    ULONG read = 0;
    EXPECT_EQ(E_FAIL, client.m_responseStream.Read(buffer, sizeof(buffer), &read));
}

TEST(SoapClient, SecondPostWithoutResetClosesTheFirstHandles)
{
    CTestClient client;
    client.SetServiceUrl(HttpUrl(L"/x").c_str());
    ASSERT_EQ(S_OK, client.PostEnvelope(kSoapAction));
    const HINTERNET first[] = {client.m_internetHandle.get(), client.m_connectionHandle.get(),
                               client.m_requestHandle.get()};
    ASSERT_EQ(S_OK, client.PostEnvelope(kSoapAction));
    const HINTERNET second[] = {client.m_internetHandle.get(), client.m_connectionHandle.get(),
                                client.m_requestHandle.get()};
    for (const HINTERNET old : first)
    {
        // Either the value was freed and handed out again, or it is no handle now.
        if (std::find(std::begin(second), std::end(second), old) == std::end(second))
        {
            DWORD type = 0;
            DWORD size = sizeof(type);
            EXPECT_FALSE(InternetQueryOptionW(old, INTERNET_OPTION_HANDLE_TYPE, &type, &size));
        }
    }
    EXPECT_FALSE(ParseEcho(client.ReadResponse()).requestLine.empty());
}

DWORD ConnectTimeout(HINTERNET session)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    EXPECT_TRUE(InternetQueryOptionW(session, INTERNET_OPTION_CONNECT_TIMEOUT, &value, &size));
    return value;
}

// Of the three timeouts, Wine keeps only the connect timeout on a session
// handle (receive and send are stubs there), so that one stands for all.
TEST(SoapClient, TimeoutsAreSetOnlyWhenGiven)
{
    CUniqueHInternet fresh(
        InternetOpenW(L"defaults", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    ASSERT_TRUE(fresh);
    const DWORD platformDefault = ConnectTimeout(fresh.get());
    ASSERT_NE(4321u, platformDefault);

    CTestClient client;
    client.SetServiceUrl(HttpUrl(L"/x").c_str());
    ASSERT_EQ(S_OK, client.PostEnvelope(kSoapAction));
    EXPECT_EQ(platformDefault, ConnectTimeout(client.m_internetHandle.get()));

    client.ResetClient();
    client.m_timeoutMs = 4321;
    client.SetServiceUrl(HttpUrl(L"/x").c_str());
    ASSERT_EQ(S_OK, client.PostEnvelope(kSoapAction));
    EXPECT_EQ(4321u, ConnectTimeout(client.m_internetHandle.get()));
}

TEST(SoapClient, PlainHttpNeverQueriesTheCertificate)
{
    CTestClient client;
    PostAndEcho(client, HttpUrl(L"/x"), kSoapAction);
    EXPECT_EQ(nullptr, client.m_certificateInfo);
}

TEST(SoapClient, CertificateNamingTheVendorPasses)
{
    CTestClient client;
    const EchoedRequest request = PostAndEcho(client, HttpsUrl("HTTPS"), kSoapAction);
    EXPECT_EQ("POST /kaldris/x.asmx HTTP/1.1", request.requestLine);
    EXPECT_EQ(kBody, request.body);
    ASSERT_NE(nullptr, client.m_certificateInfo);
    EXPECT_NE(std::wstring::npos, client.m_certificateInfo->m_matchText.find(L"Tarnwell"));
    EXPECT_EQ(client.m_certificateInfo->m_text, client.m_certificateInfo->m_matchText);
}

TEST(SoapClient, CertificateNamingTheVendorInAnotherCaseFails)
{
    CTestClient client;
    client.SetServiceUrl(HttpsUrl("HTTPS_LOWERCASE").c_str());
    client.WriteBody(kBody);
    EXPECT_EQ(E_FAIL, client.PostEnvelope(kSoapAction));
    ASSERT_NE(nullptr, client.m_certificateInfo);
    EXPECT_NE(std::wstring::npos, client.m_certificateInfo->m_matchText.find(L"tarnwell"));
    char buffer[8];
    ULONG read = 0;
    EXPECT_EQ(E_FAIL, client.m_responseStream.Read(buffer, sizeof(buffer), &read));
    client.ResetClient();
    EXPECT_EQ(nullptr, client.m_certificateInfo);
}

TEST(SoapClient, UntrustedCertificateFailsInTheSend)
{
    CTestClient client;
    client.SetServiceUrl(HttpsUrl("HTTPS_UNTRUSTED").c_str());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INTERNET_INVALID_CA), client.PostEnvelope(kSoapAction));
    EXPECT_EQ(nullptr, client.m_certificateInfo);
}

TEST(SoapClient, EmptyCertificateTextIsNotStored)
{
    CTestClient client;
    EXPECT_FALSE(client.StoreCertificateText(L""));
    EXPECT_EQ(nullptr, client.m_certificateInfo);
    EXPECT_TRUE(client.StoreCertificateText(L"Subject: Tarnwell"));
    EXPECT_FALSE(client.StoreCertificateText(L"")); // the earlier record stays
    ASSERT_NE(nullptr, client.m_certificateInfo);
    EXPECT_EQ(L"Subject: Tarnwell", client.m_certificateInfo->m_text);
}

// Handles never outlive a client: after a warm-up round (the first https
// request opens some lasting handles), more rounds leave the count as it was.
TEST(SoapClient, HandlesDoNotOutliveTheClient)
{
    const auto round = [] {
        for (const std::wstring& url :
             {HttpUrl(L"/x"), L"http://127.0.0.1:" + Port("CLOSED") + L"/x", HttpsUrl("HTTPS"),
              HttpsUrl("HTTPS_LOWERCASE"), HttpsUrl("HTTPS_UNTRUSTED")})
        {
            CTestClient client;
            client.SetServiceUrl(url.c_str());
            client.WriteBody(kBody);
            if (SUCCEEDED(client.PostEnvelope(kSoapAction)))
            {
                client.ReadResponse();
            }
        }
    };
    round();
    round();
    const size_t warm = CountProcessHandles();
    ASSERT_GT(warm, 0u);
    for (int i = 0; i < 10; ++i)
    {
        round();
    }
    EXPECT_EQ(warm, CountProcessHandles());
}
} // namespace
