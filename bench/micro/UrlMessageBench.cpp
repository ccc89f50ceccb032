#include "UrlMessageBench.h"

#include "AllocationCounter.h"
#include "Output.h"
#include "Stopwatch.h"
#include "metrics/ComposeMessage.h"
#include "metrics/HostNames.h"
#include "metrics/MessageTemplates.h"
#include "metrics/MessageValues.h"
#include "soap/UrlComponents.h"
#include "soap/UrlEscape.h"

#include <windows.h>
#include <wininet.h>

#include <iterator>
#include <memory>
#include <string>

namespace
{
constexpr int kCallsPerRound = 2000;
constexpr int kCountedCalls = 100;
const wchar_t kServiceUrl[] = L"http://" ZORVIK_METRICS_HOST L"/kaldris/Mervo3/mervoservice2.asmx";
const wchar_t kSessionId[] = L"{5D3A9C21-7E4B-4F08-A1C6-92B0E8D4F317}";

// One measured operation: a name and a call that fails the benchmark when
// the operation does not give its expected result.
struct Operation
{
    const char* side;
    void (*call)();
};

// Shared by the operations; the URL record is too large for a stack frame
// that is entered thousands of times.
struct Workspace
{
    wchar_t escaped[kEscapedUrlCapacity] = {};
    CUrlComponents components;
    MessageValueTexts texts;
    std::string expectedBody;
    wchar_t crackedScheme[CUrlComponents::kMaxSchemeName + 1] = {};
    wchar_t crackedHost[CUrlComponents::kMaxHostName + 1] = {};
    wchar_t crackedUser[CUrlComponents::kMaxUserName + 1] = {};
    wchar_t crackedPassword[CUrlComponents::kMaxPassword + 1] = {};
    wchar_t crackedPath[CUrlComponents::kMaxPath + 1] = {};
    wchar_t crackedExtra[CUrlComponents::kMaxExtraInfo + 1] = {};
};
std::unique_ptr<Workspace> g_work;

void Escape()
{
    if (!EscapeUrlText(kServiceUrl, g_work->escaped))
    {
        Fail("EscapeUrlText refused the service URL");
    }
}

// As the SOAP client does it: the record is cleared, then parsed into.
void Parse()
{
    g_work->components.ClearComponents();
    if (!g_work->components.ParseUrl(g_work->escaped) || g_work->components.m_port != 80)
    {
        Fail("ParseUrl refused the service URL");
    }
}

void EscapeAndParse()
{
    Escape();
    Parse();
}

// The platform's parser, into caller buffers of the record's sizes.
void CrackUrl()
{
    Workspace& work = *g_work;
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszScheme = work.crackedScheme;
    parts.dwSchemeLength = static_cast<DWORD>(std::size(work.crackedScheme));
    parts.lpszHostName = work.crackedHost;
    parts.dwHostNameLength = static_cast<DWORD>(std::size(work.crackedHost));
    parts.lpszUserName = work.crackedUser;
    parts.dwUserNameLength = static_cast<DWORD>(std::size(work.crackedUser));
    parts.lpszPassword = work.crackedPassword;
    parts.dwPasswordLength = static_cast<DWORD>(std::size(work.crackedPassword));
    parts.lpszUrlPath = work.crackedPath;
    parts.dwUrlPathLength = static_cast<DWORD>(std::size(work.crackedPath));
    parts.lpszExtraInfo = work.crackedExtra;
    parts.dwExtraInfoLength = static_cast<DWORD>(std::size(work.crackedExtra));
    if (!InternetCrackUrlW(kServiceUrl, /* dwUrlLength */ 0, /* dwFlags */ 0, &parts) ||
        parts.nPort != INTERNET_DEFAULT_HTTP_PORT)
    {
        Fail("InternetCrackUrlW refused the service URL");
    }
}

void Compose()
{
    const std::string body = ComposeMessage(g_work->texts, kCountUpdateDownloadedTemplate);
    if (body != g_work->expectedBody)
    {
        Fail("ComposeMessage gave another body");
    }
}

// The least any composition of the body does: one string of its bytes.
void CopyBody()
{
    const std::string body(g_work->expectedBody);
    if (body != g_work->expectedBody)
    {
        Fail("the copy of the body differs");
    }
}

void TimeSideBySide(const char* item, const Operation& first, const Operation& second, int rounds)
{
    for (const Operation* operation : {&first, &second})
    {
        const std::uint64_t before = AllocationCount();
        for (int call = 0; call < kCountedCalls; ++call)
        {
            operation->call();
        }
        Emit(item, operation->side, "allocations_per_call", 0,
             static_cast<double>(AllocationCount() - before) / kCountedCalls);
    }
    for (int round = 0; round < rounds; ++round)
    {
        const bool firstGoesFirst = round % 2 == 0;
        for (const Operation* operation :
             {firstGoesFirst ? &first : &second, firstGoesFirst ? &second : &first})
        {
            const CStopwatch stopwatch;
            for (int call = 0; call < kCallsPerRound; ++call)
            {
                operation->call();
            }
            Emit(item, operation->side, "seconds_per_call", round,
                 stopwatch.Seconds() / kCallsPerRound);
        }
    }
}
} // namespace

void RunUrlMessageBench(int rounds)
{
    Emit("url", "MicroBench", "calls_per_round", 0, kCallsPerRound);
    Emit("url", "MicroBench", "counted_calls", 0, kCountedCalls);
    g_work = std::make_unique<Workspace>();
    g_work->texts = MakeMessageValueTexts(/* browser */ nullptr, 11, 0, kSessionId, 0, 0, 0, 0);
    g_work->expectedBody = ComposeMessage(g_work->texts, kCountUpdateDownloadedTemplate);
    Escape();
    if (std::wstring(g_work->escaped) != kServiceUrl)
    {
        Fail("the service URL should come out of escaping unchanged");
    }

    // Each operation alone, for its own allocations, then the pair.
    TimeSideBySide("url.escape", Operation{"EscapeUrlText", Escape},
                   Operation{"InternetCrackUrlW", CrackUrl}, rounds);
    TimeSideBySide("url.parse", Operation{"ParseUrl", Parse},
                   Operation{"InternetCrackUrlW", CrackUrl}, rounds);
    TimeSideBySide("url.escape_parse", Operation{"EscapeUrlText+ParseUrl", EscapeAndParse},
                   Operation{"InternetCrackUrlW", CrackUrl}, rounds);
    TimeSideBySide("message.compose", Operation{"ComposeMessage", Compose},
                   Operation{"string copy", CopyBody}, rounds);
    g_work.reset();
}
