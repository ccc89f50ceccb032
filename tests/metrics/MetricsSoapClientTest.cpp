#include "HttpFetch.h"
#include "RegistryScope.h"
#include "app/RunRecords.h"
#include "common/ComOwner.h"
#include "common/Owners.h"
#include "metrics/ComposeMessage.h"
#include "metrics/HostNames.h"
#include "metrics/MessageTemplates.h"
#include "metrics/MetricsSoapClient.h"
#include "metrics/SaxReaderClass.h"
#include "metrics/ServiceEndpoint.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
const wchar_t kOpmodeKey[] = L"SOFTWARE\\Tarnwell\\kaldris";

std::wstring ServiceUrl(const wchar_t* host)
{
    return std::wstring(L"http://") + host + L"/kaldris/Mervo3/mervoservice2.asmx";
}

class CTestMetricsClient : public CMetricsSoapClient
{
public:
    using CMetricsSoapClient::CMetricsSoapClient;
    using CSoapClient::m_connectionHandle;
    using CSoapClient::m_internetHandle;
    using CSoapClient::m_objectName;
    using CSoapClient::m_requestBody;
    using CSoapClient::m_requestFlags;
    using CSoapClient::m_requestHandle;
    using CSoapClient::m_saxReader;
    using CSoapClient::m_serviceUrl;
};

// Each test starts without the Opmode key and leaves none behind.
class MetricsClient : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kOpmodeKey);
        ASSERT_TRUE(SUCCEEDED(m_apartment.Result()));
    }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kOpmodeKey); }

    static void SetOpmode(DWORD type, const void* data, DWORD size)
    {
        CUniqueHKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kOpmodeKey, 0, nullptr, 0,
                                                 KEY_SET_VALUE, nullptr, key.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), L"Opmode", 0, type,
                                                static_cast<const BYTE*>(data), size));
    }

    const CComApartment m_apartment{COINIT_APARTMENTTHREADED};
};

TEST_F(MetricsClient, OpmodeChoosesTheHostOnlyAsADwordOfUpToFourBytes)
{
    const DWORD zero = 0, one = 1, two = 2, all = 0xFFFFFFFF;
    const BYTE eightBytes[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    const BYTE fourBytes[4] = {1, 0, 0, 0};
    const DWORD bigEndianOne = 0x01000000;
    const ULONGLONG qwordOne = 1;
    const struct
    {
        const char* name;
        DWORD type;
        const void* data;
        DWORD size;
        const wchar_t* host;
    } cases[] = {
        {"DWORD 0", REG_DWORD, &zero, 4, ZORVIK_METRICS_INTERNAL_HOST},
        {"DWORD 1", REG_DWORD, &one, 4, ZORVIK_METRICS_ALTERNATE_HOST},
        {"DWORD 2", REG_DWORD, &two, 4, ZORVIK_METRICS_HOST},
        {"DWORD -1", REG_DWORD, &all, 4, ZORVIK_METRICS_HOST},
        {"string 1", REG_SZ, L"1", 4, ZORVIK_METRICS_HOST},
        {"8-byte binary", REG_BINARY, eightBytes, 8, ZORVIK_METRICS_HOST},
        {"4-byte binary", REG_BINARY, fourBytes, 4, ZORVIK_METRICS_HOST},
        {"big-endian DWORD", REG_DWORD_BIG_ENDIAN, &bigEndianOne, 4, ZORVIK_METRICS_HOST},
        {"QWORD 1", REG_QWORD, &qwordOne, 8, ZORVIK_METRICS_HOST},
        {"2-byte DWORD 01 00", REG_DWORD, &one, 2, ZORVIK_METRICS_ALTERNATE_HOST},
        {"1-byte DWORD 00", REG_DWORD, &zero, 1, ZORVIK_METRICS_INTERNAL_HOST},
    };
    EXPECT_EQ(ServiceUrl(ZORVIK_METRICS_HOST), ResolveMetricsServiceUrl()) << "no key";
    for (const auto& c : cases)
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kOpmodeKey);
        SetOpmode(c.type, c.data, c.size);
        EXPECT_EQ(ServiceUrl(c.host), ResolveMetricsServiceUrl()) << c.name;
    }
}

TEST_F(MetricsClient, ServiceUrlIsResolvedOncePerProcess)
{
    const DWORD zero = 0, one = 1;
    SetOpmode(REG_DWORD, &zero, 4);
    const std::wstring first = MetricsServiceUrl();
    SetOpmode(REG_DWORD, &one, 4);
    EXPECT_EQ(ServiceUrl(ZORVIK_METRICS_ALTERNATE_HOST), ResolveMetricsServiceUrl());
    EXPECT_EQ(first, MetricsServiceUrl());
}

TEST_F(MetricsClient, ResolveEndpointAddressesThePlainHttpServiceAndInstallsTheHandler)
{
    const auto record = MakeDownloadedRecord(L"S");
    CTestMetricsClient client(*record);
    ASSERT_EQ(S_OK, client.ResolveEndpoint());

    const std::wstring url = MetricsServiceUrl();
    const std::wstring host(client.m_serviceUrl.m_hostName, client.m_serviceUrl.m_hostNameLength);
    EXPECT_EQ(url, L"http://" + host + L"/kaldris/Mervo3/mervoservice2.asmx");
    EXPECT_EQ(80, client.m_serviceUrl.m_port);
    EXPECT_EQ(L"/kaldris/Mervo3/mervoservice2.asmx", client.m_objectName);
    EXPECT_EQ(0x00440200u, client.m_requestFlags);

    ASSERT_TRUE(client.m_saxReader);
    ISAXContentHandler* handler = nullptr;
    ASSERT_EQ(S_OK, client.m_saxReader->getContentHandler(&handler));
    EXPECT_EQ(static_cast<ISAXContentHandler*>(&client), handler);
}

TEST_F(MetricsClient, UnregisteredSaxReaderFailsTheEndpoint)
{
    const auto record = MakeDownloadedRecord(L"S");
    CTestMetricsClient client(*record);
    const CHiddenRegistryKey hidden(HKEY_LOCAL_MACHINE, kSaxReaderClassKey);
    ASSERT_TRUE(hidden.Hidden());
    EXPECT_EQ(REGDB_E_CLASSNOTREG, client.ResolveEndpoint());
    EXPECT_FALSE(client.m_saxReader);
}

TEST_F(MetricsClient, SendMetricPostsTheComposedMessageAndResets)
{
    const std::wstring session = L"{A1B2C3D4-0000-4000-8000-123456789ABC}&<x>";
    CTestMetricsClient* client = nullptr;
    {
        auto record = MakeInstalledRecord(session);
        client = new CTestMetricsClient(*record);
    } // the client holds copies, not the record's strings
    const std::unique_ptr<CTestMetricsClient> owner(client);
    ASSERT_EQ(S_OK, client->ResolveEndpoint());
    const std::wstring port = LoopbackPort("HTTP");
    ASSERT_FALSE(port.empty());
    client->SetServiceUrl(
        (L"http://127.0.0.1:" + port + L"/kaldris/Mervo3/mervoservice2.asmx").c_str());

    EXPECT_EQ(S_OK, client->SendMetric());
    EXPECT_EQ("", client->m_requestBody.Text());
    EXPECT_FALSE(client->m_requestHandle);
    EXPECT_FALSE(client->m_internetHandle);
    EXPECT_TRUE(client->m_saxReader); // the reader outlives the reset

    const std::string received = FetchUrl(L"http://127.0.0.1:" + port + L"/last-request");
    const std::string expectedBody =
        ComposeMessage(MakeMessageValueTexts(nullptr, 11, 8, session.c_str(), 0, 0, 0, 0),
                       kCountUpdateInstalledTemplate);
    EXPECT_EQ(0u, received.find("POST /kaldris/Mervo3/mervoservice2.asmx HTTP/1.1\r\n"))
        << received;
    EXPECT_NE(std::string::npos,
              received.find("SOAPAction: \"" + std::string(kMetricsNamespaceUri) +
                            "CountUpdateInstalled\"\r\nContent-Type: text/xml; charset=utf-8\r\n"))
        << received;
    ASSERT_GE(received.size(), expectedBody.size());
    EXPECT_EQ(expectedBody, received.substr(received.size() - expectedBody.size()));
    EXPECT_NE(std::string::npos,
              expectedBody.find(
                  "<Session>{A1B2C3D4-0000-4000-8000-123456789ABC}&amp;&lt;x&gt;</Session>"));
}

TEST_F(MetricsClient, FailedPostIsTheResultAndTheClientIsResetAnyway)
{
    const auto record = MakeDownloadedRecord(L"S");
    CTestMetricsClient client(*record);
    ASSERT_EQ(S_OK, client.ResolveEndpoint());
    client.SetServiceUrl((L"http://127.0.0.1:" + LoopbackPort("CLOSED") + L"/x").c_str());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INTERNET_CANNOT_CONNECT), client.SendMetric());
    EXPECT_EQ("", client.m_requestBody.Text());
    EXPECT_FALSE(client.m_connectionHandle);
    EXPECT_EQ(0u, client.m_requestFlags);
}

TEST(SaxContentHandler, CountsNothingAndHandsOutNothing)
{
    const auto record = MakeDownloadedRecord(L"S");
    CTestMetricsClient client(*record);
    ISAXContentHandler& handler = client;
    void* object = &client;
    EXPECT_EQ(E_NOTIMPL, handler.QueryInterface(IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(1u, handler.AddRef());
    EXPECT_EQ(1u, handler.Release());
    EXPECT_EQ(1u, handler.Release());
    EXPECT_EQ(S_OK, handler.endElement(L"", 0, L"a", 1, L"a", 1));
    EXPECT_EQ(S_OK, handler.startDocument());
    EXPECT_EQ(S_OK, handler.characters(L"x", 1));
}
} // namespace
