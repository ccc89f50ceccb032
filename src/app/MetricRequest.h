#pragma once

#include "common/Owners.h"

#include <cstdint>

// One metric report: its values, the message template that carries them and
// the SOAPAction line that goes with it. Deleting the record frees its two
// strings; the template and the SOAPAction line are program constants.
struct MetricRequest
{
    CUniqueBstr browser;
    std::int32_t packageId = 0;
    std::int32_t resultId = 0;
    CUniqueBstr session;
    std::int32_t language = 0;
    std::int32_t country = 0;
    std::int32_t os = 0;
    std::int32_t toolcode = 0;
    const char* messageTemplate = nullptr;
    const wchar_t* soapAction = nullptr;
};
