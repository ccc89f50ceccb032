#!/usr/bin/env python3
"""Tests of the stand-in metrics service through its command line and its
socket: what it accepts, what it refuses and why, what it records, and what
each answer mode sends."""

import base64
import http.client
import http.server
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import program_requests as program  # noqa: E402  (after the path is set)
import standin_process  # noqa: E402

SERVICE = standin_process.SERVICE
# A socket or process that has not answered by then never will.
HANG_GUARD_S = standin_process.HANG_GUARD_S
SOAP = "{http://schemas.xmlsoap.org/soap/envelope/}"
NS = program.metrics_namespace()


class StandInService(standin_process.StandInService):
    """The service with a raw client that sends exactly the bytes it is given."""

    def exchange(self, *requests, shut_write=False, timeout=HANG_GUARD_S):
        """Sends the requests on one connection, one after the other, and
        returns a (status, headers, body) per answer, or None for a hang-up."""
        answers = []
        with socket.create_connection(("127.0.0.1", self.port), timeout=timeout) as connection:
            for request in requests:
                connection.sendall(request)
                if shut_write:
                    connection.shutdown(socket.SHUT_WR)
                response = http.client.HTTPResponse(connection, method="POST")
                try:
                    response.begin()
                except http.client.RemoteDisconnected:
                    answers.append(None)
                    break
                answers.append((response.status, dict(response.getheaders()), response.read()))
        return answers

    def post(self, request, **options):
        return self.exchange(request, **options)[0]


def program_request(operation="CountUpdateDownloaded", values=None, body=None):
    if body is None:
        body = program.envelope(operation, values or program.run_values(operation))
    request_line, headers = program.proxy_request_head(operation, len(body))
    return program.raw_request(request_line, headers, body)


def downloaded_text(session=program.FALLBACK_SESSION, package_id="11", result_id="0"):
    return program.envelope_text("CountUpdateDownloaded", {
        "PackageId": package_id, "ResultId": result_id, "Session": session})


def _read_until(connection, enough):
    """What arrives on the connection until enough(data) holds or it closes;
    the socket's time-out guards against a service that never sends it."""
    data = b""
    while not enough(data):
        chunk = connection.recv(65536)
        if not chunk:
            break
        data += chunk
    return data


def _wait_for_records(service, count):
    guard = time.monotonic() + HANG_GUARD_S
    while len(service.records()) < count and time.monotonic() < guard:
        time.sleep(0.02)


def _read_for(connection, seconds):
    """Whatever arrives on the connection within the given time."""
    data = b""
    deadline = time.monotonic() + seconds
    while (left := deadline - time.monotonic()) > 0:
        connection.settimeout(left)
        try:
            chunk = connection.recv(65536)
        except (TimeoutError, socket.timeout):
            break
        if not chunk:
            break
        data += chunk
    return data


def assert_soap_fault(case, answer, faultcode):
    status, headers, body = answer
    case.assertEqual(status, 500)
    case.assertEqual(headers["Content-Type"], "text/xml; charset=utf-8")
    fault = ET.fromstring(body).find(f"{SOAP}Body/{SOAP}Fault")
    case.assertIsNotNone(fault, body)
    case.assertEqual(fault.findtext("faultcode"), faultcode)
    return fault.findtext("faultstring")


class EnvelopeConstructionTest(unittest.TestCase):
    """The tests' own envelopes must be the program's, or nothing below
    proves anything."""

    def test_template_lengths_match_the_published_byte_counts(self):
        for operation, (_, children, length) in program.MESSAGES.items():
            with self.subTest(operation):
                text = program.envelope_text(
                    operation, {name: program.PLACEHOLDERS[name] for name in children})
                self.assertEqual(len(text.encode("utf-8")), length + len(NS))
                self.assertNotIn("\n", text)

    def test_escaping_of_values(self):
        cases = [("a&b", "a&amp;b"), ("<>", "&lt;&gt;"), ("\"'", "&quot;&apos;"),
                 ("x\ry", "x&#13;y"), ("\x01\x1f", "\ufffd\ufffd"), ("\t\n", "\t\n"),
                 ("Zürich", "Zürich")]
        for text, escaped in cases:
            with self.subTest(text=text):
                self.assertEqual(program.escape_value(text), escaped)


class AcceptedRequestsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = StandInService()

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()

    def post_and_record(self, request, **options):
        before = len(self.service.records())
        answer = self.service.post(request, **options)
        records = self.service.records()
        self.assertEqual(len(records), before + 1)
        return answer, records[-1]

    def test_each_operation_exactly_as_the_program_writes_it(self):
        values = {"Browser": "IE 8.0", "Language": 1033, "Country": 49, "Os": 601,
                  "Session": program.FALLBACK_SESSION, "PackageId": 11, "ResultId": 8,
                  "ToolCode": -3}
        for operation, (_, children, _) in program.MESSAGES.items():
            with self.subTest(operation):
                body = program.envelope(operation, {name: values[name] for name in children})
                (status, headers, answer_body), record = self.post_and_record(
                    program_request(operation, body=body))
                self.assertEqual(status, 200)
                self.assertEqual(headers["Content-Type"], "text/xml; charset=utf-8")
                response = ET.fromstring(answer_body).find(f"{SOAP}Body/{{{NS}}}{operation}Response")
                self.assertIsNotNone(response, answer_body)
                self.assertEqual(record["reasons"], [])
                self.assertTrue(record["valid"])
                self.assertEqual(record["operation"], operation)
                self.assertEqual(record["values"], {name: str(values[name]) for name in children})
                self.assertEqual(base64.b64decode(record["body_base64"]), body)
                self.assertEqual(record["answer"], "response")

    def test_record_holds_the_request_as_received(self):
        body = program.envelope("CountUpdateInstalled", program.run_values("CountUpdateInstalled"))
        _, record = self.post_and_record(program_request("CountUpdateInstalled", body=body))
        request_line, headers = program.proxy_request_head("CountUpdateInstalled", len(body))
        self.assertEqual(record["request_line"], request_line)
        self.assertEqual(record["method"], "POST")
        self.assertEqual(record["target"], "http://metrics.tarnwell.com:80" + program.SERVICE_PATH)
        self.assertEqual((record["host"], record["port"], record["path"]),
                         ("metrics.tarnwell.com", 80, program.SERVICE_PATH))
        self.assertEqual(record["headers"], [list(header) for header in headers])
        self.assertEqual(record["body"], body.decode("utf-8"))
        self.assertEqual(record["values"], {"PackageId": "11", "ResultId": "8",
                                            "Session": program.FALLBACK_SESSION})

    def test_origin_form_takes_the_host_from_the_host_header(self):
        body = program.envelope("CountUpdateDownloaded", program.run_values("CountUpdateDownloaded"))
        _, headers = program.proxy_request_head("CountUpdateDownloaded", len(body))
        headers = [(name, "metrics-alternate.tarnwell.com:8080" if name == "Host" else value)
                   for name, value in headers]
        request = program.raw_request(f"POST {program.SERVICE_PATH} HTTP/1.1", headers, body)
        (status, _, _), record = self.post_and_record(request)
        self.assertEqual(status, 200)
        self.assertEqual((record["host"], record["port"], record["path"]),
                         ("metrics-alternate.tarnwell.com", 8080, program.SERVICE_PATH))

    def test_values_are_recorded_unescaped(self):
        cases = ["", "a&b<c>d\"e'f", "line\rbreak", "Zürich ☃ 𝄞", "tab\tand\nnewline",
                 "${packageId}"]
        for session in cases:
            with self.subTest(session=session):
                values = program.run_values("CountUpdateDownloaded", session)
                (status, _, _), record = self.post_and_record(program_request(values=values))
                self.assertEqual(status, 200)
                self.assertEqual(record["values"]["Session"], session)

    def test_numbers_inside_the_int_range_and_lexical_space(self):
        for text in ("2147483647", "-2147483648", "0", "+11", "-0", " 11 ", "007"):
            with self.subTest(text=text):
                body = downloaded_text(result_id=text).encode("utf-8")
                (status, _, _), record = self.post_and_record(program_request(body=body))
                self.assertEqual(status, 200, record["reasons"])

    def test_keep_alive_connection_serves_requests_in_turn(self):
        before = len(self.service.records())
        answers = self.service.exchange(program_request("CountUpdateDownloaded"),
                                        program_request("CountUpdateInstalled"))
        self.assertEqual([answer[0] for answer in answers], [200, 200])
        records = self.service.records()[before:]
        self.assertEqual([record["operation"] for record in records],
                         ["CountUpdateDownloaded", "CountUpdateInstalled"])
        self.assertEqual(records[0]["client"], records[1]["client"])


def replace_header(name, value):
    def mutate(request_line, headers, body):
        return request_line, [(key, value if key == name else other) for key, other in headers], body
    return mutate


def drop_header(name):
    def mutate(request_line, headers, body):
        return request_line, [(key, value) for key, value in headers if key != name], body
    return mutate


def add_header(name, value):
    def mutate(request_line, headers, body):
        return request_line, headers + [(name, value)], body
    return mutate


def request_line(line):
    return lambda _line, headers, body: (line, headers, body)


def body_text(text):
    """A different body, with its Content-Length kept right."""
    def mutate(line, headers, _body):
        encoded = text.encode("utf-8") if isinstance(text, str) else text
        return line, [(key, str(len(encoded)) if key == "Content-Length" else value)
                      for key, value in headers], encoded
    return mutate


def edit_body(old, new):
    return body_text(downloaded_text().replace(old, new, 1))


_ENVELOPE_OPEN = downloaded_text().split("<soap:Body>")[0]
_OPERATION_OPEN = f'<CountUpdateDownloaded xmlns="{NS}">'

# (case, change to the program's CountUpdateDownloaded request, reasons' keys)
REFUSALS = [
    ("GET", request_line("GET http://metrics.tarnwell.com:80" + program.SERVICE_PATH + " HTTP/1.1"),
     {"method"}),
    ("other service file", request_line("POST http://metrics.tarnwell.com:80"
                                        "/kaldris/Mervo3/mervoservice.asmx HTTP/1.1"), {"path"}),
    ("query string", request_line("POST http://metrics.tarnwell.com:80" + program.SERVICE_PATH
                                  + "?wsdl HTTP/1.1"), {"path"}),
    ("path in other letter case", request_line("POST http://metrics.tarnwell.com:80"
                                               + program.SERVICE_PATH.upper() + " HTTP/1.1"),
     {"path"}),
    ("no Content-Type", drop_header("Content-Type"), {"content-type"}),
    ("Content-Type without charset", replace_header("Content-Type", "text/xml"), {"content-type"}),
    ("charset in capitals", replace_header("Content-Type", "text/xml; charset=UTF-8"),
     {"content-type"}),
    ("SOAP 1.2 media type", replace_header("Content-Type", "application/soap+xml; charset=utf-8"),
     {"content-type"}),
    ("two Content-Types", add_header("Content-Type", "text/xml; charset=utf-8"), {"content-type"}),
    ("no SOAPAction", drop_header("SOAPAction"), {"soapaction"}),
    ("SOAPAction without quotes", replace_header("SOAPAction", NS + "CountUpdateDownloaded"),
     {"soapaction"}),
    ("SOAPAction of the other operation",
     replace_header("SOAPAction", program.soap_action_value("CountUpdateInstalled")), {"soapaction"}),
    ("SOAPAction in another namespace host",
     replace_header("SOAPAction", program.soap_action_value("CountUpdateDownloaded", "example.org")),
     {"soapaction"}),
    ("empty SOAPAction", replace_header("SOAPAction", '""'), {"soapaction"}),
    ("two SOAPActions", add_header("SOAPAction", program.soap_action_value("CountUpdateDownloaded")),
     {"soapaction"}),
    ("Content-Length not decimal", replace_header("Content-Length", "0x1f4"), {"content-length"}),
    ("body in Latin-1", body_text(downloaded_text(session="Zürich").encode("latin-1")),
     {"encoding"}),
    ("XML declaration of another encoding",
     body_text('<?xml version="1.0" encoding="iso-8859-1"?>' + downloaded_text()), {"encoding"}),
    ("raw less-than in a value", body_text(downloaded_text(session="a<b")), {"xml"}),
    ("raw ampersand in a value", body_text(downloaded_text(session="a&b")), {"xml"}),
    ("control character in a value", body_text(downloaded_text(session="a\x01b")), {"xml"}),
    ("truncated document", body_text(downloaded_text()[:-10]), {"xml"}),
    ("undeclared prefix", edit_body("<soap:Body>", "<soapy:Body>"), {"xml"}),
    ("document type declaration", body_text("<!DOCTYPE x>" + downloaded_text()), {"xml"}),
    ("processing instruction", body_text("<?trace on?>" + downloaded_text()), {"xml"}),
    ("SOAP 1.2 envelope", edit_body("http://schemas.xmlsoap.org/soap/envelope/",
                                    "http://www.w3.org/2003/05/soap-envelope"), {"envelope"}),
    ("SOAP header", edit_body("<soap:Body>", "<soap:Header/><soap:Body>"), {"envelope"}),
    ("empty envelope", body_text(_ENVELOPE_OPEN + "</soap:Envelope>"), {"envelope"}),
    ("empty body", body_text(_ENVELOPE_OPEN + "<soap:Body></soap:Body></soap:Envelope>"), {"body"}),
    ("two operations", edit_body("</soap:Body>",
                                 downloaded_text().split("<soap:Body>")[1].split("</soap:Body>")[0]
                                 + "</soap:Body>"), {"body"}),
    ("operation not of the service",
     body_text(downloaded_text().replace("CountUpdateDownloaded", "CountUpdateRemoved")),
     {"operation"}),
    ("operation in no namespace", edit_body(f' xmlns="{NS}"', ""), {"operation"}),
    ("operation in another namespace", edit_body(NS, NS.replace("tarnwell", "example")),
     {"operation"}),
    ("namespace without its closing slash", edit_body(NS, NS[:-1]), {"operation"}),
    ("missing ResultId", edit_body("<ResultId>0</ResultId>", ""), {"children"}),
    ("extra child", edit_body("</CountUpdateDownloaded>", "<Browser>x</Browser></CountUpdateDownloaded>"),
     {"children"}),
    ("children out of order", edit_body("<PackageId>11</PackageId>      <ResultId>0</ResultId>",
                                        "<ResultId>0</ResultId>      <PackageId>11</PackageId>"),
     {"children"}),
    ("child in no namespace", edit_body("<ResultId>0</ResultId>",
                                        '<ResultId xmlns="">0</ResultId>'), {"children"}),
    ("child name in other letter case", edit_body("<ResultId>0</ResultId>",
                                                  "<resultId>0</resultId>"), {"children"}),
    ("element inside a value", edit_body("<Session>", "<Session><b>x</b>"), {"value"}),
    ("attribute on a value", edit_body("<Session>", '<Session xsi:nil="false">'), {"attribute"}),
    ("attribute on the operation", edit_body(_OPERATION_OPEN,
                                             _OPERATION_OPEN[:-1] + ' id="1">'), {"attribute"}),
    ("text in the body", edit_body("<soap:Body>", "<soap:Body>hello"), {"text"}),
    ("int just above the range", body_text(downloaded_text(result_id="2147483648")), {"value"}),
    ("int just below the range", body_text(downloaded_text(result_id="-2147483649")), {"value"}),
    ("empty int", body_text(downloaded_text(package_id="")), {"value"}),
    ("decimal point", body_text(downloaded_text(package_id="11.0")), {"value"}),
    ("exponent", body_text(downloaded_text(package_id="1e1")), {"value"}),
    ("digits split by a space", body_text(downloaded_text(package_id="1 1")), {"value"}),
    ("two signs", body_text(downloaded_text(package_id="--1")), {"value"}),
    ("non-ASCII digits", body_text(downloaded_text(package_id="١١")), {"value"}),
]


class RefusedRequestsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = StandInService("--read-timeout", "0.3")

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()

    def assert_refused(self, request, keys, **options):
        before = len(self.service.records())
        faultstring = assert_soap_fault(self, self.service.post(request, **options), "soap:Client")
        records = self.service.records()
        self.assertEqual(len(records), before + 1)
        record = records[-1]
        self.assertFalse(record["valid"])
        self.assertEqual({reason.split(":")[0] for reason in record["reasons"]}, keys,
                         record["reasons"])
        self.assertEqual(record["answer"], "refusal")
        for reason in record["reasons"]:
            self.assertIn(reason, faultstring)
        return record

    def test_each_kind_of_fault_is_refused_with_its_reason(self):
        body = downloaded_text().encode("utf-8")
        base = program.proxy_request_head("CountUpdateDownloaded", len(body)) + (body,)
        for case, mutate, keys in REFUSALS:
            with self.subTest(case):
                self.assert_refused(program.raw_request(*mutate(*base)), keys)

    def test_operation_known_from_the_soap_action_when_the_body_is_broken(self):
        record = self.assert_refused(
            program_request(body=downloaded_text(session="a<b").encode("utf-8")), {"xml"})
        self.assertEqual(record["operation"], "CountUpdateDownloaded")

    def test_body_shorter_than_its_content_length(self):
        body = downloaded_text().encode("utf-8")
        line, headers = program.proxy_request_head("CountUpdateDownloaded", len(body) + 1)
        record = self.assert_refused(program.raw_request(line, headers, body), {"content-length"})
        self.assertIn(f"says {len(body) + 1}, {len(body)} bytes arrived", record["reasons"][0])

    def test_bytes_beyond_the_content_length(self):
        body = downloaded_text().encode("utf-8")
        line, headers = program.proxy_request_head("CountUpdateDownloaded", len(body))
        self.assert_refused(program.raw_request(line, headers, body + b"\r\n"), {"content-length"})

    def test_content_length_one_short_cuts_the_document(self):
        body = downloaded_text().encode("utf-8")
        line, headers = program.proxy_request_head("CountUpdateDownloaded", len(body) - 1)
        self.assert_refused(program.raw_request(line, headers, body), {"content-length", "xml"})

    def test_no_content_length(self):
        body = downloaded_text().encode("utf-8")
        line, headers = program.proxy_request_head("CountUpdateDownloaded", len(body))
        headers = [header for header in headers if header[0] != "Content-Length"]
        record = self.assert_refused(program.raw_request(line, headers, body), {"content-length"},
                                     shut_write=True)
        self.assertEqual(record["values"]["Session"], program.FALLBACK_SESSION)

    def test_chunked_body(self):
        line, headers = program.proxy_request_head("CountUpdateDownloaded", 0)
        headers = [header for header in headers if header[0] != "Content-Length"]
        headers.append(("Transfer-Encoding", "chunked"))
        # The body is not read, so the envelope is missing too.
        self.assert_refused(program.raw_request(line, headers, b"0\r\n\r\n"),
                            {"content-length", "xml"})

    def test_a_line_that_is_no_request_is_recorded(self):
        before = len(self.service.records())
        with socket.create_connection(("127.0.0.1", self.service.port),
                                      timeout=HANG_GUARD_S) as connection:
            connection.sendall(b"HELLO\r\n\r\n")
            answer = connection.makefile("rb").read()
        self.assertIn(b"400", answer)
        record = self.service.records()[before]
        self.assertEqual(record["request_line"], "HELLO")
        self.assertEqual(record["reasons"], ["request-line: not an HTTP request line"])


class AnswerModesTest(unittest.TestCase):
    def run_mode(self, *arguments, request=None):
        service = StandInService(*arguments)
        try:
            started = time.monotonic()
            answer = service.post(request or program_request())
            elapsed = time.monotonic() - started
            return answer, elapsed, service.records()
        finally:
            service.stop()

    def test_fault_answers_a_good_request_with_a_server_fault(self):
        answer, _, records = self.run_mode("--mode", "fault")
        self.assertIn("Server was unable to process request", assert_soap_fault(self, answer, "soap:Server"))
        self.assertTrue(records[0]["valid"])
        self.assertEqual(records[0]["answer"], "fault")

    def test_fault_still_refuses_a_bad_request_as_the_senders_fault(self):
        bad = program_request(body=downloaded_text(session="a<b").encode("utf-8"))
        answer, _, _ = self.run_mode("--mode", "fault", request=bad)
        assert_soap_fault(self, answer, "soap:Client")

    def test_http500_sends_an_html_page(self):
        (status, headers, body), _, records = self.run_mode("--mode", "http500")
        self.assertEqual(status, 500)
        self.assertEqual(headers["Content-Type"], "text/html; charset=utf-8")
        self.assertIn(b"<html>", body)
        self.assertEqual(records[0]["answer"], "http500")

    def test_garbage_is_no_xml_at_all(self):
        (status, _, body), _, _ = self.run_mode("--mode", "garbage")
        self.assertEqual(status, 200)
        self.assertTrue(body)
        with self.assertRaises(ET.ParseError):
            ET.fromstring(body)

    def test_delay_answers_normally_after_the_delay(self):
        (status, _, body), elapsed, records = self.run_mode("--mode", "delay", "--delay", "0.6")
        self.assertEqual(status, 200)
        self.assertIn(b"CountUpdateDownloadedResponse", body)
        self.assertGreaterEqual(elapsed, 0.6)
        self.assertEqual(len(records), 1)

    def test_held_answers_once_released(self):
        with tempfile.TemporaryDirectory() as scratch:
            release = os.path.join(scratch, "release")
            service = StandInService("--mode", "held", "--release-file", release)
            try:
                with socket.create_connection(("127.0.0.1", service.port),
                                              timeout=HANG_GUARD_S) as connection:
                    connection.sendall(program_request())
                    # Recorded first, then held: nothing comes until the file is there.
                    _wait_for_records(service, 1)
                    self.assertEqual(b"", _read_for(connection, 0.5))
                    open(release, "w").close()
                    answer = http.client.HTTPResponse(connection, method="POST")
                    answer.begin()
                    self.assertEqual(200, answer.status)
                    self.assertIn(b"CountUpdateDownloadedResponse", answer.read())
                self.assertEqual(["response"], [r["answer"] for r in service.records()])
            finally:
                service.stop()

    def test_close_hangs_up_without_an_answer_after_recording(self):
        answer, _, records = self.run_mode("--mode", "close")
        self.assertIsNone(answer)
        self.assertEqual(records[0]["answer"], "close")
        self.assertTrue(records[0]["valid"])

    def test_answers_that_never_end_hold_the_client_until_it_hangs_up(self):
        for mode in ("silent", "trickle", "endless"):
            with self.subTest(mode):
                service = StandInService("--mode", mode)
                try:
                    with socket.create_connection(("127.0.0.1", service.port),
                                                  timeout=HANG_GUARD_S) as connection:
                        sent = time.monotonic()
                        connection.sendall(program_request())
                        if mode == "silent":
                            # Recorded before it says nothing: then nothing comes.
                            _wait_for_records(service, 1)
                            self.assertEqual(b"", _read_for(connection, 2.0))
                        elif mode == "trickle":
                            data = _read_until(connection, lambda data: data)
                            data += _read_for(connection, 2.0)
                            # A byte each half second: never more than that pace allows.
                            paced = int((time.monotonic() - sent) / 0.5) + 1
                            self.assertEqual(b"HTTP/1.1 200 OK"[:len(data)], data)
                            self.assertLessEqual(len(data), paced)
                        else:
                            data = _read_until(connection, lambda data: len(data) > 4096)
                            self.assertIn(b"Transfer-Encoding: chunked", data)
                    records = service.records()
                    self.assertEqual([True], [r["valid"] for r in records])
                    self.assertEqual(mode, records[0]["answer"])
                finally:
                    service.stop()

    def test_namespace_host_option_changes_the_expected_namespace(self):
        answer, _, records = self.run_mode("--namespace-host", "schemas.example.test")
        self.assertEqual(answer[0], 500)
        self.assertEqual({reason.split(":")[0] for reason in records[0]["reasons"]},
                         {"operation", "soapaction"})
        body = program.envelope("CountUpdateInstalled", program.run_values("CountUpdateInstalled"),
                                "schemas.example.test")
        line, headers = program.proxy_request_head("CountUpdateInstalled", len(body),
                                                   "schemas.example.test")
        answer, _, records = self.run_mode("--namespace-host", "schemas.example.test",
                                           request=program.raw_request(line, headers, body))
        self.assertEqual(answer[0], 200, records[0]["reasons"])


class UpstreamHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    received = []

    def do_POST(self):
        body = self.rfile.read(int(self.headers["Content-Length"]))
        UpstreamHandler.received.append((self.requestline, list(self.headers.items()), body))
        answer = b"<answer from upstream/>"
        self.send_response(500, "Upstream Says No")
        self.send_header("Content-Type", "text/xml; charset=utf-8")
        self.send_header("X-Upstream", "yes")
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)

    def log_message(self, *_):
        pass


class ForwardTest(unittest.TestCase):
    def test_forward_relays_in_origin_form_and_passes_the_answer_back(self):
        upstream = http.server.HTTPServer(("127.0.0.1", 0), UpstreamHandler)
        thread = threading.Thread(target=upstream.serve_forever, daemon=True)
        thread.start()
        service = StandInService("--forward", f"127.0.0.1:{upstream.server_address[1]}")
        try:
            bad_body = downloaded_text(session="a<b").encode("utf-8")
            status, headers, body = service.post(program_request(body=bad_body))
            records = service.records()
        finally:
            service.stop()
            upstream.shutdown()
            upstream.server_close()
        self.assertEqual((status, headers["X-Upstream"], body), (500, "yes", b"<answer from upstream/>"))
        request_line, upstream_headers, upstream_body = UpstreamHandler.received[-1]
        self.assertEqual(request_line, f"POST {program.SERVICE_PATH} HTTP/1.1")
        self.assertEqual(upstream_body, bad_body)
        names = [name for name, _ in upstream_headers]
        self.assertEqual(names[:3], ["Host", "SOAPAction", "Content-Type"])
        self.assertNotIn("Proxy-Connection", names)
        self.assertEqual(dict(upstream_headers)["Host"], f"127.0.0.1:{upstream.server_address[1]}")
        self.assertEqual(dict(upstream_headers)["Content-Length"], str(len(bad_body)))
        self.assertFalse(records[0]["valid"])
        self.assertEqual(records[0]["answer"], "forward")

    def test_forward_refuses_addresses_off_this_machine(self):
        for address in ("10.0.0.1:80", "metrics.tarnwell.com:80", "127.0.0.1", "127.0.0.1:0",
                        "127.0.0.1:65536"):
            with self.subTest(address):
                result = subprocess.run([sys.executable, SERVICE, "--forward", address],
                                        capture_output=True, text=True, timeout=HANG_GUARD_S)
                self.assertEqual(result.returncode, 2)
                self.assertIn("--forward", result.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
