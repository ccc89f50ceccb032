#!/usr/bin/env python3
"""One real run of the program, shown: a scratch Wine prefix with a session
file and the RunOnce value, the stand-in metrics service behind the prefix's
proxy settings, and what each side saw.

Usage: run_demo.py --exe EXE --template PREFIX --workdir DIR
Runs inside a private network namespace (scripts/demo makes one).
"""
import argparse
import os
import shutil
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "e2e"))
sys.path.insert(0, os.path.join(ROOT, "standin-service"))

from standin_process import StandInService  # noqa: E402
from wine_run import RUN_ONCE_KEY, RUN_ONCE_VALUE, WinePrefix, reg_string, session_file_bytes  # noqa: E402

SESSION_ID = "{5D3A9C21-7E4B-4F08-A1C6-92B0E8D4F317}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--template", required=True)
    parser.add_argument("--workdir", required=True)
    options = parser.parse_args()
    shutil.rmtree(options.workdir, ignore_errors=True)
    os.makedirs(options.workdir)

    prefix = WinePrefix(options.template, os.path.join(options.workdir, "prefix"), debug="-all")
    try:
        os.makedirs(prefix.session_folder())
        with open(prefix.session_file(), "wb") as f:
            f.write(session_file_bytes(SESSION_ID))
        prefix.import_reg("[%s]\n%s=%s\n" % (RUN_ONCE_KEY, reg_string(RUN_ONCE_VALUE),
                                             reg_string("C:\\Zorvik\\ZorvikUpdateReport.exe")))
        print("Before the run")
        print("  session file:   %s (identifier %s)" % (prefix.session_file(), SESSION_ID))
        print("  RunOnce value:  %s = %s" % (RUN_ONCE_VALUE, prefix.reg_values(RUN_ONCE_KEY).get(RUN_ONCE_VALUE)))

        with StandInService() as service:
            prefix.use_proxy(service.port)
            print("  metrics service stand-in on 127.0.0.1:%d (the prefix's proxy)" % service.port)
            result = prefix.wine(options.exe)
            records = service.records()

        print("\nWhat the metrics service received")
        for number, record in enumerate(records, 1):
            action = next((value for name, value in record["headers"] if name.lower() == "soapaction"), "")
            print("  %d. %s" % (number, record["request_line"]))
            print("     SOAPAction: %s" % action)
            print("     operation:  %s  %s" % (record["operation"], "(well-formed, accepted)" if record["valid"]
                                             else "(refused: %s)" % "; ".join(record["reasons"])))
            for name, value in record["values"].items():
                print("     %-10s  %s" % (name + ":", value))
        if not records:
            print("  nothing")

        run_once = prefix.reg_values(RUN_ONCE_KEY) or {}
        print("\nAfter the run")
        print("  exit code:      %d" % result.exit_code)
        print("  output:         %s" % ("none" if not (result.stdout or result.stderr) else
                                        (result.stdout + result.stderr).decode("utf-8", "replace")))
        print("  RunOnce value:  %s" % ("gone" if RUN_ONCE_VALUE not in run_once else "still there"))
        print("  session file:   %s" % ("gone" if not os.path.exists(prefix.session_file()) else "still there"))
        print("  session folder: %s" % ("kept" if os.path.isdir(prefix.session_folder()) else "gone"))
        ok = (result.exit_code == 0 and len(records) == 2 and all(r["valid"] for r in records)
              and RUN_ONCE_VALUE not in run_once and not os.path.exists(prefix.session_file()))
        return 0 if ok else 1
    finally:
        prefix.stop()


if __name__ == "__main__":
    sys.exit(main())
