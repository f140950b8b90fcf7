"""The viewer's HTTP server: the page, its scripts and the answers to its questions, from one process.

Only the standard library's threading HTTP server: the page asks small questions of local files,
one user at a time. The static files are compressed once, when the server starts, and the
plotting library is cached by the browser for good (its URL carries its version).
"""

from __future__ import annotations

import gzip
import hashlib
import ipaddress
import json
import socket
import traceback
import urllib.parse
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from importlib import resources

from ozra_data_access.view.answers import ANSWERS
from ozra_data_access.view.runs import RequestError, Runs

STATIC_TYPES = {".html": "text/html; charset=utf-8", ".js": "text/javascript; charset=utf-8",
                ".css": "text/css; charset=utf-8", ".txt": "text/plain; charset=utf-8"}
# Files whose name does not change with their content are checked again on every load; the
# plotting library's URL names its version, so the browser keeps it.
KEPT_FOR_GOOD = {"plotly.min.js"}


class StaticFile:
    """One file of the page, as stored and compressed."""

    def __init__(self, name: str, data: bytes):
        self.name = name
        self.data = data
        self.compressed = gzip.compress(data, compresslevel=6, mtime=0)
        self.etag = '"' + hashlib.sha1(data).hexdigest()[:20] + '"'
        self.content_type = STATIC_TYPES[name[name.rindex("."):]]
        self.cache_control = "public, max-age=31536000, immutable" if name in KEPT_FOR_GOOD else "no-cache"


def load_static() -> dict[str, StaticFile]:
    folder = resources.files("ozra_data_access.view") / "static"
    return {item.name: StaticFile(item.name, item.read_bytes()) for item in folder.iterdir()
            if item.is_file() and item.name[item.name.rfind("."):] in STATIC_TYPES}


class ViewerServer(ThreadingHTTPServer):
    """Serves `runs` and the page; each request in its own thread."""

    daemon_threads = True

    def __init__(self, address: tuple[str, int], runs: Runs):
        self.runs = runs
        self.static = load_static()
        if ":" in address[0]:
            self.address_family = socket.AF_INET6
        super().__init__(address, ViewerHandler)

    def serves_host(self, host: str) -> bool:
        """Whether a request's Host header names this server. On loopback, a page of another
        site that a name of its own points here (DNS rebinding) gets nothing; an address
        others can reach was chosen, with a warning, and takes any name."""
        bound, port = self.server_address[:2]
        if not ipaddress.ip_address(bound).is_loopback:
            return True
        return host in {f"{name}:{port}" for name in ("127.0.0.1", "[::1]", "localhost", bound, f"[{bound}]")}

    @property
    def url(self) -> str:
        host, port = self.server_address[:2]
        shown = f"[{host}]" if ":" in host else host
        return f"http://{shown}:{port}/"


class ViewerHandler(BaseHTTPRequestHandler):
    server: ViewerServer
    protocol_version = "HTTP/1.1"

    def log_message(self, format: str, *args) -> None:  # noqa: A002 - the base class's name
        """Quiet: the page shows its own errors."""

    def do_GET(self) -> None:  # noqa: N802 - the base class's name
        url = urllib.parse.urlsplit(self.path)
        if not self.server.serves_host(self.headers.get("Host", "")):
            self._send_json(HTTPStatus.FORBIDDEN, {"error": "this page is served for its own address only"})
        elif url.path == "/":
            self._send_static("index.html")
        elif url.path.startswith("/static/"):
            self._send_static(url.path[len("/static/"):])
        elif url.path == "/favicon.ico":
            self.send_response(HTTPStatus.NO_CONTENT)
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif url.path.startswith("/api/"):
            self._answer(url.path[len("/api/"):], dict(urllib.parse.parse_qsl(url.query)))
        else:
            self._send_json(HTTPStatus.NOT_FOUND, {"error": f"nothing at {url.path}"})

    def _send_static(self, name: str) -> None:
        item = self.server.static.get(name)
        if item is None:
            self._send_json(HTTPStatus.NOT_FOUND, {"error": f"no file {name}"})
            return
        if self.headers.get("If-None-Match") == item.etag:
            self.send_response(HTTPStatus.NOT_MODIFIED)
            self.send_header("ETag", item.etag)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        compressed = "gzip" in self.headers.get("Accept-Encoding", "")
        body = item.compressed if compressed else item.data
        self.send_response(HTTPStatus.OK)
        self.send_header("Content-Type", item.content_type)
        self.send_header("Cache-Control", item.cache_control)
        self.send_header("ETag", item.etag)
        self.send_header("Vary", "Accept-Encoding")
        if compressed:
            self.send_header("Content-Encoding", "gzip")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def _answer(self, name: str, params: dict[str, str]) -> None:
        answer = ANSWERS.get(name)
        if answer is None:
            self._send_json(HTTPStatus.NOT_FOUND, {"error": f"no question {name!r}"})
            return
        try:
            self._send_json(HTTPStatus.OK, answer(self.server.runs, params))
        except (RequestError, ValueError) as error:
            self._send_json(HTTPStatus.BAD_REQUEST, {"error": str(error)})
        except Exception as error:  # noqa: BLE001 - the page shows every failure rather than hang
            traceback.print_exc()
            self._send_json(HTTPStatus.INTERNAL_SERVER_ERROR, {"error": f"{type(error).__name__}: {error}"})

    def _send_json(self, status: HTTPStatus, payload: dict) -> None:
        body = json.dumps(payload, separators=(",", ":"), allow_nan=False).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Cache-Control", "no-store")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
