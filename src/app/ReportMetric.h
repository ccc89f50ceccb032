#pragma once

#include "app/MetricRequest.h"

#include <windows.h>

// Sends one metric report in a COM apartment of its own. Takes ownership of
// the record and frees it before returning, on every path but that of a null
// record. Results: S_OK, E_FAIL (the report could not be sent), E_POINTER (no
// record), E_UNEXPECTED (COM could not be initialised, or the report ran out
// of memory).
HRESULT ReportMetric(MetricRequest* request);
