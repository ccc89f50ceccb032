"""Starts the stand-in metrics service as a process for a test or a script,
waits until it listens, reads its record and stops it."""

import json
import os
import subprocess
import sys
import tempfile
import time

SERVICE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "metrics_service.py")

# Waits end when the service listens, or has stopped, or has ended; a service
# that has done none of these by then is hung.
HANG_GUARD_S = 120


class StandInService:
    """One service process with its own record file; further arguments go to
    metrics_service.py (--mode, --forward, ...)."""

    def __init__(self, *arguments, record_path=None):
        self._scratch = tempfile.TemporaryDirectory(prefix="standin-")
        self.record_path = record_path or os.path.join(self._scratch.name, "record.jsonl")
        port_file = os.path.join(self._scratch.name, "port")
        self._process = subprocess.Popen(
            [sys.executable, SERVICE, "--port", "0", "--port-file", port_file,
             "--record", self.record_path, *arguments], stdin=subprocess.DEVNULL)
        guard = time.monotonic() + HANG_GUARD_S
        while not os.path.exists(port_file):
            if self._process.poll() is not None or time.monotonic() > guard:
                self.stop()
                raise RuntimeError("the stand-in metrics service did not start")
            time.sleep(0.02)
        with open(port_file, encoding="ascii") as file:
            self.port = int(file.read())

    def stop(self):
        if self._process.poll() is None:
            self._process.terminate()
            try:
                self._process.wait(timeout=HANG_GUARD_S)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        self._scratch.cleanup()

    def records(self):
        """Every request so far, oldest first."""
        if not os.path.exists(self.record_path):
            return []
        with open(self.record_path, encoding="utf-8") as file:
            return [json.loads(line) for line in file]

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.stop()
