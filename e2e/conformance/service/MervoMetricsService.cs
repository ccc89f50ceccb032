using System.ServiceModel;

namespace Zorvik.Conformance
{
    // Counts nothing: each dispatched call is written to the call log with the
    // values the service's deserializer produced, for a test to compare.
    [ServiceBehavior(InstanceContextMode = InstanceContextMode.Single,
                     ConcurrencyMode = ConcurrencyMode.Multiple)]
    public sealed class MervoMetricsService : IMervoMetrics
    {
        private readonly CallLog m_log;

        public MervoMetricsService(CallLog log)
        {
            m_log = log;
        }

        public void CountSession(string Browser, int Language, int Country, int Os, string Session)
        {
            Log("CountSession", "Browser", Browser, "Language", Language, "Country", Country,
                "Os", Os, "Session", Session);
        }

        public void CountUpdateRecommended(int PackageId, string Session)
        {
            Log("CountUpdateRecommended", "PackageId", PackageId, "Session", Session);
        }

        public void CountUpdateSelected(int PackageId, string Session)
        {
            Log("CountUpdateSelected", "PackageId", PackageId, "Session", Session);
        }

        public void CountUpdateDownloaded(int PackageId, int ResultId, string Session)
        {
            Log("CountUpdateDownloaded", "PackageId", PackageId, "ResultId", ResultId,
                "Session", Session);
        }

        public void CountUpdateInstalled(int PackageId, int ResultId, string Session)
        {
            Log("CountUpdateInstalled", "PackageId", PackageId, "ResultId", ResultId,
                "Session", Session);
        }

        public void CountUpdateHidden(int PackageId, string Session)
        {
            Log("CountUpdateHidden", "PackageId", PackageId, "Session", Session);
        }

        public void CountToolSession(int ToolCode, string Browser, string Session)
        {
            Log("CountToolSession", "ToolCode", ToolCode, "Browser", Browser, "Session", Session);
        }

        private void Log(string operation, params object[] namesAndValues)
        {
            string action = OperationContext.Current.IncomingMessageHeaders.Action;
            m_log.Write(operation, action, namesAndValues);
        }
    }
}
