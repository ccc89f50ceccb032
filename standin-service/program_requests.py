"""The requests the program sends, byte for byte, for tests of the services it
talks to. Built from the message format alone; nothing here comes from the
stand-in service's code, so that a test can hold one against the other."""

DEFAULT_NAMESPACE_HOST = "schemas.tarnwell.com"
DEFAULT_METRICS_HOST = "metrics.tarnwell.com"
SERVICE_PATH = "/kaldris/Mervo3/mervoservice2.asmx"
FALLBACK_SESSION = "{3E9B6824-12DB-43CA-983D-B1A32D32F509}"

_SOAP_ENVELOPE = "http://schemas.xmlsoap.org/soap/envelope/"
_SOAP_ENCODING = "http://schemas.xmlsoap.org/soap/encoding/"
_XML_SCHEMA = "http://www.w3.org/2001/XMLSchema"
_XML_SCHEMA_INSTANCE = "http://www.w3.org/2001/XMLSchema-instance"

# Gaps between the pieces of an envelope: attribute, body, operation, child,
# closing and tail gap.
_WIDE_GAPS = ("      ", "  ", "    ", "      ", "    ", "  ")
_HIDDEN_GAPS = ("      ", "\t", "    ", "      ", "    ", "  ")
_TOOL_GAPS = ("  ", " ", " ", " ", " ", " ")

# Operation: (gaps, children in order, template bytes without the namespace URI).
MESSAGES = {
    "CountSession": (_WIDE_GAPS, ("Browser", "Language", "Country", "Os", "Session"), 499),
    "CountUpdateRecommended": (_WIDE_GAPS, ("PackageId", "Session"), 432),
    "CountUpdateSelected": (_WIDE_GAPS, ("PackageId", "Session"), 426),
    "CountUpdateDownloaded": (_WIDE_GAPS, ("PackageId", "ResultId", "Session"), 468),
    "CountUpdateInstalled": (_WIDE_GAPS, ("PackageId", "ResultId", "Session"), 466),
    "CountUpdateHidden": (_HIDDEN_GAPS, ("PackageId", "Session"), 421),
    "CountToolSession": (_TOOL_GAPS, ("ToolCode", "Browser", "Session"), 413),
}

# The placeholder each child's value replaces in the program's templates.
PLACEHOLDERS = {
    "Browser": "${browser}", "Language": "${language}", "Country": "${country}",
    "Os": "${os}", "Session": "${session}", "PackageId": "${packageId}",
    "ResultId": "${resultId}", "ToolCode": "${toolcode}",
}


def metrics_namespace(namespace_host=DEFAULT_NAMESPACE_HOST):
    return "http://" + namespace_host + "/Fenmor-It/Support/MervoMetrics/"


def soap_action_value(operation, namespace_host=DEFAULT_NAMESPACE_HOST):
    return '"' + metrics_namespace(namespace_host) + operation + '"'


def escape_value(text):
    """A value as the program writes it into element content."""
    out = []
    for character in text:
        code = ord(character)
        if character in "&<>\"'":
            out.append({"&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;",
                        "'": "&apos;"}[character])
        elif character == "\r":
            out.append("&#13;")
        elif (code < 0x20 and character not in "\t\n") or 0xD800 <= code <= 0xDFFF \
                or code in (0xFFFE, 0xFFFF):
            out.append("\uFFFD")
        else:
            out.append(character)
    return "".join(out)


def envelope_text(operation, texts, namespace_host=DEFAULT_NAMESPACE_HOST):
    """The envelope with each child holding texts[child] exactly as given
    (already escaped, or deliberately not)."""
    gaps, children, _ = MESSAGES[operation]
    attribute, body, operation_gap, child, closing, tail = gaps
    return ("<soap:Envelope"
            + attribute + f'xmlns:soap="{_SOAP_ENVELOPE}"'
            + attribute + f'xmlns:xsi="{_XML_SCHEMA_INSTANCE}"'
            + attribute + f'xmlns:xsd="{_XML_SCHEMA}"'
            + attribute + f'xmlns:soapenc="{_SOAP_ENCODING}">'
            + body + "<soap:Body>"
            + operation_gap + f'<{operation} xmlns="{metrics_namespace(namespace_host)}">'
            + "".join(f"{child}<{name}>{texts[name]}</{name}>" for name in children)
            + closing + f"</{operation}>"
            + tail + "</soap:Body></soap:Envelope>")


def envelope(operation, values, namespace_host=DEFAULT_NAMESPACE_HOST):
    """The request body for these values (numbers or text), escaped and UTF-8."""
    texts = {name: escape_value(str(value)) for name, value in values.items()}
    return envelope_text(operation, texts, namespace_host).encode("utf-8")


def run_values(operation, session=FALLBACK_SESSION):
    """The values of the two reports of a run."""
    result_id = {"CountUpdateDownloaded": 0, "CountUpdateInstalled": 8}[operation]
    return {"PackageId": 11, "ResultId": result_id, "Session": session}


def proxy_request_head(operation, body_length, namespace_host=DEFAULT_NAMESPACE_HOST,
                       metrics_host=DEFAULT_METRICS_HOST):
    """Request line and headers as a proxy receives them from the program:
    absolute-form target, the program's two header lines first, then the
    ones the HTTP client library adds."""
    return (f"POST http://{metrics_host}:80{SERVICE_PATH} HTTP/1.1",
            [("SOAPAction", soap_action_value(operation, namespace_host)),
             ("Content-Type", "text/xml; charset=utf-8"),
             ("User-Agent", "Zorvik Rules Engine/2.0"),
             ("Accept", "text/*"),
             ("Host", metrics_host),
             ("Content-Length", str(body_length)),
             ("Proxy-Connection", "Keep-Alive"),
             ("Pragma", "no-cache")])


def raw_request(request_line, headers, body):
    head = request_line + "\r\n" + "".join(f"{name}: {value}\r\n" for name, value in headers)
    return head.encode("iso-8859-1") + b"\r\n" + body
