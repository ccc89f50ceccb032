"""One JSON line per request, appended to the record file as soon as the
request is checked and before it is answered, so that a test which waits for
the program to finish finds every request on file."""

import base64
import datetime
import json
import threading


class Recorder:
    def __init__(self, path):
        self._path = path
        self._lock = threading.Lock()

    def write(self, record):
        if self._path is None:
            return
        line = json.dumps(record, ensure_ascii=False) + "\n"
        with self._lock, open(self._path, "a", encoding="utf-8") as file:
            file.write(line)


def now_text():
    return datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="microseconds")


def make_record(*, client, request_line, method, target, host, port, path, headers,
                body, verdict, answer):
    return {
        "time": now_text(),
        "client": client,
        "request_line": request_line,
        "method": method,
        "target": target,
        "host": host,
        "port": port,
        "path": path,
        "headers": [[name, value] for name, value in headers],
        "body": body.decode("utf-8", errors="replace"),
        "body_base64": base64.b64encode(body).decode("ascii"),
        "operation": verdict.operation,
        "values": verdict.values,
        "valid": verdict.valid,
        "reasons": verdict.reasons,
        "answer": answer,
    }
