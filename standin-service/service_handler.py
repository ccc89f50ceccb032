"""The stand-in's HTTP handler: reads one request, checks it, records it and
answers it the way the server's mode asks."""

import http.server
import os
import socket
import sys
import time
from urllib.parse import urlsplit

import forwarding
import soap_answers
from request_check import check_request
from request_record import make_record, now_text

# Answers the modes give, beyond the normal one. The last three never finish
# answering: they hold a client to its own deadline.
MODES = ("ok", "fault", "http500", "garbage", "delay", "held", "close", "silent", "trickle",
         "endless")

# Pace of the modes that never finish answering: trickle a byte at a time.
_TRICKLE_INTERVAL_SECONDS = 0.5
# Sent without a pause, in chunks of about 64 KiB, as fast as the client
# takes them. A client that drains an unread answer as it closes the request
# (Wine's WinINet does) reads only what is already waiting, and stops at the
# first moment the socket is empty. Large writes keep the socket's buffers
# full; small ones left it empty now and then on a busy machine, and such a
# client then ended its request early.
_ENDLESS_CHUNK = b"<!-- the answer goes on -->" * 2427

_IDLE_TIMEOUT_SECONDS = 60


class ServiceConfig:
    def __init__(self, *, namespace_uri, mode, delay, release_file, forward_to, read_timeout,
                 recorder, verbose):
        self.namespace_uri = namespace_uri
        self.mode = mode
        self.delay = delay
        self.release_file = release_file
        self.forward_to = forward_to
        self.read_timeout = read_timeout
        self.recorder = recorder
        self.verbose = verbose


def split_target(target, host_header):
    """(host, port, origin-form target) of an absolute-form, authority-form
    (CONNECT) or origin-form request target."""
    if "://" in target:
        parts = urlsplit(target)
        default_port = 443 if parts.scheme.lower() == "https" else 80
        path = (parts.path or "/") + ("?" + parts.query if parts.query else "")
        return parts.hostname, parts.port or default_port, path
    if not target.startswith("/") and target != "*":
        parts = urlsplit("//" + target)
        return parts.hostname, parts.port or 443, target
    if host_header:
        parts = urlsplit("//" + host_header)
        return parts.hostname, parts.port or 80, target
    return None, None, target


class MetricsRequestHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = _IDLE_TIMEOUT_SECONDS

    @property
    def config(self):
        return self.server.config

    def log_message(self, format, *args):  # noqa: A002 (the base class's name)
        if self.config.verbose:
            sys.stderr.write("metrics_service: " + (format % args) + "\n")

    def parse_request(self):
        if super().parse_request():
            return True
        # The base class has already answered 400; keep the evidence.
        request_line = str(self.raw_requestline, "iso-8859-1").rstrip("\r\n")
        self.config.recorder.write({
            "time": now_text(),
            "client": "%s:%d" % self.client_address[:2],
            "request_line": request_line,
            "valid": False,
            "reasons": ["request-line: not an HTTP request line"],
            "answer": "bad-request",
        })
        return False

    def handle_any(self):
        host, port, path = split_target(self.path, self.headers.get("Host"))
        headers = list(self.headers.items())
        body, framing_problems, must_close = self._read_body()
        verdict = check_request(self.command, path, headers, body, self.config.namespace_uri,
                                framing_problems)
        answer_kind, answer = self._choose_answer(verdict)
        record = make_record(
            client="%s:%d" % self.client_address[:2], request_line=self.requestline,
            method=self.command, target=self.path, host=host, port=port, path=path,
            headers=headers, body=body, verdict=verdict, answer=answer_kind)
        if answer_kind == "forward":
            # The other service's status shows whether it accepted the request.
            answer = self._forward(path, headers, body)
            record["forwarded_status"] = answer[0]
        self.config.recorder.write(record)

        if self.config.mode == "delay":
            time.sleep(self.config.delay)
        elif self.config.mode == "held":
            while not os.path.exists(self.config.release_file):
                time.sleep(0.02)
        if answer_kind in ("silent", "trickle", "endless"):
            self._answer_without_end(answer_kind, answer)
            return
        if answer is None:
            # "close": hang up without a single byte of answer.
            self.close_connection = True
            return
        self._send(*answer, close=must_close)

    do_POST = do_GET = do_HEAD = do_PUT = do_DELETE = do_OPTIONS = do_PATCH = do_CONNECT = \
        handle_any

    def _choose_answer(self, verdict):
        config = self.config
        if config.forward_to is not None:
            return "forward", None
        if config.mode in ("close", "silent"):
            return config.mode, None
        if config.mode in ("trickle", "endless"):
            return config.mode, _with_headers(
                soap_answers.operation_response(config.namespace_uri, verdict.operation))
        if config.mode == "http500":
            return "http500", _with_headers(soap_answers.html_error_page())
        if config.mode == "garbage":
            return "garbage", _with_headers(soap_answers.garbage())
        if not verdict.valid:
            return "refusal", _with_headers(soap_answers.refusal(verdict.reasons))
        if config.mode == "fault":
            return "fault", _with_headers(soap_answers.server_fault())
        return "response", _with_headers(
            soap_answers.operation_response(config.namespace_uri, verdict.operation))

    def _read_body(self):
        """(body, framing problems, whether the connection must close after
        the answer). A body whose end is in doubt leaves the connection
        unusable for a next request."""
        encodings = self.headers.get_all("Transfer-Encoding") or []
        lengths = self.headers.get_all("Content-Length") or []
        if encodings:
            return b"", ["body sent with Transfer-Encoding " + ", ".join(encodings)], True
        if len(lengths) != 1 or not lengths[0].isdigit() or not lengths[0].isascii():
            return self._read_available(None), [], True
        body = self._read_available(int(lengths[0]))
        if len(body) < int(lengths[0]):
            return body, [], True
        extra = self._pending_bytes()
        if extra:
            return body, [f"{extra} or more bytes follow the declared length"], True
        return body, [], False

    def _read_available(self, length):
        """Up to length bytes (None: until the peer closes), ending early when
        nothing arrives for the read time-out."""
        self.connection.settimeout(self.config.read_timeout)
        chunks, received = [], 0
        try:
            while length is None or received < length:
                chunk = self.rfile.read1(65536 if length is None else length - received)
                if not chunk:
                    break
                chunks.append(chunk)
                received += len(chunk)
        except (TimeoutError, socket.timeout):
            pass
        finally:
            self.connection.settimeout(self.timeout)
        return b"".join(chunks)

    def _pending_bytes(self):
        """How many bytes already wait after the body, without waiting for more."""
        self.connection.settimeout(0.0)
        try:
            return len(self.rfile.peek(1))
        finally:
            self.connection.settimeout(self.timeout)

    def _forward(self, path, headers, body):
        try:
            return forwarding.forward(self.config.forward_to, self.command, path, headers, body,
                                      timeout=60)
        except OSError as error:
            text = f"The stand-in could not reach {self.config.forward_to}: {error}\n"
            return 502, "Bad Gateway", [("Content-Type", "text/plain; charset=utf-8")], \
                text.encode("utf-8")

    def _answer_without_end(self, kind, answer):
        """Holds the connection until the client gives up: says nothing
        (silent), sends the answer a byte at a time and then more body bytes
        for ever (trickle), or sends an endless chunked body (endless)."""
        self.close_connection = True
        try:
            if kind == "silent":
                self._wait_for_hang_up()
                return
            status, reason, headers, body = answer
            if kind == "trickle":
                head = _head(status, reason, headers + [("Content-Length", str(1 << 30))])
                for byte in _endless(head + body, b" "):
                    self.wfile.write(byte)
                    self.wfile.flush()
                    time.sleep(_TRICKLE_INTERVAL_SECONDS)
            else:
                self.wfile.write(_head(status, reason, headers + [("Transfer-Encoding", "chunked")]))
                while True:
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(_ENDLESS_CHUNK), _ENDLESS_CHUNK))
                    self.wfile.flush()
        except OSError:
            pass  # the client has gone, which is the end of the answer

    def _wait_for_hang_up(self):
        self.connection.settimeout(_TRICKLE_INTERVAL_SECONDS)
        while True:
            try:
                if not self.connection.recv(4096):
                    return
            except (TimeoutError, socket.timeout):
                continue

    def _send(self, status, reason, headers, body, close):
        try:
            self.send_response(status, reason)
            for name, value in headers:
                self.send_header(name, value)
            self.send_header("Content-Length", str(len(body)))
            if close:
                self.send_header("Connection", "close")
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(body)
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            # The client gave up waiting (a delayed answer, say).
            self.close_connection = True


def _head(status, reason, headers):
    lines = ["HTTP/1.1 %d %s" % (status, reason)] + ["%s: %s" % header for header in headers]
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")


def _endless(start, filler):
    """Each byte of start, then filler's bytes again and again: one at a time."""
    for index in range(len(start)):
        yield start[index:index + 1]
    while True:
        for index in range(len(filler)):
            yield filler[index:index + 1]


def _with_headers(answer):
    status, reason, content_type, body = answer
    return status, reason, [("Content-Type", content_type), ("Cache-Control", "private")], body
