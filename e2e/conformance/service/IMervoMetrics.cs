using System.ServiceModel;

namespace Zorvik.Conformance
{
    // The metrics contract as a .NET web service publishes it: document/literal
    // through the XML serializer, SOAP actions of namespace and operation name.
    // XmlSerializerFormat stands on every operation as well as on the contract:
    // Mono picks the formatter from the operation's method alone and would
    // otherwise use the data contract serializer.
    [ServiceContract(Namespace = MetricsNamespace.Uri, Name = "MervoService2")]
    [XmlSerializerFormat(Style = OperationFormatStyle.Document, Use = OperationFormatUse.Literal)]
    public interface IMervoMetrics
    {
        [OperationContract(Action = MetricsNamespace.Uri + "CountSession")]
        [XmlSerializerFormat(Style = OperationFormatStyle.Document, Use = OperationFormatUse.Literal)]
        void CountSession(string Browser, int Language, int Country, int Os, string Session);

        [OperationContract(Action = MetricsNamespace.Uri + "CountUpdateRecommended")]
        [XmlSerializerFormat(Style = OperationFormatStyle.Document, Use = OperationFormatUse.Literal)]
        void CountUpdateRecommended(int PackageId, string Session);

        [OperationContract(Action = MetricsNamespace.Uri + "CountUpdateSelected")]
        [XmlSerializerFormat(Style = OperationFormatStyle.Document, Use = OperationFormatUse.Literal)]
        void CountUpdateSelected(int PackageId, string Session);

        [OperationContract(Action = MetricsNamespace.Uri + "CountUpdateDownloaded")]
        [XmlSerializerFormat(Style = OperationFormatStyle.Document, Use = OperationFormatUse.Literal)]
        void CountUpdateDownloaded(int PackageId, int ResultId, string Session);

        [OperationContract(Action = MetricsNamespace.Uri + "CountUpdateInstalled")]
        [XmlSerializerFormat(Style = OperationFormatStyle.Document, Use = OperationFormatUse.Literal)]
        void CountUpdateInstalled(int PackageId, int ResultId, string Session);

        [OperationContract(Action = MetricsNamespace.Uri + "CountUpdateHidden")]
        [XmlSerializerFormat(Style = OperationFormatStyle.Document, Use = OperationFormatUse.Literal)]
        void CountUpdateHidden(int PackageId, string Session);

        [OperationContract(Action = MetricsNamespace.Uri + "CountToolSession")]
        [XmlSerializerFormat(Style = OperationFormatStyle.Document, Use = OperationFormatUse.Literal)]
        void CountToolSession(int ToolCode, string Browser, string Session);
    }
}
