#pragma once

#include "app/MetricRequest.h"
#include "metrics/SaxContentHandlerImpl.h"
#include "soap/SoapClient.h"

#include <cstdint>
#include <string>

// Turns one metric request into one SOAP call to the metrics service. It is
// also the content handler it gives to the SAX reader; the response is never
// parsed, so the handler only has to exist.
class CMetricsSoapClient : public CSoapClient, public ISAXContentHandlerImpl
{
public:
    // Copies every field; the client keeps no reference to the record.
    explicit CMetricsSoapClient(const MetricRequest& request);
    // Releases the SAX reader first: its last Release calls back into the
    // content handler, which is this object's second base.
    ~CMetricsSoapClient() override;

    // Points the transport at the service and makes the SAX reader with this
    // client as its content handler.
    HRESULT ResolveEndpoint();

    // Composes the message and posts it; the connection is reset afterwards
    // whatever the outcome.
    HRESULT SendMetric();

    HRESULT STDMETHODCALLTYPE endElement(const wchar_t* namespaceUri, int namespaceUriLength,
                                         const wchar_t* localName, int localNameLength,
                                         const wchar_t* qualifiedName,
                                         int qualifiedNameLength) override;

private:
    std::wstring m_browser;
    std::int32_t m_packageId;
    std::int32_t m_resultId;
    std::int32_t m_language;
    std::int32_t m_country;
    std::int32_t m_os;
    std::int32_t m_toolCode;
    std::wstring m_session;
    const char* m_template;
    const wchar_t* m_soapAction;
};
