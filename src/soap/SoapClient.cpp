#include "soap/SoapClient.h"

#include "common/Result.h"
#include "common/StringError.h"
#include "common/Strings.h"
#include "soap/UrlEscape.h"

#include <new>

namespace
{
const wchar_t kUserAgent[] = L"Zorvik Rules Engine/2.0";
const wchar_t kContentTypeHeader[] = L"Content-Type: text/xml; charset=utf-8\r\n";
// The certificate's text must name the vendor, in this letter case.
const wchar_t kCertificateName[] = L"Tarnwell";
constexpr DWORD kCertificateTextBytes = 4096;
// The escaped URL text, terminator included, and one unit spare.
constexpr size_t kEscapedUrlUnits = kEscapedUrlCapacity + 1;

constexpr DWORD kRequestFlags =
    INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_UI;
// No flag that ignores certificate errors: the platform's validation stays on.
constexpr DWORD kSecureRequestFlags = INTERNET_FLAG_SECURE | kRequestFlags;
} // namespace

CSoapClient::CSoapClient()
{
    m_serviceUrl.InitHttpDefaults();
}

CSoapClient::~CSoapClient()
{
    ResetClient();
    m_saxReader.reset();
}

void CSoapClient::SetServiceUrl(const wchar_t* url)
{
    if (url == nullptr)
    {
        return;
    }
    ResetClient();

    wchar_t escaped[kEscapedUrlUnits];
    if (EscapeUrlText(url, escaped))
    {
        m_serviceUrl.ClearComponents();
        if (m_serviceUrl.ParseUrl(escaped))
        {
            m_objectName = JoinWide({m_serviceUrl.m_path, m_serviceUrl.m_pathLength},
                                    {m_serviceUrl.m_extraInfo, m_serviceUrl.m_extraInfoLength});
        }
    }
    m_requestFlags = m_serviceUrl.m_schemeId == SchemeHttps ? kSecureRequestFlags : kRequestFlags;
}

void CSoapClient::ResetClient()
{
    m_requestFlags = 0;
    m_certificateInfo.reset();
    m_requestBody.Clear();
    CloseHandles();
    m_responseStream.Detach();
}

void CSoapClient::CloseHandles()
{
    m_requestHandle.reset();
    m_connectionHandle.reset();
    m_internetHandle.reset();
}

HRESULT CSoapClient::OpenConnection()
{
    // A second post without a reset would otherwise overwrite, and leak, the
    // handles of the first.
    m_responseStream.Detach();
    CloseHandles();

    m_internetHandle.reset(InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG,
                                         /* lpszProxy */ nullptr, /* lpszProxyBypass */ nullptr,
                                         /* dwFlags */ 0));
    if (m_internetHandle && m_timeoutMs != 0)
    {
        // An array, not a braced list: the constants are int, and a list of
        // them would be converted to DWORD one by one.
        const DWORD timeoutOptions[] = {INTERNET_OPTION_CONNECT_TIMEOUT,
                                        INTERNET_OPTION_RECEIVE_TIMEOUT,
                                        INTERNET_OPTION_SEND_TIMEOUT};
        for (const DWORD option : timeoutOptions)
        {
            InternetSetOptionW(m_internetHandle.get(), option, &m_timeoutMs, sizeof(m_timeoutMs));
        }
    }
    if (m_internetHandle)
    {
        const std::wstring host =
            JoinWide({m_serviceUrl.m_hostName, m_serviceUrl.m_hostNameLength});
        m_connectionHandle.reset(InternetConnectW(m_internetHandle.get(), host.c_str(),
                                                  m_serviceUrl.m_port, /* lpszUserName */ nullptr,
                                                  /* lpszPassword */ nullptr, INTERNET_SERVICE_HTTP,
                                                  /* dwFlags */ 0, /* dwContext */ 0));
    }
    if (m_connectionHandle)
    {
        return S_OK;
    }
    CloseHandles();
    return E_FAIL;
}

HRESULT CSoapClient::PostEnvelope(const wchar_t* extraHeaders)
{
    if (extraHeaders == nullptr)
    {
        return E_POINTER;
    }
    if (FAILED(OpenConnection()))
    {
        return E_FAIL;
    }

    const std::wstring headers = JoinWide(extraHeaders, kContentTypeHeader);
    const wchar_t* acceptTypes[] = {L"text/*", nullptr};
    m_requestHandle.reset(HttpOpenRequestW(m_connectionHandle.get(), L"POST", m_objectName.c_str(),
                                           /* lpszVersion */ nullptr, /* lpszReferrer */ nullptr,
                                           acceptTypes, m_requestFlags, /* dwContext */ 0));
    if (!m_requestHandle)
    {
        return HResultFromLastError();
    }

    // HttpSendRequestW succeeds whatever the HTTP status: the answer is not ours
    // to judge, only that the request was delivered.
    const std::string& body = m_requestBody.Text();
    if (!HttpSendRequestW(m_requestHandle.get(), headers.c_str(),
                          static_cast<DWORD>(headers.size()), const_cast<char*>(body.data()),
                          static_cast<DWORD>(body.size())))
    {
        return HResultFromLastError();
    }

    if ((m_requestFlags & INTERNET_FLAG_SECURE) != 0)
    {
        const HRESULT result = VerifyServerCertificate(m_requestHandle.get());
        if (FAILED(result))
        {
            return result;
        }
    }
    m_responseStream.Attach(m_requestHandle.get());
    return S_OK;
}

HRESULT CSoapClient::VerifyServerCertificate(HINTERNET request)
{
    char text[kCertificateTextBytes] = {};
    DWORD size = sizeof(text);
    if (!InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_CERTIFICATE, text, &size))
    {
        return HResultFromLastError();
    }
    // The text is read up to its terminator, which must lie inside the buffer.
    text[sizeof(text) - 1] = '\0';

    if (StoreCertificateText(NarrowToWide(text, CP_THREAD_ACP)) &&
        m_certificateInfo->m_matchText.find(kCertificateName) != std::wstring::npos)
    {
        return S_OK;
    }
    return E_FAIL;
}

bool CSoapClient::StoreCertificateText(const std::wstring& text)
{
    if (text.empty())
    {
        return false;
    }
    m_certificateInfo.reset();
    std::unique_ptr<CertificateInfo> info(new (std::nothrow) CertificateInfo);
    if (!info)
    {
        ThrowStringError(E_OUTOFMEMORY);
    }
    info->m_text = JoinWide(text);
    info->m_matchText = JoinWide(text);
    m_certificateInfo = std::move(info);
    return true;
}
