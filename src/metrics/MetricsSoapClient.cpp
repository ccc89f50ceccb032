#include "metrics/MetricsSoapClient.h"

#include "metrics/ComposeMessage.h"
#include "metrics/MessageValues.h"
#include "metrics/SaxReaderClass.h"
#include "metrics/ServiceEndpoint.h"

namespace
{
std::wstring CopyOrEmpty(const CUniqueBstr& text)
{
    return text ? std::wstring(text.get()) : std::wstring();
}
} // namespace

CMetricsSoapClient::CMetricsSoapClient(const MetricRequest& request)
    : m_browser(CopyOrEmpty(request.browser)),
      m_packageId(request.packageId),
      m_resultId(request.resultId),
      m_language(request.language),
      m_country(request.country),
      m_os(request.os),
      m_toolCode(request.toolcode),
      m_session(CopyOrEmpty(request.session)),
      m_template(request.messageTemplate),
      m_soapAction(request.soapAction)
{
}

CMetricsSoapClient::~CMetricsSoapClient()
{
    m_saxReader.reset();
}

HRESULT CMetricsSoapClient::ResolveEndpoint()
{
    SetServiceUrl(MetricsServiceUrl().c_str());
    if (!m_saxReader)
    {
        const HRESULT result =
            CoCreateInstance(CLSID_SAXXMLReader, /* pUnkOuter */ nullptr, CLSCTX_INPROC_SERVER,
                             IID_ISAXXMLReader, m_saxReader.put_void());
        if (FAILED(result))
        {
            return result;
        }
    }
    return m_saxReader->putContentHandler(this);
}

HRESULT CMetricsSoapClient::SendMetric()
{
    const MessageValueTexts texts =
        MakeMessageValueTexts(m_browser.c_str(), m_packageId, m_resultId, m_session.c_str(),
                              m_language, m_country, m_os, m_toolCode);
    const std::string body = ComposeMessage(texts, m_template);

    HRESULT result =
        m_requestBody.WriteBytes(body.c_str(), static_cast<std::int32_t>(body.size()), nullptr);
    if (FAILED(result))
    {
        return result;
    }
    result = PostEnvelope(m_soapAction);
    // The answer is not read: a report counts once its request was posted.
    ResetClient();
    return result;
}

HRESULT STDMETHODCALLTYPE CMetricsSoapClient::endElement(
    const wchar_t* /* namespaceUri */, int /* namespaceUriLength */, const wchar_t* /* localName */,
    int /* localNameLength */, const wchar_t* /* qualifiedName */, int /* qualifiedNameLength */)
{
    return S_OK;
}
