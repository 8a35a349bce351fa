"""HTTP front of the service: 127.0.0.1 unless told another address, a bounded number of request
threads, socket time-outs, checked Content-Length and Host, and an answer to every request; an
upkeep thread sends the offline alerts and prunes old records, a delivery thread sends the
outbox when a relay or gateway is configured."""
import argparse
import ipaddress
import os
import re
import secrets
import signal
import socket
import sys
import threading
import traceback
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from .delivery import ConfigError, DeliveryConfig, DeliveryWorker
from .service import STAMP_WINDOW, VendorService
from .stamp import DEFAULT_KEY_FILE, StampKey
from .store import Store
from .web import Request

BIND_ADDRESS = "127.0.0.1"  # the default: a real host names its address (or sits behind a proxy)
MAX_BODY = 16384  # the pages' forms are a few hundred bytes
HOST_HEADER = re.compile(r"(?:[A-Za-z0-9.-]{1,253}|\[[0-9A-Fa-f:.]{2,45}\])(?::[0-9]{1,5})?")
BUSY = b"HTTP/1.0 503 Service Unavailable\r\nContent-Type: text/plain\r\nContent-Length: 4\r\n\r\nbusy"


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


def make_handler(service, request_timeout, trusted_proxies=()):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.0"  # one request per connection: nothing idles on a thread
        timeout = request_timeout  # every read and write on the socket

        def _refuse(self, status, reason):
            body = reason.encode("ascii")
            self.send_response(status)
            self.send_header("Content-Type", "text/plain; charset=utf-8")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def _body(self):
            """The POST body; None after answering a bad Content-Length."""
            if self.headers.get("Transfer-Encoding"):
                self._refuse(411, "send a Content-Length, not a transfer encoding")
                return None
            text = (self.headers.get("Content-Length") or "0").strip()
            if not (text.isascii() and text.isdigit()):
                self._refuse(400, "bad Content-Length")
                return None
            if int(text) > MAX_BODY:
                self._refuse(413, "body longer than %d bytes" % MAX_BODY)
                return None
            body = self.rfile.read(int(text))
            if len(body) != int(text):
                self._refuse(400, "body shorter than its Content-Length")
                return None
            return body

        def _answer(self, method):
            try:
                host = self.headers.get("Host") or "%s:%d" % self.server.server_address[:2]
                if not HOST_HEADER.fullmatch(host):
                    return self._refuse(400, "bad Host header")
                body = b""
                if method == "POST":
                    body = self._body()
                    if body is None:
                        return
                # The request line arrives as ISO-8859-1 text; its bytes are what the client sent.
                request = Request(method, self.path.encode("iso-8859-1"), body, dict(self.headers.items()),
                                  forwarded_client(self.client_address[0], self.headers, trusted_proxies), host)
                response = service.handle(request)
            except (socket.timeout, ConnectionError):
                self.close_connection = True
                return
            except Exception:
                sys.stderr.write("internal error\n" + traceback.format_exc())
                return self._refuse(500, "internal error")
            self.send_response(response.status)
            self.send_header("Content-Type", response.content_type)
            self.send_header("Content-Length", str(len(response.body)))
            self.send_header("Cache-Control", "no-store")
            self.send_header("X-Content-Type-Options", "nosniff")
            for name, value in response.headers:
                self.send_header(name, value)
            self.end_headers()
            self.wfile.write(response.body)

        def do_GET(self):
            self._answer("GET")

        def do_POST(self):
            self._answer("POST")

        def __getattr__(self, name):
            # Any other method: 405 rather than the base class's 501.
            if name.startswith("do_"):
                return lambda: self._refuse(405, "method not allowed")
            raise AttributeError(name)

        def log_message(self, fmt, *args):
            line = fmt % args
            sys.stderr.write("%s %s\n" % (self.log_date_time_string(), line[:300]))

    return Handler


class BoundedServer(ThreadingHTTPServer):
    """One thread per connection, at most max_threads at once; beyond that a connection gets
    503 at once instead of a thread."""
    daemon_threads = True

    def __init__(self, address, handler, max_threads):
        if ":" in address[0]:
            self.address_family = socket.AF_INET6
        super().__init__(address, handler)
        self.slots = threading.BoundedSemaphore(max_threads)

    def process_request(self, request, client_address):
        if not self.slots.acquire(blocking=False):
            try:
                # Take what already arrived, so that closing does not reset the connection
                # before the client has read the answer.
                request.setblocking(False)
                request.recv(65536)
            except OSError:
                pass
            try:
                request.settimeout(1)
                request.sendall(BUSY)
            except OSError:
                pass
            self.shutdown_request(request)
            return

        def run():
            try:
                self.finish_request(request, client_address)
            except Exception:
                self.handle_error(request, client_address)
            finally:
                # Free before closing: a client that sees the close may connect again at once.
                self.slots.release()
                self.shutdown_request(request)
        try:
            threading.Thread(target=run, daemon=True).start()
        except RuntimeError:  # no thread to be had
            self.slots.release()
            raise


def write_private(path, text):
    """A file only the service's user can read, written whole."""
    fd = os.open(path + ".tmp", os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    with os.fdopen(fd, "w") as f:
        f.write(text)
    os.replace(path + ".tmp", path)


def serve(data_dir, port=0, key_file=DEFAULT_KEY_FILE, sweep_interval=10.0, admin_password=None,
          max_threads=32, request_timeout=10.0, listen=BIND_ADDRESS, delivery=None, trusted_proxies=(),
          **service_options):
    """Serves until stopped; returns (server, service, upkeep stop event). The administrator
    password (given, or made up here) is written to DATA_DIR/admin.password. delivery: the
    relay and gateway configuration file (default DATA_DIR/delivery.ini, when it exists);
    setting the stop event also stops the delivery worker."""
    os.makedirs(data_dir, exist_ok=True)
    config = DeliveryConfig.load(delivery or os.path.join(data_dir, "delivery.ini"))
    password = admin_password or secrets.token_urlsafe(12)
    write_private(os.path.join(data_dir, "admin.password"), password + "\n")
    store = Store(os.path.join(data_dir, "vendor.sqlite3"))
    worker = DeliveryWorker(store, config) if config.kinds() else None
    service = VendorService(store, StampKey.load(key_file), newsoft_dir=os.path.join(data_dir, "newsoft"),
                            admin_password=password, delivery=worker, **service_options)
    server = BoundedServer((listen, port), make_handler(service, request_timeout, tuple(trusted_proxies)), max_threads)
    stop = threading.Event()

    def upkeep():
        while not stop.wait(sweep_interval):
            try:
                service.upkeep()
            except Exception as error:  # keep going; one bad pass is not the end
                sys.stderr.write("upkeep failed: %r\n" % (error,))

    def stop_delivery():
        stop.wait()
        worker.stop()

    threading.Thread(target=upkeep, daemon=True).start()
    if worker is not None:
        worker.start()  # puts back first what a worker that died had claimed
        threading.Thread(target=stop_delivery, daemon=True).start()
    return server, service, stop


def main(argv=None):
    parser = argparse.ArgumentParser(description="Tavrick vendor service")
    parser.add_argument("--data", required=True, help="folder for vendor.sqlite3, the pid, port and password files")
    parser.add_argument("--port", type=int, default=8086, help="0 picks a free port")
    parser.add_argument("--listen", default=BIND_ADDRESS, help="address to listen on (default 127.0.0.1;"
                        " 0.0.0.0 or :: for every address)")
    parser.add_argument("--delivery", help="SMTP relay and SMS gateway configuration (INI; default"
                        " DATA_DIR/delivery.ini when it exists; none: everything stays in the outbox)")
    parser.add_argument("--admin-password", help="password of the pages (default: made up at start);"
                        " written to DATA_DIR/admin.password")
    parser.add_argument("--admin-password-file", help="file whose first line is the password (kept out of"
                        " the process list)")
    parser.add_argument("--trusted-proxy", action="append", default=[], metavar="ADDRESS",
                        help="a reverse proxy whose X-Real-IP header names the caller (repeatable)")
    parser.add_argument("--stamp-window", type=int, default=STAMP_WINDOW, help="seconds a stamp stays fresh")
    parser.add_argument("--offline-after", type=int, default=180, help="seconds without heartbeat before the offline alert")
    parser.add_argument("--heartbeat-keep", type=int, default=86400, help="seconds the heartbeat log is kept")
    parser.add_argument("--sweep-interval", type=float, default=10.0)
    parser.add_argument("--max-threads", type=int, default=32, help="requests served at once")
    parser.add_argument("--request-timeout", type=float, default=10.0, help="seconds a socket may stay silent")
    parser.add_argument("--version-text", default="2.30", help="body of /tavrick/version.txt")
    parser.add_argument("--build-key", help="key file that signs published builds and the --version-text"
                        " (default: the stand-in's test key, keys/build_signing_key.txt)")
    args = parser.parse_args(argv)
    if args.admin_password_file:
        try:
            with open(args.admin_password_file) as f:
                args.admin_password = f.readline().strip()
        except OSError as error:
            parser.error("--admin-password-file: %s" % error)
        if not args.admin_password:
            parser.error("--admin-password-file: the file is empty")
    if args.delivery and not os.path.exists(args.delivery):
        parser.error("--delivery: no such file: %s" % args.delivery)
    try:
        DeliveryConfig.load(args.delivery or os.path.join(args.data, "delivery.ini"))
    except (ConfigError, OSError) as error:
        parser.error("delivery configuration: %s" % error)
    server, service, stop = serve(args.data, args.port, listen=args.listen, delivery=args.delivery,
                                  trusted_proxies=args.trusted_proxy,
                                  sweep_interval=args.sweep_interval,
                                  admin_password=args.admin_password, max_threads=args.max_threads,
                                  request_timeout=args.request_timeout, stamp_window=args.stamp_window,
                                  offline_after=args.offline_after, heartbeat_keep=args.heartbeat_keep,
                                  version_text=args.version_text)
    if args.build_key:
        service.build_key_file = args.build_key
    pid_file = os.path.join(args.data, "service.pid")
    port_file = os.path.join(args.data, "service.port")
    with open(pid_file, "w") as f:
        f.write("%d\n" % os.getpid())
    # Written last and whole: its presence means the service answers.
    with open(port_file + ".tmp", "w") as f:
        f.write("%d\n" % server.server_address[1])
    os.replace(port_file + ".tmp", port_file)
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    sys.stderr.write("vendor service on http://%s:%d/tavrick/ data %s, delivering: %s\n"
                     % (args.listen, server.server_address[1], args.data,
                        ", ".join(service.delivery.kinds) if service.delivery else "nothing (outbox only)"))
    try:
        server.serve_forever()
    finally:
        stop.set()
        if service.delivery:
            service.delivery.stop()
        server.server_close()
        service.store.close()
        for name in (port_file, pid_file):
            try:
                os.remove(name)
            except OSError:
                pass
    return 0
