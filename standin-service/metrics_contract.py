"""The metrics service's contract as the stand-in checks it: the endpoint, the
SOAP 1.1 namespaces and the seven operations with their parameters."""

DEFAULT_NAMESPACE_HOST = "schemas.tarnwell.com"

SERVICE_PATH = "/kaldris/Mervo3/mervoservice2.asmx"
CONTENT_TYPE = "text/xml; charset=utf-8"

SOAP_ENVELOPE_NS = "http://schemas.xmlsoap.org/soap/envelope/"
XSI_NS = "http://www.w3.org/2001/XMLSchema-instance"
XSD_NS = "http://www.w3.org/2001/XMLSchema"

INT = "int"
STRING = "string"

# Parameters in the order the service's schema lists them (a sequence, so the
# order is part of the contract).
OPERATIONS = {
    "CountSession": (("Browser", STRING), ("Language", INT), ("Country", INT),
                     ("Os", INT), ("Session", STRING)),
    "CountUpdateRecommended": (("PackageId", INT), ("Session", STRING)),
    "CountUpdateSelected": (("PackageId", INT), ("Session", STRING)),
    "CountUpdateDownloaded": (("PackageId", INT), ("ResultId", INT), ("Session", STRING)),
    "CountUpdateInstalled": (("PackageId", INT), ("ResultId", INT), ("Session", STRING)),
    "CountUpdateHidden": (("PackageId", INT), ("Session", STRING)),
    "CountToolSession": (("ToolCode", INT), ("Browser", STRING), ("Session", STRING)),
}


def metrics_namespace(namespace_host):
    return "http://" + namespace_host + "/Fenmor-It/Support/MervoMetrics/"


def soap_action(namespace_uri, operation):
    """The SOAPAction header value, quotes included."""
    return '"' + namespace_uri + operation + '"'
