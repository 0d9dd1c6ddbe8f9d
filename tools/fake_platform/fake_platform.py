#!/usr/bin/env python3
"""A stand-in for the loyalty platform's web API on loopback, for tests, the demo
and the benchmarks.

It serves HTTP and three HTTPS listeners, all with certificates made at start with the
openssl command: "https" has a self-signed certificate for a host name that never
matches, so clients must waive the checks; "https_trusted" has a certificate for
127.0.0.1 and localhost signed by a test authority of its own, whose certificate
(the file named "ca_file" in the announcement) a client can be told to trust; and
"https_trusted_wrong_name" has one that authority signed for a name that never
matches, so only the name check fails. It
records every request whole (method, path, raw query string, headers, raw body bytes) in
arrival order, and answers from scripts set over its control endpoint. Without a
script it behaves like a plausible platform: postings are accepted with 200,
"v2/produtos" lists two products, "v1/reset" reports no pending reset (GET) and
acknowledges with 202 (POST).

Start:   fake_platform.py [--port N] [--https-port N] [--trusted-https-port N] [--no-https]
                          [--port-file F] [--script FILE] [--verbose]
Ports 0 (the default) pick free ones. Once listening, one JSON line goes to
standard output (and to --port-file): {"http_port": N, "https_port": M,
"trusted_https_port": T, "ca_file": "/tmp/.../ca.pem"} (0 and "" with --no-https).

Control endpoint (on either port; never recorded):
  GET  /__control/ping        -> 200 "ok"
  POST /__control/script      body: {"path": "/v1/lancador", "method": "POST" (optional),
                              "replies": [reply, ...]}. Requests to that path (and method,
                              when given) take the replies in order; the last one repeats.
                              A new script for the same path and method replaces the old.
       reply: {"status": 200, "reason": "OK" (optional),
               "headers": [["Content-Type", "application/json"], ...],
               "body": "text" | "body_hex": "00ff..",
               "delay_ms": 0        (wait before the status line),
               "close": false       (close the connection without any reply),
               "break_tls": false   (https: bytes that are no TLS record, then the close),
               "content_length": true (false: no Content-Length, body ends with the connection),
               "trickle_ms": 0      (send the body one byte at a time, this long apart),
               "repeat": 1          (send the body this many times over: a huge reply
                                     without a huge script)}
  GET  /__control/requests    -> [{"scheme", "method", "path", "query", "headers": [[name, value]],
                                   "body_hex"}, ...] in arrival order
  POST /__control/stall_handshakes  body "true" or "false": while true, new HTTPS
                              connections are accepted and then never get their TLS
                              handshake (a peer that hangs before the exchange starts)
  GET  /__control/connections -> {"http": N, "https": N, "https_trusted": N,
                              "https_trusted_wrong_name": N}: connections each
                              listener accepted (control connections too), counted on accept, so
                              a client's earlier connection is always counted before its later one
  POST /__control/reset       forgets every script, every recorded request and the counts, and
                              lets handshakes go on again
  POST /__control/shutdown    stops both servers; the process exits with 0
SIGTERM and SIGINT stop it the same way. --script FILE loads a JSON list of scripts.
"""

import argparse
import json
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CONTROL_PREFIX = "/__control/"

DEFAULT_PRODUCTS = [
    {"ean": "7891000100103", "produto": "Leite condensado 395 g"},
    {"ean": "7894900011517", "produto": "Refrigerante cola 2 l"},
]


class Platform:
    """The state both servers share: scripts, recorded requests, the stop signal."""

    def __init__(self, verbose):
        self.lock = threading.Lock()
        self.requests = []
        self.scripts = {}
        self.connections = {}
        self.stopping = threading.Event()
        self.stall_handshakes = False
        self.verbose = verbose

    def record(self, entry):
        with self.lock:
            self.requests.append(entry)

    def set_script(self, script):
        path = script["path"]
        method = script.get("method") or None
        replies = list(script.get("replies") or [])
        if not replies:
            raise ValueError("a script needs at least one reply")
        with self.lock:
            self.scripts[(method, path)] = replies

    def next_reply(self, method, path):
        with self.lock:
            replies = self.scripts.get((method, path)) or self.scripts.get((None, path))
            if not replies:
                return None
            return replies[0] if len(replies) == 1 else replies.pop(0)

    def count_connection(self, listener):
        with self.lock:
            self.connections[listener] = self.connections.get(listener, 0) + 1

    def reset(self):
        with self.lock:
            self.requests.clear()
            self.scripts.clear()
            self.stall_handshakes = False
            self.connections.clear()


def json_reply(status, value):
    return {"status": status, "headers": [["Content-Type", "application/json; charset=utf-8"]],
            "body": json.dumps(value, ensure_ascii=False)}


def default_reply(method, path):
    """What a plausible platform answers when no script covers the request."""
    if path.endswith("/v1/lancador") and method == "POST":
        return json_reply(200, {"mensagem": "Movimento registrado"})
    if path.endswith("/v2/produtos") and method == "GET":
        return json_reply(200, DEFAULT_PRODUCTS)
    if path.endswith("/v1/reset") and method == "GET":
        return json_reply(200, [])
    if path.endswith("/v1/reset") and method == "POST":
        return json_reply(202, {"mensagem": "Reset confirmado"})
    return {"status": 404, "headers": [["Content-Type", "text/plain; charset=utf-8"]],
            "body": "Not found"}


def reply_body(reply):
    if "body_hex" in reply:
        return bytes.fromhex(reply["body_hex"])
    return reply.get("body", "").encode("utf-8")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "FakeBrindex/1.0"

    def version_string(self):
        return self.server_version

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        if self.server.platform.verbose:
            sys.stderr.write("fake_platform: %s\n" % (format % args))

    def read_body(self):
        if "chunked" in (self.headers.get("Transfer-Encoding") or "").lower():
            body = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return body
                body += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def serve(self):
        platform = self.server.platform
        path, _, query = self.path.partition("?")
        body = self.read_body()
        if path.startswith(CONTROL_PREFIX):
            self.control(path[len(CONTROL_PREFIX):], body)
            return
        platform.record({
            "scheme": self.server.scheme,
            "method": self.command,
            "path": path,
            "query": query,
            "headers": [[name, value] for name, value in self.headers.items()],
            "body_hex": body.hex(),
        })
        reply = platform.next_reply(self.command, path) or default_reply(self.command, path)
        delay_ms = reply.get("delay_ms", 0)
        if delay_ms > 0 and platform.stopping.wait(delay_ms / 1000.0):
            self.close_connection = True
            return
        if reply.get("break_tls") and isinstance(self.connection, ssl.SSLSocket):
            # Written under the TLS layer, straight to the socket: the client's TLS
            # layer finds a record it cannot read, after its request went out.
            self.close_connection = True
            try:
                os.write(self.connection.fileno(), b"\x17\x03\x03\x00\x10" + b"\x00" * 16)
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            return
        if reply.get("close"):
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            return
        self.send_reply(reply)

    def send_reply(self, reply):
        body = reply_body(reply)
        repeat = max(1, int(reply.get("repeat", 1)))
        headers = [tuple(header) for header in reply.get("headers", [])]
        self.send_response(reply.get("status", 200), reply.get("reason"))
        for name, value in headers:
            self.send_header(name, value)
        has_length = any(name.lower() == "content-length" for name, _ in headers)
        if reply.get("content_length", True):
            if not has_length:
                self.send_header("Content-Length", str(len(body) * repeat))
        else:
            self.close_connection = True
            self.send_header("Connection", "close")
        self.end_headers()
        if self.command == "HEAD":
            return
        trickle_ms = reply.get("trickle_ms", 0)
        if trickle_ms <= 0:
            for _ in range(repeat):
                if self.server.platform.stopping.is_set():
                    self.close_connection = True
                    return
                self.wfile.write(body)
            return
        self.wfile.flush()
        for index in range(len(body)):
            if self.server.platform.stopping.wait(trickle_ms / 1000.0):
                self.close_connection = True
                return
            self.wfile.write(body[index:index + 1])
            self.wfile.flush()

    def control(self, action, body):
        platform = self.server.platform
        try:
            if action == "ping":
                self.send_reply({"status": 200, "body": "ok"})
            elif action == "script" and self.command == "POST":
                platform.set_script(json.loads(body.decode("utf-8")))
                self.send_reply({"status": 204})
            elif action == "requests":
                with platform.lock:
                    listing = json.dumps(platform.requests)
                self.send_reply({"status": 200, "headers": [["Content-Type", "application/json"]],
                                 "body": listing})
            elif action == "stall_handshakes" and self.command == "POST":
                platform.stall_handshakes = json.loads(body.decode("utf-8")) is True
                self.send_reply({"status": 204})
            elif action == "connections":
                with platform.lock:
                    counts = {name: platform.connections.get(name, 0)
                              for name in ("http", "https", "https_trusted", "https_trusted_wrong_name")}
                self.send_reply({"status": 200, "headers": [["Content-Type", "application/json"]],
                                 "body": json.dumps(counts)})
            elif action == "reset" and self.command == "POST":
                platform.reset()
                self.send_reply({"status": 204})
            elif action == "shutdown" and self.command == "POST":
                self.send_reply({"status": 204})
                platform.stopping.set()
            else:
                self.send_reply({"status": 404, "body": "unknown control action"})
        except (ValueError, KeyError, TypeError) as error:
            self.send_reply({"status": 400, "body": "bad control request: %s" % error})

    do_GET = serve
    do_POST = serve
    do_PUT = serve
    do_DELETE = serve
    do_PATCH = serve
    do_HEAD = serve
    do_OPTIONS = serve


class PlatformServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, platform, listener, ssl_context=None):
        super().__init__(("127.0.0.1", port), Handler)
        self.platform = platform
        self.listener = listener
        self.ssl_context = ssl_context
        self.scheme = "https" if ssl_context else "http"

    def process_request(self, request, client_address):
        # Counted on the accepting thread, before the connection's own thread starts.
        self.platform.count_connection(self.listener)
        super().process_request(request, client_address)

    def finish_request(self, request, client_address):
        # The handshake runs on the connection's own thread, so a client that
        # rejects the certificate (as a verifying client first does) stalls nobody.
        if self.ssl_context is not None:
            if self.platform.stall_handshakes:
                # Holds the connection open without a byte while the stall lasts.
                while self.platform.stall_handshakes and not self.platform.stopping.wait(0.05):
                    pass
                return
            try:
                request = self.ssl_context.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError):
                return
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        if self.platform.verbose:
            super().handle_error(request, client_address)


def openssl_certificate(key, cert, subject, extensions, issuer=None):
    """A new P-256 key and its certificate: self-signed, or signed by `issuer` (cert, key)."""
    command = ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
               "-nodes", "-keyout", key, "-out", cert, "-days", "30", "-subj", subject]
    if issuer:
        command += ["-CA", issuer[0], "-CAkey", issuer[1]]
    for extension in extensions:
        command += ["-addext", extension]
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def make_certificate(folder):
    """A self-signed certificate for a name no client asks for."""
    return openssl_certificate(os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem"),
                               "/CN=wrong-host.invalid", ["subjectAltName=DNS:wrong-host.invalid"])


def make_trusted_certificate(folder):
    """A test authority and a certificate for 127.0.0.1 and localhost that it signed.
    Returns the authority's certificate file, the server's certificate and its key."""
    authority = openssl_certificate(
        os.path.join(folder, "ca-key.pem"), os.path.join(folder, "ca.pem"), "/CN=Zendrel fake platform test CA",
        ["basicConstraints=critical,CA:TRUE", "keyUsage=critical,keyCertSign,cRLSign"])
    cert, key = openssl_certificate(
        os.path.join(folder, "trusted-key.pem"), os.path.join(folder, "trusted-cert.pem"), "/CN=127.0.0.1",
        ["subjectAltName=IP:127.0.0.1,DNS:localhost", "basicConstraints=critical,CA:FALSE",
         "keyUsage=critical,digitalSignature", "extendedKeyUsage=serverAuth"],
        issuer=authority)
    return authority, cert, key


def make_trusted_wrong_name_certificate(folder, authority):
    """A certificate the test authority signed for a name no client asks for."""
    return openssl_certificate(
        os.path.join(folder, "trusted-wrong-name-key.pem"), os.path.join(folder, "trusted-wrong-name-cert.pem"),
        "/CN=wrong-host.invalid",
        ["subjectAltName=DNS:wrong-host.invalid", "basicConstraints=critical,CA:FALSE",
         "keyUsage=critical,digitalSignature", "extendedKeyUsage=serverAuth"],
        issuer=authority)


def server_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


def main():
    parser = argparse.ArgumentParser(description="Fake loyalty platform on loopback")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--https-port", type=int, default=0)
    parser.add_argument("--trusted-https-port", type=int, default=0)
    parser.add_argument("--trusted-wrong-name-https-port", type=int, default=0)
    parser.add_argument("--no-https", action="store_true")
    parser.add_argument("--port-file")
    parser.add_argument("--script", help="JSON file holding a list of scripts")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()

    platform = Platform(args.verbose)
    if args.script:
        with open(args.script, encoding="utf-8") as script_file:
            for script in json.load(script_file):
                platform.set_script(script)

    certificate_folder = None
    ca_file = ""
    servers = [PlatformServer(args.port, platform, "http")]
    try:
        if not args.no_https:
            certificate_folder = tempfile.mkdtemp(prefix="fake_platform_")
            servers.append(PlatformServer(args.https_port, platform, "https",
                                          server_context(*make_certificate(certificate_folder))))
            authority, cert, key = make_trusted_certificate(certificate_folder)
            ca_file = authority[0]
            servers.append(PlatformServer(args.trusted_https_port, platform, "https_trusted",
                                          server_context(cert, key)))
            servers.append(PlatformServer(args.trusted_wrong_name_https_port, platform, "https_trusted_wrong_name",
                                          server_context(*make_trusted_wrong_name_certificate(certificate_folder,
                                                                                              authority))))

        ports = {"http_port": servers[0].server_address[1],
                 "https_port": servers[1].server_address[1] if len(servers) > 1 else 0,
                 "trusted_https_port": servers[2].server_address[1] if len(servers) > 2 else 0,
                 "trusted_wrong_name_https_port": servers[3].server_address[1] if len(servers) > 3 else 0,
                 "ca_file": ca_file}
        line = json.dumps(ports)
        if args.port_file:
            with open(args.port_file + ".tmp", "w", encoding="utf-8") as port_file:
                port_file.write(line + "\n")
            os.replace(args.port_file + ".tmp", args.port_file)
        print(line, flush=True)

        def stop(_signal, _frame):
            platform.stopping.set()
        signal.signal(signal.SIGTERM, stop)
        signal.signal(signal.SIGINT, stop)

        threads = [threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
                   for server in servers]
        for thread in threads:
            thread.start()
        while not platform.stopping.wait(0.5):
            pass
        for server in servers:
            server.shutdown()
    finally:
        for server in servers:
            server.server_close()
        if certificate_folder:
            shutil.rmtree(certificate_folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
