"""The service as a WSGI application: checked Host and Content-Length, a bounded body, the
caller's address (behind a trusted proxy, the one it names), and an answer to every request.
gunicorn serves it on a real host (hosting.py); the tests' in-process server too (server.py)."""
import http
import ipaddress
import re
import sys
import traceback
from urllib.parse import quote_from_bytes

from .web import Request

MAX_BODY = 16384  # the pages' forms are a few hundred bytes
HOST_HEADER = re.compile(r"(?:[A-Za-z0-9.-]{1,253}|\[[0-9A-Fa-f:.]{2,45}\])(?::[0-9]{1,5})?")


def forwarded_client(peer, headers, trusted_proxies):
    """The caller's address: the peer's, or behind a trusted reverse proxy the one it names in
    X-Real-IP (the remote request goes only to the address heartbeats come from, so every
    machine must not look like the proxy)."""
    if peer not in trusted_proxies:
        return peer
    named = (headers.get("X-Real-IP") or "").strip()
    try:
        return str(ipaddress.ip_address(named))
    except ValueError:
        return peer


def _reason(status):
    try:
        return http.HTTPStatus(status).phrase
    except ValueError:
        return "Status"


def request_target(environ):
    """The request target as the client sent it, bytes: gunicorn keeps it whole (RAW_URI);
    elsewhere the path arrives decoded (ISO-8859-1 text of its bytes) and is escaped again."""
    raw = environ.get("RAW_URI")
    if raw:
        return raw.encode("iso-8859-1")
    path = (environ.get("SCRIPT_NAME", "") + environ.get("PATH_INFO", "")).encode("iso-8859-1")
    query = environ.get("QUERY_STRING", "")
    return quote_from_bytes(path, safe="/").encode("ascii") + (b"?" + query.encode("iso-8859-1") if query else b"")


def request_headers(environ):
    headers = {}
    for name, value in environ.items():
        if name.startswith("HTTP_"):
            headers[name[5:].replace("_", "-").title()] = value
    for name in ("CONTENT_TYPE", "CONTENT_LENGTH"):
        if environ.get(name):
            headers[name.replace("_", "-").title()] = environ[name]
    return headers


def make_app(service, trusted_proxies=()):
    trusted_proxies = tuple(trusted_proxies)

    def answer(start_response, status, body, content_type="text/plain; charset=utf-8", headers=()):
        start_response("%d %s" % (status, _reason(status)),
                       [("Content-Type", content_type), ("Content-Length", str(len(body))),
                        ("Cache-Control", "no-store"), ("X-Content-Type-Options", "nosniff")] + list(headers))
        return [body]

    def refuse(start_response, status, reason):
        return answer(start_response, status, reason.encode("ascii"))

    def read_body(environ, start_response):
        """(body, None), or (None, the refusal's answer)."""
        if environ.get("HTTP_TRANSFER_ENCODING"):
            return None, refuse(start_response, 411, "send a Content-Length, not a transfer encoding")
        text = (environ.get("CONTENT_LENGTH") or "0").strip()
        if not (text.isascii() and text.isdigit()):
            return None, refuse(start_response, 400, "bad Content-Length")
        if int(text) > MAX_BODY:
            return None, refuse(start_response, 413, "body longer than %d bytes" % MAX_BODY)
        body = environ["wsgi.input"].read(int(text)) if int(text) else b""
        if len(body) != int(text):
            return None, refuse(start_response, 400, "body shorter than its Content-Length")
        return body, None

    def app(environ, start_response):
        try:
            host = environ.get("HTTP_HOST") or "%s:%s" % (environ.get("SERVER_NAME", ""), environ.get("SERVER_PORT", ""))
            if not HOST_HEADER.fullmatch(host):
                return refuse(start_response, 400, "bad Host header")
            method = environ["REQUEST_METHOD"]
            body = b""
            if method == "POST":
                body, refusal = read_body(environ, start_response)
                if refusal is not None:
                    return refusal
            headers = request_headers(environ)
            client = forwarded_client(environ.get("REMOTE_ADDR", ""), {"X-Real-IP": environ.get("HTTP_X_REAL_IP")},
                                      trusted_proxies)
            response = service.handle(Request(method, request_target(environ), body, headers, client, host))
        except OSError:
            raise  # the connection broke or timed out: the server closes it
        except Exception:
            sys.stderr.write("internal error\n" + traceback.format_exc())
            return refuse(start_response, 500, "internal error")
        return answer(start_response, response.status, response.body, response.content_type, response.headers)

    return app
