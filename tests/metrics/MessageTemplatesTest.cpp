#include "metrics/HostNames.h"
#include "metrics/MessageTemplates.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{
const std::string kNamespace =
    std::string("http://") + ZORVIK_NAMESPACE_HOST + "/Fenmor-It/Support/MervoMetrics/";

// Expected envelopes written out in full; "{NS}" stands for the namespace URI.
std::string WithNamespace(std::string text)
{
    const std::string token = "{NS}";
    const size_t at = text.find(token);
    EXPECT_NE(at, std::string::npos);
    return text.replace(at, token.size(), kNamespace);
}

struct TemplateCase
{
    const char* name;
    const char* messageTemplate;
    const char* expected;
    size_t lengthWithoutNamespace;
};

const TemplateCase kTemplates[] = {
    {"CountSession", kCountSessionTemplate,
     R"(<soap:Envelope      xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"      xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"      xmlns:xsd="http://www.w3.org/2001/XMLSchema"      xmlns:soapenc="http://schemas.xmlsoap.org/soap/encoding/">  <soap:Body>    <CountSession xmlns="{NS}">      <Browser>${browser}</Browser>      <Language>${language}</Language>      <Country>${country}</Country>      <Os>${os}</Os>      <Session>${session}</Session>    </CountSession>  </soap:Body></soap:Envelope>)",
     499},
    {"CountUpdateRecommended", kCountUpdateRecommendedTemplate,
     R"(<soap:Envelope      xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"      xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"      xmlns:xsd="http://www.w3.org/2001/XMLSchema"      xmlns:soapenc="http://schemas.xmlsoap.org/soap/encoding/">  <soap:Body>    <CountUpdateRecommended xmlns="{NS}">      <PackageId>${packageId}</PackageId>      <Session>${session}</Session>    </CountUpdateRecommended>  </soap:Body></soap:Envelope>)",
     432},
    {"CountUpdateSelected", kCountUpdateSelectedTemplate,
     R"(<soap:Envelope      xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"      xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"      xmlns:xsd="http://www.w3.org/2001/XMLSchema"      xmlns:soapenc="http://schemas.xmlsoap.org/soap/encoding/">  <soap:Body>    <CountUpdateSelected xmlns="{NS}">      <PackageId>${packageId}</PackageId>      <Session>${session}</Session>    </CountUpdateSelected>  </soap:Body></soap:Envelope>)",
     426},
    {"CountUpdateDownloaded", kCountUpdateDownloadedTemplate,
     R"(<soap:Envelope      xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"      xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"      xmlns:xsd="http://www.w3.org/2001/XMLSchema"      xmlns:soapenc="http://schemas.xmlsoap.org/soap/encoding/">  <soap:Body>    <CountUpdateDownloaded xmlns="{NS}">      <PackageId>${packageId}</PackageId>      <ResultId>${resultId}</ResultId>      <Session>${session}</Session>    </CountUpdateDownloaded>  </soap:Body></soap:Envelope>)",
     468},
    {"CountUpdateInstalled", kCountUpdateInstalledTemplate,
     R"(<soap:Envelope      xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"      xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"      xmlns:xsd="http://www.w3.org/2001/XMLSchema"      xmlns:soapenc="http://schemas.xmlsoap.org/soap/encoding/">  <soap:Body>    <CountUpdateInstalled xmlns="{NS}">      <PackageId>${packageId}</PackageId>      <ResultId>${resultId}</ResultId>      <Session>${session}</Session>    </CountUpdateInstalled>  </soap:Body></soap:Envelope>)",
     466},
    {"CountUpdateHidden", kCountUpdateHiddenTemplate,
     "<soap:Envelope      xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"      "
     "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"      "
     "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"      "
     "xmlns:soapenc=\"http://schemas.xmlsoap.org/soap/encoding/\">\t<soap:Body>    "
     "<CountUpdateHidden xmlns=\"{NS}\">      <PackageId>${packageId}</PackageId>      "
     "<Session>${session}</Session>    </CountUpdateHidden>  </soap:Body></soap:Envelope>",
     421},
    {"CountToolSession", kCountToolSessionTemplate,
     R"(<soap:Envelope  xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"  xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"  xmlns:xsd="http://www.w3.org/2001/XMLSchema"  xmlns:soapenc="http://schemas.xmlsoap.org/soap/encoding/"> <soap:Body> <CountToolSession xmlns="{NS}"> <ToolCode>${toolcode}</ToolCode> <Browser>${browser}</Browser> <Session>${session}</Session> </CountToolSession> </soap:Body></soap:Envelope>)",
     413},
};

TEST(MessageTemplates, NamespaceUriIsBuiltFromTheConfiguredHost)
{
    EXPECT_EQ(kNamespace, kMetricsNamespaceUri);
}

TEST(MessageTemplates, EachTemplateHasItsExactBytesAndLength)
{
    for (const TemplateCase& c : kTemplates)
    {
        SCOPED_TRACE(c.name);
        const std::string actual = c.messageTemplate;
        EXPECT_EQ(WithNamespace(c.expected), actual);
        EXPECT_EQ(c.lengthWithoutNamespace + kNamespace.size(), actual.size());
        // One line, no declaration, nothing after the envelope.
        EXPECT_EQ(actual.find_first_of("\r\n"), std::string::npos);
        EXPECT_EQ(actual.rfind("</soap:Envelope>"), actual.size() - strlen("</soap:Envelope>"));
    }
}

TEST(MessageTemplates, SoapActionLinesNameTheNamespaceAndOperation)
{
    const std::wstring wideNamespace(kNamespace.begin(), kNamespace.end());
    const std::wstring downloaded = kCountUpdateDownloadedSoapAction;
    const std::wstring installed = kCountUpdateInstalledSoapAction;

    EXPECT_EQ(L"SOAPAction: \"" + wideNamespace + L"CountUpdateDownloaded\"\r\n", downloaded);
    EXPECT_EQ(L"SOAPAction: \"" + wideNamespace + L"CountUpdateInstalled\"\r\n", installed);
    EXPECT_EQ(37 + wideNamespace.size(), downloaded.size());
    EXPECT_EQ(36 + wideNamespace.size(), installed.size());
}
} // namespace
