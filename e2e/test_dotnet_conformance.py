#!/usr/bin/env python3
"""The program's requests held against an independent SOAP 1.1 stack: the
stand-in relays them to the metrics contract hosted by WCF under Mono, which
must accept them with HTTP 200 and dispatch the values as they were sent.

Usage: test_dotnet_conformance.py --exe EXE --template PREFIX --workdir DIR
                                  --service-dir DIR [unittest args]
Runs inside the test run's private network namespace.
"""
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "conformance"))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "standin-service"))

from conformance_service import ConformanceService  # noqa: E402
from standin_process import StandInService  # noqa: E402
from wine_run import WinePrefix, run_suite, session_file_bytes, suite_options  # noqa: E402

options = None

CASES = {
    "guid": "{6F1D2C3B-8A4E-4B7F-9C0D-1E2F3A4B5C6D}",
    "xml special characters": "a&b<c>\"d'e\rf",
    "non-ASCII": "caf\u00e9 \u20ac \U0001F600",
}


class DotNetConformance(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = WinePrefix(options.template, os.path.join(options.workdir, "prefix"))
        cls.service = ConformanceService(
            options.service_dir, calls_path=os.path.join(options.workdir, "calls.jsonl")).start()

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        cls.prefix.stop()

    def test_both_requests_are_accepted_and_dispatched_as_sent(self):
        for name, identifier in CASES.items():
            with self.subTest(name):
                os.makedirs(self.prefix.session_folder(), exist_ok=True)
                with open(self.prefix.session_file(), "wb") as f:
                    f.write(session_file_bytes(identifier))
                calls_before = len(self.service.calls())
                with StandInService("--forward", "127.0.0.1:%d" % self.service.port) as standin:
                    self.prefix.use_proxy(standin.port)
                    result = self.prefix.run(options.exe)
                    records = standin.records()
                self.assertEqual(0, result.exit_code)
                self.assertEqual([], result.heap_errors())
                self.assertEqual([(True, 200), (True, 200)],
                                 [(r["valid"], r.get("forwarded_status")) for r in records])
                calls = self.service.calls()[calls_before:]
                self.assertEqual(
                    [("CountUpdateDownloaded", 11, 0, identifier),
                     ("CountUpdateInstalled", 11, 8, identifier)],
                    [(c["operation"], c["arguments"]["PackageId"], c["arguments"]["ResultId"],
                      c["arguments"]["Session"]) for c in calls])


def main():
    global options
    options, arguments = suite_options(("--service-dir", {"required": True}))
    run_suite(arguments)


if __name__ == "__main__":
    main()
