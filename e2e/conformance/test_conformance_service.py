#!/usr/bin/env python3
"""The program's requests, byte for byte, against a real .NET SOAP stack: the
stand-in service records and checks each one and relays it to the .NET
metrics service under Mono, which must dispatch it with the values the
program meant. Also holds the stand-in's verdicts against what .NET accepts.

Usage: test_conformance_service.py --out BUILD_DIR [--namespace-host HOST]
       [unittest options]
"""

import argparse
import http.client
import os
import socket
import sys
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "standin-service"))
sys.path.insert(0, HERE)

import program_requests as program  # noqa: E402  (after the path is set)
from conformance_service import ConformanceService  # noqa: E402
from standin_process import StandInService  # noqa: E402

SOAP = "{http://schemas.xmlsoap.org/soap/envelope/}"
OPTIONS = argparse.Namespace(out=None, namespace_host=program.DEFAULT_NAMESPACE_HOST)


def post(port, request):
    """Sends raw bytes to the stand-in as the program's WinINet would send
    them to its proxy; returns (status, body)."""
    with socket.create_connection(("127.0.0.1", port), timeout=60) as connection:
        connection.sendall(request)
        response = http.client.HTTPResponse(connection, method="POST")
        response.begin()
        return response.status, response.read()


class DotNetConformanceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.host = OPTIONS.namespace_host
        cls.namespace = program.metrics_namespace(cls.host)
        cls.dotnet = ConformanceService(OPTIONS.out, cls.host).start()
        try:
            cls.standin = StandInService("--forward", f"127.0.0.1:{cls.dotnet.port}",
                                         "--namespace-host", cls.host)
        except BaseException:
            cls.dotnet.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.standin.stop()
        cls.dotnet.stop()

    def send(self, operation, body):
        """(status, answer body, stand-in record, new .NET calls) of one request."""
        calls_before = len(self.dotnet.calls())
        records_before = len(self.standin.records())
        line, headers = program.proxy_request_head(operation, len(body), self.host)
        status, answer = post(self.standin.port, program.raw_request(line, headers, body))
        records = self.standin.records()
        self.assertEqual(len(records), records_before + 1)
        return status, answer, records[-1], self.dotnet.calls()[calls_before:]

    def assert_dispatched(self, operation, values, expected_arguments):
        body = program.envelope(operation, values, self.host)
        status, answer, record, calls = self.send(operation, body)
        self.assertEqual(status, 200, answer)
        response = ET.fromstring(answer).find(f"{SOAP}Body/{{{self.namespace}}}{operation}Response")
        self.assertIsNotNone(response, answer)
        self.assertTrue(record["valid"], record["reasons"])
        self.assertEqual(len(calls), 1)
        self.assertEqual(calls[0]["operation"], operation)
        self.assertEqual(calls[0]["action"], self.namespace + operation)
        self.assertEqual(calls[0]["arguments"], expected_arguments)

    def test_the_two_messages_of_the_run_are_dispatched_with_their_values(self):
        for operation, result_id in (("CountUpdateDownloaded", 0), ("CountUpdateInstalled", 8)):
            with self.subTest(operation):
                self.assert_dispatched(operation, program.run_values(operation), {
                    "PackageId": 11, "ResultId": result_id, "Session": program.FALLBACK_SESSION})

    def test_escaped_session_texts_arrive_as_the_program_read_them(self):
        cases = [("", ""), ("a&b<c>d\"e'f", "a&b<c>d\"e'f"), ("line\rbreak", "line\rbreak"),
                 ("Zürich ☃ 𝄞", "Zürich ☃ 𝄞"), ("bell\x07", "bell\ufffd"),
                 ("${packageId}", "${packageId}")]
        for session, received in cases:
            with self.subTest(session=session):
                self.assert_dispatched(
                    "CountUpdateDownloaded", program.run_values("CountUpdateDownloaded", session),
                    {"PackageId": 11, "ResultId": 0, "Session": received})

    def test_every_operation_of_the_service_is_dispatched(self):
        values = {"Browser": "Firefox/3.6", "Language": 1031, "Country": -1, "Os": 0,
                  "Session": "S-1", "PackageId": 2147483647, "ResultId": -2147483648,
                  "ToolCode": 7}
        for operation, (_, children, _) in program.MESSAGES.items():
            with self.subTest(operation):
                arguments = {name: values[name] for name in children}
                self.assert_dispatched(operation, arguments, arguments)

    def test_a_raw_less_than_in_the_session_fails_on_the_dotnet_side(self):
        text = program.envelope_text("CountUpdateDownloaded", {
            "PackageId": "11", "ResultId": "0", "Session": "{3E9B<6824}"})
        status, answer, record, calls = self.send("CountUpdateDownloaded", text.encode("utf-8"))
        self.assertEqual(status, 500)
        self.assertIsNotNone(ET.fromstring(answer).find(f"{SOAP}Body/{SOAP}Fault"), answer)
        self.assertEqual(calls, [])
        self.assertFalse(record["valid"])
        self.assertTrue(record["reasons"][0].startswith("xml:"), record["reasons"])

    def test_a_raw_carriage_return_arrives_as_a_line_feed(self):
        # Well-formed, so both sides take it, but XML parsers normalise line
        # ends: only the &#13; form keeps the program's text intact.
        text = program.envelope_text("CountUpdateDownloaded", {
            "PackageId": "11", "ResultId": "0", "Session": "a\r\nb\rc"})
        status, _, record, calls = self.send("CountUpdateDownloaded", text.encode("utf-8"))
        self.assertEqual(status, 200)
        self.assertTrue(record["valid"], record["reasons"])
        self.assertEqual(record["values"]["Session"], "a\nb\nc")
        self.assertEqual(calls[0]["arguments"]["Session"], "a\nb\nc")

    def test_stand_in_and_dotnet_agree_on_int_texts(self):
        # Boundaries of the 32-bit range as triplets, and texts at the edge of
        # the xsd:int lexical space.
        texts = ["-2147483649", "-2147483648", "-2147483647", "2147483646", "2147483647",
                 "2147483648", "+11", "-0", "007", " 11 ", "\t11\n", "", "1.0", "1e1", "1 1",
                 "0x0B", "١١"]
        for text in texts:
            with self.subTest(text=text):
                body = program.envelope_text("CountUpdateInstalled", {
                    "PackageId": text, "ResultId": "8", "Session": "S"}).encode("utf-8")
                status, _, record, calls = self.send("CountUpdateInstalled", body)
                self.assertEqual(record["valid"], status == 200, (status, record["reasons"]))
                self.assertEqual(len(calls), 1 if status == 200 else 0)
                if status == 200:
                    self.assertEqual(calls[0]["arguments"]["PackageId"], int(text.strip()))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", required=True, help="build folder for the .NET service")
    parser.add_argument("--namespace-host", default=program.DEFAULT_NAMESPACE_HOST)
    parser.parse_known_args(namespace=OPTIONS)
    _, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
