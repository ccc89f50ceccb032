#pragma once

#include "common/ComOwner.h"
#include "common/Owners.h"
#include "soap/InetStream.h"
#include "soap/StringWriteStream.h"
#include "soap/UrlComponents.h"

#include <windows.h>
#include <msxml2.h>
#include <wininet.h>

#include <memory>
#include <string>

// The server certificate of the last https request, as the platform formats
// it. The check reads m_matchText; both fields get the same text.
struct CertificateInfo
{
    std::wstring m_text;
    std::wstring m_matchText;
};

// A SOAP 1.1 client over WinINet. Per call: SetServiceUrl, write the body into
// m_requestBody, PostEnvelope once, optionally read m_responseStream, then
// ResetClient. Every handle and the certificate record end with ResetClient or
// the destructor. No memory, anywhere in an operation, raises the string
// layer's CStringError(E_OUTOFMEMORY) to the caller.
class CSoapClient
{
public:
    CSoapClient();
    virtual ~CSoapClient();
    CSoapClient(const CSoapClient&) = delete;
    CSoapClient& operator=(const CSoapClient&) = delete;

    // Parses and stores the URL for the next request and drops any earlier
    // request state. A URL that cannot be escaped leaves the former one.
    void SetServiceUrl(const wchar_t* url);

    // Drops the request state, empties the body and closes the HTTP handles.
    void ResetClient();

    // Posts the body with the caller's headers (complete lines ending in CR LF)
    // followed by the Content-Type line.
    HRESULT PostEnvelope(const wchar_t* extraHeaders);

protected:
    HRESULT OpenConnection();
    void CloseHandles();
    HRESULT VerifyServerCertificate(HINTERNET request);
    bool StoreCertificateText(const std::wstring& text);

    std::unique_ptr<CertificateInfo> m_certificateInfo;
    CUniqueHInternet m_internetHandle;
    CUniqueHInternet m_connectionHandle;
    CUniqueHInternet m_requestHandle;
    CUrlComponents m_serviceUrl;
    std::wstring m_objectName;
    DWORD m_timeoutMs = 0;
    CInetStream m_responseStream;
    CCStringWriteStream m_requestBody;
    CComOwner<ISAXXMLReader> m_saxReader;
    DWORD m_requestFlags = 0;
};
