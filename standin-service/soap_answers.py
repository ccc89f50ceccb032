"""The answers a .NET SOAP 1.1 web service gives, and the broken ones a test
may ask for. Each is (status, reason, content type, body bytes); bodies are
never empty, because WinINet drops a kept-alive connection at once after an
empty one."""

from xml.sax.saxutils import escape

from metrics_contract import CONTENT_TYPE, SOAP_ENVELOPE_NS, XSD_NS, XSI_NS

_ENVELOPE_START = ('<?xml version="1.0" encoding="utf-8"?>'
                   f'<soap:Envelope xmlns:soap="{SOAP_ENVELOPE_NS}" '
                   f'xmlns:xsi="{XSI_NS}" xmlns:xsd="{XSD_NS}"><soap:Body>')
_ENVELOPE_END = "</soap:Body></soap:Envelope>"


def operation_response(namespace_uri, operation):
    body = f'{_ENVELOPE_START}<{operation}Response xmlns="{namespace_uri}" />{_ENVELOPE_END}'
    return 200, "OK", CONTENT_TYPE, body.encode("utf-8")


def soap_fault(faultcode, faultstring):
    body = (f"{_ENVELOPE_START}<soap:Fault><faultcode>{faultcode}</faultcode>"
            f"<faultstring>{escape(faultstring)}</faultstring><detail />"
            f"</soap:Fault>{_ENVELOPE_END}")
    return 500, "Internal Server Error", CONTENT_TYPE, body.encode("utf-8")


def refusal(reasons):
    """The fault for a request that fails the checks: the sender's fault."""
    return soap_fault("soap:Client", "Server did not accept the request. " + "; ".join(reasons))


def server_fault():
    return soap_fault("soap:Server", "Server was unable to process request. ---> "
                                     "The metrics store is not available.")


def html_error_page():
    body = ("<!DOCTYPE html><html><head><title>Runtime Error</title></head><body>"
            "<h1>Server Error in '/kaldris/Mervo3' Application.</h1>"
            "<h2><i>Runtime Error</i></h2></body></html>")
    return 500, "Internal Server Error", "text/html; charset=utf-8", body.encode("utf-8")


def garbage():
    """Bytes that no XML parser takes: a NUL, bytes that are not UTF-8 and an
    unclosed tag."""
    return 200, "OK", CONTENT_TYPE, b"\x00\xff\xfe garbage <soap:Envelope <<< &&& \r\n"
