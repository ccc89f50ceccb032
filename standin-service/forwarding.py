"""Relays a checked request to another service on this machine, in origin
form, and gives back its answer."""

import http.client
import ipaddress

# Hop-by-hop headers belong to the connection to the stand-in, not to the
# relayed request; the length is set from the bytes that are relayed.
_NOT_RELAYED = {"connection", "proxy-connection", "keep-alive", "te", "trailer",
                "transfer-encoding", "upgrade", "proxy-authorization", "host",
                "content-length"}
_NOT_RETURNED = {"connection", "proxy-connection", "keep-alive", "transfer-encoding",
                 "content-length", "server", "date"}


def parse_loopback_address(text):
    """HOST:PORT where HOST is a loopback address or localhost; anything else
    is refused, so that nothing is ever relayed off this machine."""
    host, separator, port = text.rpartition(":")
    host = host.strip("[]")
    if not separator or not port.isdigit() or not 0 < int(port) < 65536:
        raise ValueError(f"{text!r} is not HOST:PORT")
    if host != "localhost":
        try:
            loopback = ipaddress.ip_address(host).is_loopback
        except ValueError:
            raise ValueError(f"{text!r}: {host!r} is neither an IP address nor localhost") from None
        if not loopback:
            raise ValueError(f"{text!r}: {host} is not a loopback address")
    return host, int(port)


def forward(address, method, path, headers, body, timeout):
    """Returns (status, reason, headers, body) of the other service's answer."""
    host, port = address
    connection = http.client.HTTPConnection(host, port, timeout=timeout)
    try:
        connection.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
        connection.putheader("Host", f"{host}:{port}" if ":" not in host else f"[{host}]:{port}")
        for name, value in headers:
            if name.lower() not in _NOT_RELAYED:
                connection.putheader(name, value)
        connection.putheader("Content-Length", str(len(body)))
        connection.endheaders(body)
        response = connection.getresponse()
        answer_body = response.read()
        answer_headers = [(name, value) for name, value in response.getheaders()
                          if name.lower() not in _NOT_RETURNED]
        return response.status, response.reason, answer_headers, answer_body
    finally:
        connection.close()
