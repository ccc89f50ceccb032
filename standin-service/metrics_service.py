#!/usr/bin/env python3
"""A stand-in for the metrics web service, on 127.0.0.1 only.

It takes the program's SOAP requests as a proxy sees them (absolute-form
request target) or as the service itself would (origin form), checks each one
strictly against the service's contract, writes one JSON line per request to
the record file and answers as --mode asks. Requests that fail a check get
the SOAP fault a .NET web service would send (HTTP 500, soap:Client), unless
the mode answers every request the same broken way (http500, garbage, close).
With --forward, each request is relayed to another local service instead and
its answer passed back.
"""

import argparse
import http.server
import os
import signal
import sys

import forwarding
from metrics_contract import DEFAULT_NAMESPACE_HOST, metrics_namespace
from request_record import Recorder
from service_handler import MODES, MetricsRequestHandler, ServiceConfig


class MetricsServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, config):
        super().__init__(("127.0.0.1", port), MetricsRequestHandler)
        self.config = config


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, default=0,
                        help="TCP port on 127.0.0.1 (default 0: any free port)")
    parser.add_argument("--port-file",
                        help="file that receives the bound port once the service listens")
    parser.add_argument("--record", help="JSON-lines file that every request is appended to")
    parser.add_argument("--mode", choices=MODES, default="ok",
                        help="ok: SOAP response (200); fault: SOAP fault (500); "
                             "http500: HTML error page (500); garbage: bytes that are not "
                             "XML (200); delay: wait --delay seconds, then ok; held: wait "
                             "until --release-file exists, then ok; close: hang "
                             "up without an answer; silent: never answer; trickle: the "
                             "answer a byte every half second, for ever; endless: an "
                             "endless chunked body")
    parser.add_argument("--delay", type=float, default=5.0,
                        help="seconds to wait before answering in mode delay (default 5)")
    parser.add_argument("--release-file",
                        help="mode held: answer as ok, each request once this file exists")
    parser.add_argument("--forward", metavar="HOST:PORT",
                        help="relay every request to this loopback service and pass its "
                             "answer back (replaces --mode)")
    parser.add_argument("--namespace-host", default=DEFAULT_NAMESPACE_HOST,
                        help="host in the metrics namespace URI "
                             f"(default {DEFAULT_NAMESPACE_HOST})")
    parser.add_argument("--read-timeout", type=float, default=60.0,
                        help="seconds to wait for missing body bytes (default 60: a client "
                             "that stalls between its header and its body on a busy machine "
                             "is still read whole; one that hangs up is recorded at once)")
    parser.add_argument("--verbose", action="store_true", help="log each request to stderr")
    args = parser.parse_args(argv)
    if (args.mode == "held") != (args.release_file is not None):
        parser.error("--release-file goes with mode held, and mode held needs it")
    if args.forward is not None:
        if args.mode != "ok":
            parser.error("--forward replaces the answer; it takes no --mode")
        try:
            args.forward = forwarding.parse_loopback_address(args.forward)
        except ValueError as error:
            parser.error(f"--forward: {error}")
    return args


def write_port_file(path, port):
    # Written whole and renamed, so that a waiting caller never reads half.
    scratch = path + ".tmp"
    with open(scratch, "w", encoding="ascii") as file:
        file.write(f"{port}\n")
    os.replace(scratch, path)


def main(argv=None):
    args = parse_arguments(argv)
    config = ServiceConfig(namespace_uri=metrics_namespace(args.namespace_host),
                           mode=args.mode, delay=args.delay, release_file=args.release_file,
                           forward_to=args.forward,
                           read_timeout=args.read_timeout, recorder=Recorder(args.record),
                           verbose=args.verbose)
    server = MetricsServer(args.port, config)

    def stop(_signal, _frame):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    try:
        if args.port_file:
            write_port_file(args.port_file, server.server_address[1])
        if args.verbose:
            sys.stderr.write(f"metrics_service: listening on 127.0.0.1:{server.server_address[1]}\n")
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
