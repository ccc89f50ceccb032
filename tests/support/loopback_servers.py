#!/usr/bin/env python3
"""Loopback HTTP and HTTPS servers for the transport's and the metrics client's tests.

Usage: loopback_servers.py WORKDIR -- COMMAND...

Starts the servers, trusts a test certificate authority inside the Wine prefix
($WINEPREFIX, HKCU Root store only), runs COMMAND with the ports in its
environment, stops the servers and exits with COMMAND's status.

Every server answers a request with 200 and a body that is the request exactly
as received (request line, headers, body), so the test reads back what the
client sent through the client's own response stream. GET /last-request
answers with the request received before it, for a client that does not read
its answer.
"""
import hashlib
import os
import socket
import ssl
import subprocess
import sys
import threading

CA_SUBJECT = "/O=Zorvik Test Authority/CN=Zorvik Test Root"
SERVERS = {
    # name: (subject, signed by the test CA)
    "HTTPS": ("/C=US/O=Tarnwell Test Services/OU=Metrics/CN=localhost", True),
    "HTTPS_LOWERCASE": ("/C=US/O=tarnwell test services/OU=Metrics/CN=localhost", True),
    "HTTPS_UNTRUSTED": ("/C=US/O=Tarnwell Test Services/OU=Metrics/CN=localhost", False),
}


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def make_certificates(workdir):
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-subj", CA_SUBJECT,
            "-keyout", "ca.key", "-out", "ca.pem", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=workdir)
    with open(os.path.join(workdir, "san.ext"), "w") as f:
        f.write("subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n")
    for name, (subject, trusted) in SERVERS.items():
        key, pem = name + ".key", name + ".pem"
        if trusted:
            openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", subject, "-keyout", key,
                    "-out", name + ".csr", cwd=workdir)
            openssl("x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                    "-CAcreateserial", "-days", "30", "-extfile", "san.ext", "-out", pem, cwd=workdir)
        else:
            openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-subj", subject,
                    "-keyout", key, "-out", pem, "-addext", "subjectAltName=DNS:localhost",
                    cwd=workdir)


def trust_in_wine_prefix(ca_pem_path):
    """Adds the CA to the prefix's per-user Root store, the way crypt32 stores it."""
    with open(ca_pem_path) as f:
        der = ssl.PEM_cert_to_DER_cert(f.read())
    thumbprint = hashlib.sha1(der).hexdigest().upper()
    blob = (32).to_bytes(4, "little") + (1).to_bytes(4, "little") + len(der).to_bytes(4, "little") + der
    key = "HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + thumbprint
    subprocess.run(["wine", "reg", "add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(), "/f"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   stdin=subprocess.DEVNULL)


def read_request(conn):
    """Reads one request (headers and a Content-Length body); None at end of stream."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return None
        data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    while len(body) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        body += chunk
    return head + b"\r\n\r\n" + body


last_request = [b""]


def serve_connection(conn, context):
    if context is not None:
        # On this connection's own thread, without a time-out: a client that
        # is slow to shake hands on a busy machine delays no other, and a
        # client that gives up closes the socket.
        try:
            conn = context.wrap_socket(conn, server_side=True)
        except (OSError, ssl.SSLError):
            conn.close()
            return
    with conn:
        try:
            while True:
                request = read_request(conn)
                if request is None:
                    return
                target = request.split(b" ", 2)[1]
                if target == b"/last-request":
                    answer = last_request[0]
                else:
                    last_request[0] = answer = request
                # A non-empty body also keeps the connection (and the certificate) alive.
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n\r\n"
                             % len(answer) + answer)
        except (OSError, ssl.SSLError):
            return


def start_server(context=None):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)

    def accept_loop():
        while True:
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            threading.Thread(target=serve_connection, args=(conn, context), daemon=True).start()

    threading.Thread(target=accept_loop, daemon=True).start()
    return listener.getsockname()[1]


def closed_port():
    """A loopback port that nothing listens on."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    separator = sys.argv.index("--")
    workdir, command = sys.argv[1], sys.argv[separator + 1:]
    os.makedirs(workdir, exist_ok=True)
    make_certificates(workdir)
    trust_in_wine_prefix(os.path.join(workdir, "ca.pem"))

    env = dict(os.environ)
    env["ZORVIK_TEST_HTTP_PORT"] = str(start_server())
    for name in SERVERS:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(workdir, name + ".pem"), os.path.join(workdir, name + ".key"))
        env["ZORVIK_TEST_%s_PORT" % name] = str(start_server(context))
    env["ZORVIK_TEST_CLOSED_PORT"] = str(closed_port())
    sys.stdout.flush()
    return subprocess.run(command, env=env).returncode


if __name__ == "__main__":
    sys.exit(main())
