#!/usr/bin/env python3
"""A local stand-in for the kits' web service, for tests only.

Serves on a loopback port (HTTP, or HTTPS with a certificate the tests made), answers the kits'
requests (settings, application create/update, crash reports, beta checks, events), checks what
they send (headers, query keys, multipart bodies, gzip parts), answers with replies the test
scripted (status, body, headers, Retry-After, delay, dropped connection, hang) and appends one JSON
line per request to a log file the tests read (headers by name and in arrival order, each
multipart part with its SHA-1).

Control (same server): POST /__control/script  {"endpoint": ..., "reply": {...}}
                       POST /__control/reset    clears scripts and the log
Usage: kit_service.py --port-file F --log F [--cert F --key F] [--port N] [--api-key K]
"""

import argparse
import email.parser
import email.policy
import gzip
import hashlib
import json
import os
import re
import signal
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

TOKEN_RE = re.compile(r"^[0-9a-f]{40}$")
APP_ID = r"([^/]+)"
ROUTES = [
    ("settings", "GET", re.compile(r"^/spi/v2/platforms/mac/apps/" + APP_ID + r"/settings$")),
    ("beta", "GET", re.compile(r"^/spi/v2/platforms/mac/apps/" + APP_ID + r"/beta_update_check$")),
    ("create", "POST", re.compile(r"^/spi/v1/platforms/mac/apps$")),
    ("update", "PUT", re.compile(r"^/spi/v1/platforms/mac/apps/" + APP_ID + r"$")),
    ("reports", "POST", re.compile(r"^/sdk-api/v1/platforms/mac/apps/" + APP_ID + r"/reports$")),
    ("events", "POST", re.compile(r"^/spi/v2/events$")),
]
QUERY_KEYS = {"settings": ["build_version", "display_version", "instance", "source"],
              "beta": ["build_version", "display_version", "instance", "source"]}
MULTIPART = {"create", "update", "reports", "events"}
_CLIENT = ["x-morvex-api-client-id", "x-morvex-api-client-display-version",
           "x-morvex-api-client-build-version", "x-morvex-api-key"]
# Headers each endpoint's callers must send (compared without regard to case).
REQUIRED_HEADERS = {
    "settings": _CLIENT + ["x-morvex-installation-id", "accept"],
    "create": _CLIENT,
    "update": _CLIENT,
    "reports": _CLIENT + ["accept"],
    "beta": _CLIENT + ["x-morvex-beta-token"],
    "events": ["x-morvex-api-key", "x-morvex-api-client-type",
               "x-morvex-api-client-display-version", "x-morvex-api-client-build-version",
               "x-morvex-api-client-packaged-timestamp"],
}
DEFAULT_REPLIES = {
    "settings": {"status": 200, "json": {
        "app": {"status": "activated", "update_required": False},
        "features": {"collect_reports": True, "collect_analytics": True},
        "analytics": {"url": None},
        "settings_version": 1, "cache_duration": 3600}},
    "beta": {"status": 200, "json": {"url": "https://127.0.0.1/beta", "version_string": "1.0"}},
    "create": {"status": 201, "json": {}},
    "update": {"status": 200, "json": {}},
    "reports": {"status": 202, "json": {}},
    "events": {"status": 202, "json": {}},
}


class State:
    def __init__(self, log_path, api_key=None, tls=False):
        self.api_key = api_key
        self.tls = tls
        self.lock = threading.Lock()
        self.scripts = {}
        self.log_path = log_path
        self.stopping = threading.Event()
        open(log_path, "w").close()

    def next_reply(self, endpoint):
        with self.lock:
            for key in (endpoint, "*"):
                queue = self.scripts.get(key) or []
                if queue:
                    reply = queue[0]
                    times = reply.get("times", 1)
                    if times > 0:
                        reply["times"] = times - 1
                        if reply["times"] == 0:
                            queue.pop(0)
                    return dict(reply)
        reply = DEFAULT_REPLIES.get(endpoint, {"status": 404, "json": {"error": "not found"}})
        return dict(reply, default=True)

    def append(self, entry):
        with self.lock:
            with open(self.log_path, "a") as f:
                f.write(json.dumps(entry, sort_keys=True) + "\n")


def check_multipart(content_type, body, problems):
    parts = []
    if not content_type.startswith("multipart/"):
        problems.append("body is not multipart: " + content_type)
        return parts
    if "boundary=" not in content_type:
        problems.append("multipart without boundary")
        return parts
    raw = b"Content-Type: " + content_type.encode() + b"\r\nMIME-Version: 1.0\r\n\r\n" + body
    message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(raw)
    if not message.is_multipart():
        problems.append("multipart body did not parse")
        return parts
    for defect in message.defects:
        problems.append("multipart defect: " + type(defect).__name__)
    for part in message.iter_parts():
        payload = part.get_payload(decode=True) or b""
        info = {"name": part.get_param("name", header="content-disposition"),
                "filename": part.get_filename(),
                "content_type": part.get_content_type(),
                "length": len(payload),
                "sha1": hashlib.sha1(payload).hexdigest()}
        if payload[:2] == b"\x1f\x8b":
            try:
                unpacked = gzip.decompress(payload)
                info["gunzipped_length"] = len(unpacked)
                info["gzip"] = "ok"
                # Event logs are small text: the tests read their lines back from here.
                if len(unpacked) < 65536:
                    info["gunzipped_text"] = unpacked.decode("utf-8", "replace")
            except Exception as error:  # noqa: BLE001 - any damage is a finding, not a crash
                info["gzip"] = "bad"
                problems.append("part %s: broken gzip: %s" % (info["name"], error))
        elif info["filename"] and (info["filename"].endswith(".gz")
                                   or part.get_content_type() == "application/gzip"):
            info["gzip"] = "missing"
            problems.append("part %s: declared gzip but is not" % info["name"])
        if part.get_content_type().startswith("text/") and len(payload) < 4096:
            info["text"] = payload.decode("utf-8", "replace")
        parts.append(info)
    if not parts:
        problems.append("multipart body has no parts")
    return parts


class QuietServer(ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        # Refused handshakes and dropped clients are what some tests are about; not noise.
        error = sys.exc_info()[1]
        if isinstance(error, (ssl.SSLError, ConnectionError, TimeoutError)):
            return
        super().handle_error(request, client_address)


def make_handler(state):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def do_GET(self):
            self.serve()

        def do_POST(self):
            self.serve()

        def do_PUT(self):
            self.serve()

        def read_body(self):
            length = int(self.headers.get("Content-Length") or 0)
            if length:
                return self.rfile.read(length)
            if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
                chunks = []
                while True:
                    size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                    if size == 0:
                        self.rfile.readline()
                        break
                    chunks.append(self.rfile.read(size))
                    self.rfile.readline()
                return b"".join(chunks)
            return b""

        def send(self, status, body=b"", headers=None, truncate=False):
            self.send_response(status)
            headers = headers or {}
            for name, value in headers.items():
                self.send_header(name, value)
            # Cut short: a length larger than what follows, half the body, then the close.
            self.send_header("Content-Length", str(len(body) + 64 if truncate else len(body)))
            self.end_headers()
            if truncate:
                self.wfile.write(body[:len(body) // 2])
                self.wfile.flush()
                self.close_connection = True
                try:
                    self.connection.shutdown(2)
                except OSError:
                    pass
                return
            if body:
                self.wfile.write(body)

        def control(self, path, body):
            if path == "/__control/script":
                order = json.loads(body or b"{}")
                with state.lock:
                    state.scripts.setdefault(order.get("endpoint", "*"), []).append(order["reply"])
            elif path == "/__control/reset":
                with state.lock:
                    state.scripts.clear()
                    open(state.log_path, "w").close()
            else:
                return self.send(404)
            self.send(204)

        def serve(self):
            url = urllib.parse.urlsplit(self.path)
            body = self.read_body()
            if url.path.startswith("/__control/"):
                return self.control(url.path, body)

            problems = []
            endpoint, app_id = None, None
            for name, method, pattern in ROUTES:
                match = pattern.match(url.path)
                if match and method == self.command:
                    endpoint = name
                    app_id = urllib.parse.unquote(match.group(1)) if match.groups() else None
            query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
            headers = {k: v for k, v in self.headers.items()}
            lowered = {k.lower(): v for k, v in headers.items()}
            if endpoint is None:
                problems.append("unknown endpoint %s %s" % (self.command, url.path))
            for key in QUERY_KEYS.get(endpoint, []):
                if key not in query:
                    problems.append("query key missing: " + key)
            for name in REQUIRED_HEADERS.get(endpoint, []):
                if not lowered.get(name):
                    problems.append("header missing: " + name)
            if state.api_key and endpoint is not None and \
                    lowered.get("x-morvex-api-key", state.api_key) != state.api_key:
                problems.append("API key is not the configured one")
            token = lowered.get("x-morvex-developer-token")
            if endpoint is not None and token is None:
                problems.append("developer token header missing")
            elif token is not None and not TOKEN_RE.match(token):
                problems.append("developer token is not 40 lowercase hex characters")

            decoded = body
            if lowered.get("content-encoding", "").lower() == "gzip":
                try:
                    decoded = gzip.decompress(body)
                except Exception as error:  # noqa: BLE001
                    problems.append("body declared gzip but is not: %s" % error)
            parts = []
            if endpoint in MULTIPART:
                parts = check_multipart(lowered.get("content-type", ""), decoded, problems)

            reply = state.next_reply(endpoint)
            if endpoint == "settings" and reply.get("default"):
                # The analytics kit uploads to this same service unless the test says otherwise.
                scheme = "https" if state.tls else "http"
                host = lowered.get("host", "127.0.0.1:%d" % self.server.server_address[1])
                reply["json"] = json.loads(json.dumps(reply["json"]))
                reply["json"]["analytics"]["url"] = "%s://%s/spi/v2/events" % (scheme, host)
            entry = {"time": time.time(), "endpoint": endpoint, "app_id": app_id,
                     "method": self.command, "path": url.path, "query": query,
                     "headers": headers, "header_order": [k for k, _ in self.headers.items()],
                     "body_length": len(body), "parts": parts,
                     "problems": problems, "status": reply.get("status", 200),
                     "action": reply.get("action")}
            if endpoint in ("settings", "beta") or not parts:
                entry["body"] = decoded[:4096].decode("utf-8", "replace")
            state.append(entry)

            if reply.get("delay"):
                state.stopping.wait(float(reply["delay"]))
            action = reply.get("action")
            if action == "hang":
                state.stopping.wait(float(reply.get("hang_seconds", 600)))
                self.close_connection = True
                return
            if action == "drop":
                self.close_connection = True
                try:
                    self.connection.shutdown(2)
                except OSError:
                    pass
                return
            out_headers = dict(reply.get("headers") or {})
            if "retry_after" in reply:
                out_headers["Retry-After"] = str(reply["retry_after"])
            if "json" in reply:
                payload = json.dumps(reply["json"]).encode()
                out_headers.setdefault("Content-Type", "application/json")
            else:
                payload = str(reply.get("body", "")).encode()
            out_headers.setdefault("X-Request-Id", "req-%d" % int(time.time() * 1000))
            self.send(int(reply.get("status", 200)), payload, out_headers,
                      truncate=action == "truncate")

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--api-key", help="the API key every request must carry")
    args = parser.parse_args()

    state = State(args.log, args.api_key, bool(args.cert))
    server = QuietServer(("127.0.0.1", args.port), make_handler(state))
    server.daemon_threads = True
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        # The handshake runs on the request's own thread: a client that stalls or gives up in
        # the middle of it holds up nobody else.
        server.socket = context.wrap_socket(server.socket, server_side=True,
                                            do_handshake_on_connect=False)

    def stop(*_):
        state.stopping.set()
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    # A test that dies without stopping the service must not leave it running.
    parent = os.getppid()

    def watch_parent():
        while not state.stopping.wait(0.5):
            if os.getppid() != parent:
                stop()

    threading.Thread(target=watch_parent, daemon=True).start()
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(args.port_file + ".tmp", args.port_file)
    server.serve_forever(poll_interval=0.1)
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
