#include "app/ReportMetric.h"

#include "common/ComOwner.h"
#include "metrics/MetricsSoapClient.h"

#include <memory>

HRESULT ReportMetric(MetricRequest* request)
{
    if (request == nullptr)
    {
        return E_POINTER;
    }
    // Declared first, so the record is freed last: after the client and the
    // apartment have ended.
    const std::unique_ptr<MetricRequest> record(request);

    const CComApartment apartment(COINIT_APARTMENTTHREADED);
    if (FAILED(apartment.Result()))
    {
        return E_UNEXPECTED;
    }

    // Whatever one report raises ends that report alone; the next report and
    // the clean-up still follow.
    try
    {
        CMetricsSoapClient client(*record);
        if (FAILED(client.ResolveEndpoint()))
        {
            return E_FAIL;
        }
        return FAILED(client.SendMetric()) ? E_FAIL : S_OK;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}
