#pragma once

#include "metrics/HostNames.h"

// The two requests of a reporting run for the benchmark's session file, as
// finished bytes: what the program composes at run time, written out. The
// benchmark checks that the stand-in service receives the same bytes from
// both programs.
#define FLOOR_SESSION_ID "{5D3A9C21-7E4B-4F08-A1C6-92B0E8D4F317}"

#define FLOOR_NS "http://" ZORVIK_NAMESPACE_HOST "/Fenmor-It/Support/MervoMetrics/"
#define FLOOR_ENVELOPE_START                                                                       \
    "<soap:Envelope      xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\""                 \
    "      xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""                                \
    "      xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\""                                         \
    "      xmlns:soapenc=\"http://schemas.xmlsoap.org/soap/encoding/\">  <soap:Body>    "
#define FLOOR_BODY(operation, resultId)                                                            \
    FLOOR_ENVELOPE_START "<" operation " xmlns=\"" FLOOR_NS "\">"                                  \
                         "      <PackageId>11</PackageId>      <ResultId>" resultId "</ResultId>"  \
                         "      <Session>" FLOOR_SESSION_ID "</Session>    </" operation           \
                         ">  </soap:Body></soap:Envelope>"
#define FLOOR_HEADERS(operation)                                                                   \
    L"SOAPAction: \"" FLOOR_NS operation "\"\r\nContent-Type: text/xml; charset=utf-8\r\n"

const char kFloorDownloadedBody[] = FLOOR_BODY("CountUpdateDownloaded", "0");
const char kFloorInstalledBody[] = FLOOR_BODY("CountUpdateInstalled", "8");
const wchar_t kFloorDownloadedHeaders[] = FLOOR_HEADERS("CountUpdateDownloaded");
const wchar_t kFloorInstalledHeaders[] = FLOOR_HEADERS("CountUpdateInstalled");
