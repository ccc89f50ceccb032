#!/usr/bin/env python3
"""End to end: the real program under Wine, its requests received by the
stand-in metrics service through the prefix's proxy settings, and the
registry and session file inspected afterwards.

Usage: test_reporting_run.py --exe EXE --holder HOLDFILE_EXE --template PREFIX
                             --workdir DIR [--deadline SECONDS
                             --short-deadline-exe EXE --short-deadline SECONDS]
                             [--heap-validation] [--win64] [unittest arguments]
Runs inside the test run's private network namespace. With --win64 the
template is a 64-bit prefix, where the 32-bit program runs as on 64-bit
Windows, and the cases of the registry's two views run too.
"""
import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "standin-service"))

from standin_process import StandInService  # noqa: E402
from wine_run import (HANG_GUARD_S, HEAP_FLAGS_KEY, OPMODE_KEY, RUN_ONCE_KEY, RUN_ONCE_VALUE,  # noqa: E402
                      SAX_READER_CLASS_KEY, WINEPREFIX_TOOL, WinePrefix, counted_string,
                      reg_string, run_suite, session_file_bytes, suite_options, windows_path)

FALLBACK = "{3E9B6824-12DB-43CA-983D-B1A32D32F509}"
GUID = "{6F1D2C3B-8A4E-4B7F-9C0D-1E2F3A4B5C6D}"
NAMESPACE = "http://schemas.tarnwell.com/Fenmor-It/Support/MervoMetrics/"
HOSTS = {0: "metrics-internal.tarnwell.com", 1: "metrics-alternate.tarnwell.com",
         None: "metrics.tarnwell.com"}
SERVICE_PATH = "/kaldris/Mervo3/mervoservice2.asmx"

options = None
prefix = None


def setUpModule():
    global prefix
    path = os.path.join(options.workdir, "prefix")
    if options.win64:
        # Made on first use and kept, like the run's 32-bit template.
        subprocess.run([WINEPREFIX_TOOL, "template", options.template],
                       env=dict(os.environ, WINEARCH="win64"), check=True)
    prefix = WinePrefix(options.template, path)
    if options.heap_validation:
        prefix.import_reg("[%s]\n\"GlobalFlag\"=dword:00000080\n" % HEAP_FLAGS_KEY)


def tearDownModule():
    if prefix is not None:
        prefix.stop()


class ReportingRun(unittest.TestCase):
    """Each test starts from: RunOnce holding the program's value and a
    sibling, no Opmode, no session file, the session folder present."""

    def setUp(self):
        prefix.import_reg(
            "[-%s]\n[%s]\n%s=%s\n\"Sibling\"=\"C:\\\\windows\\\\notepad.exe\"\n"
            % (OPMODE_KEY, RUN_ONCE_KEY, reg_string(RUN_ONCE_VALUE),
               reg_string("C:\\Program Files\\Zorvik\\ZorvikUpdateReport.exe")))
        if options.win64:
            # The import above goes through the 32-bit view; this is the other.
            prefix.wine("reg", "delete", OPMODE_KEY, "/f", "/reg:64")
        shutil.rmtree(prefix.session_folder(), ignore_errors=True)
        os.makedirs(prefix.session_folder())

    # -- helpers ----------------------------------------------------------

    def write_session(self, data):
        with open(prefix.session_file(), "wb") as f:
            f.write(data)

    def set_opmode(self, reg_value):
        prefix.import_reg("[%s]\n\"Opmode\"=%s\n" % (OPMODE_KEY, reg_value))

    def run_program(self, *service_arguments, service_running=True, exe=None):
        """Runs the program once against a fresh stand-in; returns its records."""
        with StandInService(*service_arguments) as service:
            if not service_running:
                port = service.port
                service.stop()
            else:
                port = service.port
            prefix.use_proxy(port)
            started = time.monotonic()
            result = prefix.run(exe or options.exe)
            self.elapsed = time.monotonic() - started
            records = service.records() if service_running else []
        self.assertEqual(0, result.exit_code, "exit code")
        self.assertEqual(b"", result.stdout, "nothing printed")
        self.assertEqual([], result.heap_errors(), "heap errors")
        self.assertEqual(b"", result.own_stderr, "nothing printed")
        return records

    def assert_run_messages(self, records, session, host="metrics.tarnwell.com", count=2):
        """The run's first `count` messages, each exactly as the program sends it."""
        self.assertEqual(["CountUpdateDownloaded", "CountUpdateInstalled"][:count],
                         [r["operation"] for r in records])
        for record, result_id in zip(records, ("0", "8")):
            self.assertTrue(record["valid"], record["reasons"])
            self.assertEqual("POST http://%s:80%s HTTP/1.1" % (host, SERVICE_PATH), record["request_line"])
            self.assertEqual(host, record["host"])
            self.assertEqual({"PackageId": "11", "ResultId": result_id, "Session": session},
                             record["values"])
            headers = [name.lower() for name, _ in record["headers"]]
            action = headers.index("soapaction")
            self.assertEqual("content-type", headers[action + 1])
            self.assertEqual('"%s%s"' % (NAMESPACE, record["operation"]),
                             record["headers"][action][1])

    def assert_cleaned_up(self):
        values = prefix.reg_values(RUN_ONCE_KEY)
        self.assertIsNotNone(values)
        self.assertNotIn(RUN_ONCE_VALUE, values)
        self.assertIn("Sibling", values)
        self.assertFalse(os.path.exists(prefix.session_file()))
        self.assertTrue(os.path.isdir(prefix.session_folder()))

    # -- cases --------------------------------------------------------------

    def test_normal_session_file(self):
        self.write_session(session_file_bytes(GUID))
        self.assertIn(RUN_ONCE_VALUE, prefix.reg_values(RUN_ONCE_KEY))
        self.assert_run_messages(self.run_program(), GUID)
        self.assert_cleaned_up()

    def test_no_session_file_sends_the_fallback(self):
        os.rmdir(prefix.session_folder())
        self.assert_run_messages(self.run_program(), FALLBACK)
        self.assertFalse(os.path.exists(prefix.session_folder()))
        self.assertNotIn(RUN_ONCE_VALUE, prefix.reg_values(RUN_ONCE_KEY))

    def test_empty_identifier_is_sent_empty(self):
        for record6 in ("", None):
            with self.subTest(record6=record6):
                self.write_session(session_file_bytes(record6))
                self.assert_run_messages(self.run_program(), "")
                self.assert_cleaned_up()

    def test_malformed_files_send_the_fallback(self):
        valid = session_file_bytes(GUID)
        cases = {
            "empty": b"",
            "header only": valid[:8],
            "truncated in record 6": valid[:-3],
            "count 1": valid[:8] + (1).to_bytes(4, "little") + valid[12:],
            "count past the limit": valid[:8] + (0x100001).to_bytes(4, "little") + valid[12:],
            "bad terminator": valid[:-2] + b"\x01\x00",
            "five records": session_file_bytes(GUID, others=("a", "b", "c", "d"))[:-len(counted_string(GUID))],
        }
        for name, data in cases.items():
            with self.subTest(name):
                self.write_session(data)
                self.assert_run_messages(self.run_program(), FALLBACK)
                self.assert_cleaned_up()

    def test_identifier_with_special_characters_arrives_as_it_was(self):
        identifier = 'a&b<c>"d\'e\r\nf\té€😀 ${packageId}'
        self.write_session(session_file_bytes(identifier))
        records = self.run_program()
        # A parser turns &#13; back into CR, so the value arrives exactly.
        self.assert_run_messages(records, identifier)
        self.assertIn(b"&amp;b&lt;c&gt;&quot;d&apos;e&#13;\n", records[0]["body"].encode("utf-8"))

    def test_opmode_chooses_the_host(self):
        cases = [("dword:00000000", HOSTS[0]), ("dword:00000001", HOSTS[1]),
                 ("dword:00000002", HOSTS[None]), ('"1"', HOSTS[None]),
                 ("hex:01,00,00,00,00,00,00,00", HOSTS[None])]
        for value, host in cases:
            with self.subTest(value):
                self.setUp()
                self.set_opmode(value)
                self.write_session(session_file_bytes(GUID))
                self.assert_run_messages(self.run_program(), GUID, host=host)

    def test_service_failures_do_not_stop_the_run(self):
        for mode in ("fault", "http500", "garbage", "close"):
            with self.subTest(mode):
                self.setUp()
                self.write_session(session_file_bytes(GUID))
                records = self.run_program("--mode", mode)
                self.assert_run_messages(records, GUID)
                self.assert_cleaned_up()

    def assert_deadline_met(self, mode, exe, deadline, most):
        """A service that never finishes answering: the run still ends by its
        deadline, having posted at most `most` exact reports, and cleans up."""
        self.assertTrue(options.deadline and options.short_deadline_exe and options.short_deadline,
                        "this case needs --deadline, --short-deadline-exe and --short-deadline")
        self.write_session(session_file_bytes(GUID))
        records = self.run_program("--mode", mode, exe=exe)
        self.assertLessEqual(len(records), most)
        # A short deadline may pass before a slow start (full heap validation)
        # has posted even the first report; the shipped one does not.
        if exe == options.exe:
            self.assertGreaterEqual(len(records), 1)
        self.assert_run_messages(records, GUID, count=len(records))
        # A run with a report left unposted was held until the deadline
        # abandoned the report under way, which comes when the last twelfth of
        # the run is left for the clean-up. Wine's own start-up and end are
        # outside the program's clock.
        if len(records) < 2:
            self.assertGreaterEqual(self.elapsed, deadline * 11 / 12)
        self.assertLess(self.elapsed, deadline + 15)
        self.assert_cleaned_up()

    def test_silent_service_meets_the_deadline(self):
        # The program as shipped, with its real deadline. Wine waits for an
        # answer without end; Windows gives up after its 30 s receive
        # time-out, and the second report then goes out within the deadline.
        self.assert_deadline_met("silent", options.exe, options.deadline, most=2)

    def test_trickling_answer_meets_the_deadline(self):
        # A byte every half second: the first report's send never completes.
        self.assert_deadline_met("trickle", options.short_deadline_exe, options.short_deadline, most=1)

    def test_endless_answer_meets_the_deadline(self):
        # The request is closed unread. Windows discards what is outstanding;
        # Wine drains it until it finds the socket empty for a moment, so
        # whether the close holds the run is up to the scheduler.
        self.assert_deadline_met("endless", options.short_deadline_exe, options.short_deadline, most=2)

    def test_service_refusing_connections(self):
        self.write_session(session_file_bytes(GUID))
        self.assertEqual([], self.run_program(service_running=False))
        self.assert_cleaned_up()

    def test_run_once_value_already_absent(self):
        prefix.import_reg("[%s]\n%s=-\n" % (RUN_ONCE_KEY, reg_string(RUN_ONCE_VALUE)))
        self.write_session(session_file_bytes(GUID))
        self.assert_run_messages(self.run_program(), GUID)
        self.assert_cleaned_up()

    def test_locked_session_file(self):
        self.write_session(session_file_bytes(GUID))
        ready = os.path.join(options.workdir, "hold.ready")
        release = os.path.join(options.workdir, "hold.release")
        for marker in (ready, release):
            if os.path.exists(marker):
                os.remove(marker)
        holder = prefix.start(options.holder, windows_path(prefix.session_file()),
                              windows_path(ready), windows_path(release))
        try:
            # Until the holder has the file or has given up; only a hung one
            # meets the guard.
            guard = time.monotonic() + HANG_GUARD_S
            while not os.path.exists(ready) and time.monotonic() < guard:
                self.assertIsNone(holder.poll(), "the holder could not open the file")
                time.sleep(0.02)
            self.assertTrue(os.path.exists(ready))
            self.assert_run_messages(self.run_program(), FALLBACK)
        finally:
            open(release, "w").close()
            holder.wait(timeout=HANG_GUARD_S)
        self.assertTrue(os.path.exists(prefix.session_file()), "a locked file is not deleted")
        self.assertNotIn(RUN_ONCE_VALUE, prefix.reg_values(RUN_ONCE_KEY))

    def test_opmode_in_each_registry_view(self):
        # The 32-bit program reads the 32-bit view, where a 32-bit installer
        # writes; a value in the 64-bit view alone is not seen.
        if not options.win64:
            self.skipTest("needs --win64: the 32-bit program in a 64-bit prefix")
        cases = [({"/reg:32": 1}, HOSTS[1]), ({"/reg:64": 1}, HOSTS[None]),
                 ({"/reg:32": 0, "/reg:64": 1}, HOSTS[0])]
        for views, host in cases:
            with self.subTest(views):
                self.setUp()
                for view, value in views.items():
                    result = prefix.wine("reg", "add", OPMODE_KEY, "/v", "Opmode", "/t", "REG_DWORD",
                                         "/d", str(value), "/f", view)
                    self.assertEqual(0, result.exit_code, result.stderr)
                for view in ("/reg:32", "/reg:64"):
                    query = prefix.wine("reg", "query", OPMODE_KEY, "/v", "Opmode", view)
                    self.assertEqual(view in views, query.exit_code == 0, view)
                self.write_session(session_file_bytes(GUID))
                self.assert_run_messages(self.run_program(), GUID, host=host)
                self.assert_cleaned_up()

    def test_unregistered_sax_reader_sends_nothing(self):
        saved = prefix.export_key(SAX_READER_CLASS_KEY)
        prefix.import_reg("[-%s]\n" % SAX_READER_CLASS_KEY)
        try:
            self.write_session(session_file_bytes(GUID))
            self.assertEqual([], self.run_program())
            self.assert_cleaned_up()
        finally:
            prefix.import_reg(saved)


def main():
    global options
    options, arguments = suite_options(("--holder", {"required": True}),
                                       ("--deadline", {"type": int}),
                                       ("--short-deadline-exe", {}),
                                       ("--short-deadline", {"type": int}),
                                       ("--heap-validation", {"action": "store_true"}),
                                       ("--win64", {"action": "store_true"}))
    run_suite(arguments)


if __name__ == "__main__":
    main()
