#pragma once

// The metrics service's request envelopes. A template is told apart by its
// address, never by its text.
extern const char kCountSessionTemplate[];
extern const char kCountUpdateRecommendedTemplate[];
extern const char kCountUpdateSelectedTemplate[];
extern const char kCountUpdateDownloadedTemplate[];
extern const char kCountUpdateInstalledTemplate[];
extern const char kCountUpdateHiddenTemplate[];
extern const char kCountToolSessionTemplate[];

// The metrics namespace URI, as it stands in every envelope.
extern const char kMetricsNamespaceUri[];

// Complete SOAPAction header lines, CR LF included, for the two operations
// that the reporting run sends.
extern const wchar_t kCountUpdateDownloadedSoapAction[];
extern const wchar_t kCountUpdateInstalledSoapAction[];
