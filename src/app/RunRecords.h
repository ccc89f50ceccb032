#pragma once

#include "app/MetricRequest.h"

#include <memory>
#include <string>

// The two reports of a run, CountUpdateDownloaded then CountUpdateInstalled,
// for the given session identifier. Raises CStringError(E_OUTOFMEMORY) when
// the identifier cannot be copied.
std::unique_ptr<MetricRequest> MakeDownloadedRecord(const std::wstring& sessionId);
std::unique_ptr<MetricRequest> MakeInstalledRecord(const std::wstring& sessionId);
