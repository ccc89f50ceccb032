"""Strict checks of one metrics request: the HTTP request line and headers, the
framing of the body, and the SOAP envelope against the service's contract.

Every failed check adds one reason, "key: detail", so that a caller can tell
the kinds of failure apart by the key and read the detail."""

import re
import xml.etree.ElementTree as ET
from xml.parsers import expat

from metrics_contract import (CONTENT_TYPE, INT, OPERATIONS, SERVICE_PATH,
                              SOAP_ENVELOPE_NS, soap_action)

_XML_WHITESPACE = " \t\r\n"
_INT_TEXT = re.compile(r"[+-]?[0-9]+\Z")
_INT_MIN, _INT_MAX = -2**31, 2**31 - 1


class Verdict:
    def __init__(self):
        self.operation = None
        self.values = {}
        self.reasons = []

    @property
    def valid(self):
        return not self.reasons

    def refuse(self, key, detail):
        self.reasons.append(key + ": " + detail)


def is_xsd_int(text):
    """xsd:int: optional sign and digits, surrounding whitespace collapsed,
    within the signed 32-bit range."""
    collapsed = text.strip(_XML_WHITESPACE)
    return bool(_INT_TEXT.match(collapsed)) and _INT_MIN <= int(collapsed) <= _INT_MAX


def check_request(method, target, headers, body, namespace_uri, framing_problems=()):
    """method and target as in the request line (target in origin form),
    headers as (name, value) pairs in the order received, body the bytes read,
    framing_problems what the reader noticed about the body's length."""
    verdict = Verdict()
    if method != "POST":
        verdict.refuse("method", f"{method} instead of POST")
    if target != SERVICE_PATH:
        verdict.refuse("path", f"{target!r} instead of {SERVICE_PATH!r}")
    _check_content_type(headers, verdict)
    _check_content_length(headers, body, framing_problems, verdict)
    _check_body(body, namespace_uri, verdict)
    _check_soap_action(headers, namespace_uri, verdict)
    return verdict


def _header_values(headers, name):
    return [value for key, value in headers if key.lower() == name.lower()]


def _check_content_type(headers, verdict):
    values = _header_values(headers, "Content-Type")
    if len(values) != 1:
        verdict.refuse("content-type", f"{len(values)} Content-Type headers instead of one")
    elif values[0] != CONTENT_TYPE:
        verdict.refuse("content-type", f"{values[0]!r} instead of {CONTENT_TYPE!r}")


def _check_content_length(headers, body, framing_problems, verdict):
    values = _header_values(headers, "Content-Length")
    if not values:
        verdict.refuse("content-length", "missing")
    elif len(values) > 1:
        verdict.refuse("content-length", f"{len(values)} Content-Length headers")
    elif not values[0].isdigit() or not values[0].isascii():
        verdict.refuse("content-length", f"{values[0]!r} is not a decimal length")
    elif int(values[0]) != len(body):
        verdict.refuse("content-length", f"says {values[0]}, {len(body)} bytes arrived")
    for problem in framing_problems:
        verdict.refuse("content-length", problem)


def _check_soap_action(headers, namespace_uri, verdict):
    values = _header_values(headers, "SOAPAction")
    if len(values) != 1:
        verdict.refuse("soapaction", f"{len(values)} SOAPAction headers instead of one")
        return
    if verdict.operation is not None:
        expected = soap_action(namespace_uri, verdict.operation)
        if values[0] != expected:
            verdict.refuse("soapaction", f"{values[0]!r} instead of {expected!r}")
        return
    # No operation in the body to compare with: the action must still name one.
    for operation in OPERATIONS:
        if values[0] == soap_action(namespace_uri, operation):
            verdict.operation = operation
            return
    verdict.refuse("soapaction", f"{values[0]!r} names no operation of the service")


def _check_body(body, namespace_uri, verdict):
    try:
        body.decode("utf-8")
    except UnicodeDecodeError as error:
        verdict.refuse("encoding", f"body is not UTF-8 ({error.reason} at byte {error.start})")
        return
    root = _parse_xml(body, verdict)
    if root is not None:
        _check_envelope(root, namespace_uri, verdict)


def _clark(expat_name):
    """expat's "uri local" to ElementTree's "{uri}local"."""
    uri, _, local = expat_name.rpartition(" ")
    return "{" + uri + "}" + local if uri else local


def _parse_xml(body, verdict):
    """Parses with expat, which also refuses what SOAP forbids in a message:
    a document type declaration and processing instructions."""
    builder = ET.TreeBuilder()
    parser = expat.ParserCreate("UTF-8", " ")

    def start(name, attributes):
        builder.start(_clark(name), {_clark(key): value for key, value in attributes.items()})

    def declaration(_version, encoding, _standalone):
        if encoding is not None and encoding.lower() not in ("utf-8", "utf8"):
            verdict.refuse("encoding", f"XML declaration names {encoding!r}")

    parser.StartElementHandler = start
    parser.EndElementHandler = lambda name: builder.end(_clark(name))
    parser.CharacterDataHandler = builder.data
    parser.XmlDeclHandler = declaration
    parser.StartDoctypeDeclHandler = lambda *_: verdict.refuse("xml", "document type declaration")
    parser.ProcessingInstructionHandler = lambda target, _data: verdict.refuse(
        "xml", f"processing instruction <?{target}?>")
    try:
        parser.Parse(body, True)
    except expat.ExpatError as error:
        verdict.refuse("xml", f"{expat.ErrorString(error.code)} "
                              f"at line {error.lineno}, column {error.offset + 1}")
        return None
    return builder.close()


def _split(tag):
    """ElementTree's "{uri}local" to (uri, local); no namespace gives ""."""
    if tag.startswith("{"):
        uri, _, local = tag[1:].partition("}")
        return uri, local
    return "", tag


def _describe(tag, namespace_uri):
    uri, local = _split(tag)
    if uri == SOAP_ENVELOPE_NS:
        return "soap:" + local
    if uri == namespace_uri:
        return local
    return f"{local} in namespace {uri!r}" if uri else f"{local} in no namespace"


def _refuse_attributes(element, verdict, namespace_uri):
    # The service's schema gives none of its elements attributes; namespace
    # declarations are not attributes here.
    for attribute in element.attrib:
        verdict.refuse("attribute", f"{_describe(attribute, namespace_uri)} on "
                                    f"{_describe(element.tag, namespace_uri)}")


def _element_children(element, verdict, namespace_uri):
    """The element children, refusing stray text and attributes on the way."""
    name = _describe(element.tag, namespace_uri)
    _refuse_attributes(element, verdict, namespace_uri)
    texts = [element.text or ""] + [child.tail or "" for child in element]
    if any(text.strip(_XML_WHITESPACE) for text in texts):
        verdict.refuse("text", f"text between the elements of {name}")
    return list(element)


def _check_envelope(root, namespace_uri, verdict):
    envelope = "{" + SOAP_ENVELOPE_NS + "}Envelope"
    body = "{" + SOAP_ENVELOPE_NS + "}Body"
    if root.tag != envelope:
        verdict.refuse("envelope", f"root element is {_describe(root.tag, namespace_uri)}, "
                                   "not the SOAP 1.1 soap:Envelope")
        return
    children = _element_children(root, verdict, namespace_uri)
    if [child.tag for child in children] != [body]:
        names = ", ".join(_describe(child.tag, namespace_uri) for child in children) or "nothing"
        verdict.refuse("envelope", f"soap:Envelope holds {names} instead of soap:Body alone")
        return
    operations = _element_children(children[0], verdict, namespace_uri)
    if len(operations) != 1:
        verdict.refuse("body", f"soap:Body holds {len(operations)} elements instead of one operation")
        return
    _check_operation(operations[0], namespace_uri, verdict)


def _check_operation(element, namespace_uri, verdict):
    uri, name = _split(element.tag)
    if uri != namespace_uri or name not in OPERATIONS:
        verdict.refuse("operation", f"{_describe(element.tag, namespace_uri)} is not an "
                                    "operation of the metrics service")
        return
    verdict.operation = name
    children = _element_children(element, verdict, namespace_uri)
    for child in children:
        child_name = _describe(child.tag, namespace_uri)
        if child_name not in verdict.values:
            verdict.values[child_name] = child.text or ""
        if len(child):
            verdict.refuse("value", f"{child_name} holds elements")
        _refuse_attributes(child, verdict, namespace_uri)

    expected = ["{" + namespace_uri + "}" + parameter for parameter, _ in OPERATIONS[name]]
    if [child.tag for child in children] != expected:
        got = ", ".join(_describe(child.tag, namespace_uri) for child in children) or "nothing"
        verdict.refuse("children", f"{name} holds {got} instead of "
                                   + ", ".join(parameter for parameter, _ in OPERATIONS[name]))
        return
    for child, (parameter, kind) in zip(children, OPERATIONS[name]):
        if kind == INT and not is_xsd_int(child.text or ""):
            verdict.refuse("value", f"{parameter} {child.text or ''!r} is not an xsd:int")
