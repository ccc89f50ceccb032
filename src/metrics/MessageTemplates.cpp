#include "metrics/MessageTemplates.h"

#include "metrics/HostNames.h"

// Every envelope is one line with no XML declaration; the gaps between
// elements differ from template to template and the service's logs are
// compared byte for byte, so each template is written out in full.
#define METRICS_NS "http://" ZORVIK_NAMESPACE_HOST "/Fenmor-It/Support/MervoMetrics/"

#define ENVELOPE_START(gap)                                                                        \
    "<soap:Envelope" gap "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"" gap            \
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"" gap                                  \
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"" gap                                           \
    "xmlns:soapenc=\"http://schemas.xmlsoap.org/soap/encoding/\">"

#define OPERATION_START(name) "<" name " xmlns=\"" METRICS_NS "\">"
#define ENVELOPE_END "</soap:Body></soap:Envelope>"

#define SP1 " "
#define SP2 "  "
#define SP4 "    "
#define SP6 "      "

const char kMetricsNamespaceUri[] = METRICS_NS;

// One line per element, as the message reads.
// clang-format off

const char kCountSessionTemplate[] =
    ENVELOPE_START(SP6) SP2 "<soap:Body>" SP4 OPERATION_START("CountSession")
    SP6 "<Browser>${browser}</Browser>"
    SP6 "<Language>${language}</Language>"
    SP6 "<Country>${country}</Country>"
    SP6 "<Os>${os}</Os>"
    SP6 "<Session>${session}</Session>"
    SP4 "</CountSession>" SP2 ENVELOPE_END;

const char kCountUpdateRecommendedTemplate[] =
    ENVELOPE_START(SP6) SP2 "<soap:Body>" SP4 OPERATION_START("CountUpdateRecommended")
    SP6 "<PackageId>${packageId}</PackageId>"
    SP6 "<Session>${session}</Session>"
    SP4 "</CountUpdateRecommended>" SP2 ENVELOPE_END;

const char kCountUpdateSelectedTemplate[] =
    ENVELOPE_START(SP6) SP2 "<soap:Body>" SP4 OPERATION_START("CountUpdateSelected")
    SP6 "<PackageId>${packageId}</PackageId>"
    SP6 "<Session>${session}</Session>"
    SP4 "</CountUpdateSelected>" SP2 ENVELOPE_END;

const char kCountUpdateDownloadedTemplate[] =
    ENVELOPE_START(SP6) SP2 "<soap:Body>" SP4 OPERATION_START("CountUpdateDownloaded")
    SP6 "<PackageId>${packageId}</PackageId>"
    SP6 "<ResultId>${resultId}</ResultId>"
    SP6 "<Session>${session}</Session>"
    SP4 "</CountUpdateDownloaded>" SP2 ENVELOPE_END;

const char kCountUpdateInstalledTemplate[] =
    ENVELOPE_START(SP6) SP2 "<soap:Body>" SP4 OPERATION_START("CountUpdateInstalled")
    SP6 "<PackageId>${packageId}</PackageId>"
    SP6 "<ResultId>${resultId}</ResultId>"
    SP6 "<Session>${session}</Session>"
    SP4 "</CountUpdateInstalled>" SP2 ENVELOPE_END;

// This one has a TAB before <soap:Body>.
const char kCountUpdateHiddenTemplate[] =
    ENVELOPE_START(SP6) "\t" "<soap:Body>" SP4 OPERATION_START("CountUpdateHidden")
    SP6 "<PackageId>${packageId}</PackageId>"
    SP6 "<Session>${session}</Session>"
    SP4 "</CountUpdateHidden>" SP2 ENVELOPE_END;

// This one uses single spaces between elements and two between attributes.
const char kCountToolSessionTemplate[] =
    ENVELOPE_START(SP2) SP1 "<soap:Body>" SP1 OPERATION_START("CountToolSession")
    SP1 "<ToolCode>${toolcode}</ToolCode>"
    SP1 "<Browser>${browser}</Browser>"
    SP1 "<Session>${session}</Session>"
    SP1 "</CountToolSession>" SP1 ENVELOPE_END;

// clang-format on

const wchar_t kCountUpdateDownloadedSoapAction[] =
    L"SOAPAction: \"" METRICS_NS "CountUpdateDownloaded\"\r\n";
const wchar_t kCountUpdateInstalledSoapAction[] =
    L"SOAPAction: \"" METRICS_NS "CountUpdateInstalled\"\r\n";
