"""The service's processes: on a real host gunicorn's workers (hosting.py), each with an upkeep
thread (offline alerts, pruning; the one worker holding the store's lease runs it) and, when a
relay or gateway is configured, a delivery thread; in the tests, the same WSGI application in
this process behind the standard library's server (serve), a bounded number of request
threads with socket time-outs."""
import argparse
import os
import secrets
import socket
import sys
import threading
import time
from socketserver import ThreadingMixIn
from wsgiref.simple_server import ServerHandler, WSGIRequestHandler, WSGIServer

from .delivery import ConfigError, DeliveryConfig, DeliveryWorker, worker_name
from .service import STAMP_WINDOW, VendorService
from .stamp import DEFAULT_KEY_FILE, StampKey
from .store import Store
from .wsgi import forwarded_client, make_app  # noqa: F401  (forwarded_client: for the tests)

BIND_ADDRESS = "127.0.0.1"  # the default: a real host names its address (or sits behind a proxy)
BUSY = b"HTTP/1.0 503 Service Unavailable\r\nContent-Type: text/plain\r\nContent-Length: 4\r\n\r\nbusy"


def store_url(data_dir, store=None):
    """The store named by --store, or the data folder's SQLite file."""
    return store or os.path.join(data_dir, "vendor.sqlite3")


class QuietHandler(ServerHandler):
    def log_exception(self, exc_info):
        sys.stderr.write("internal error\n")
        super().log_exception(exc_info)


def make_handler(request_timeout):
    class Handler(WSGIRequestHandler):
        timeout = request_timeout  # every read and write on the socket

        def handle(self):
            try:
                self.raw_requestline = self.rfile.readline(65537)
                if len(self.raw_requestline) > 65536:
                    self.send_error(414)
                    return
                if not self.parse_request():
                    return
                handler = QuietHandler(self.rfile, self.wfile, self.get_stderr(), self.get_environ(),
                                       multithread=True)
                handler.request_handler = self
                handler.run(self.server.get_app())
            except (socket.timeout, ConnectionError):
                self.close_connection = True

        def log_message(self, fmt, *args):
            line = fmt % args
            sys.stderr.write("%s %s\n" % (self.log_date_time_string(), line[:300]))

    return Handler


class BoundedServer(ThreadingMixIn, WSGIServer):
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


def open_service(data_dir, store=None, key_file=DEFAULT_KEY_FILE, admin_password="", delivery=None,
                 pool_size=8, **service_options):
    """The service on its store, with its delivery worker made but not started."""
    config = DeliveryConfig.load(delivery or os.path.join(data_dir, "delivery.ini"))
    store = Store(store_url(data_dir, store), pool_size=pool_size)
    worker = DeliveryWorker(store, config) if config.kinds() else None
    return VendorService(store, StampKey.load(key_file), newsoft_dir=os.path.join(data_dir, "newsoft"),
                         admin_password=admin_password, delivery=worker, **service_options)


def start_background(service, sweep_interval):
    """Starts the upkeep thread and the delivery worker; the event that stops both. Of several
    processes on one store, the one holding the upkeep lease sweeps (the offline alert is
    claimed per machine anyway, so two sweeping at a hand-over still alert once)."""
    stop = threading.Event()
    holder = worker_name()

    def upkeep():
        while not stop.wait(sweep_interval):
            try:
                if service.store.take_lease("upkeep", holder, time.time(), max(3 * sweep_interval, 30)):
                    service.upkeep()
            except Exception as error:  # keep going; one bad pass is not the end
                sys.stderr.write("upkeep failed: %r\n" % (error,))

    def stop_delivery():
        stop.wait()
        service.delivery.stop()

    threading.Thread(target=upkeep, name="upkeep", daemon=True).start()
    if service.delivery is not None:
        service.delivery.start()  # puts back first what a worker that died had claimed
        threading.Thread(target=stop_delivery, daemon=True).start()
    return stop


def serve(data_dir, port=0, key_file=DEFAULT_KEY_FILE, sweep_interval=10.0, admin_password=None,
          max_threads=32, request_timeout=10.0, listen=BIND_ADDRESS, delivery=None, trusted_proxies=(),
          store=None, **service_options):
    """In this process (for tests): serves until stopped; returns (server, service, upkeep stop
    event). The administrator password (given, or made up here) is written to
    DATA_DIR/admin.password. delivery: the relay and gateway configuration file (default
    DATA_DIR/delivery.ini, when it exists); setting the stop event also stops the delivery
    worker. store: a postgresql:// URI (default: DATA_DIR/vendor.sqlite3)."""
    os.makedirs(data_dir, exist_ok=True)
    password = admin_password or secrets.token_urlsafe(12)
    write_private(os.path.join(data_dir, "admin.password"), password + "\n")
    service = open_service(data_dir, store, key_file, password, delivery, **service_options)
    server = BoundedServer((listen, port), make_handler(request_timeout), max_threads)
    server.set_app(make_app(service, trusted_proxies))
    stop = start_background(service, sweep_interval)
    return server, service, stop


def parse_args(argv=None):
    parser = argparse.ArgumentParser(description="Tavrick vendor service")
    parser.add_argument("--data", required=True, help="folder for vendor.sqlite3, the pid, port and password files")
    parser.add_argument("--port", type=int, default=8086, help="0 picks a free port")
    parser.add_argument("--listen", default=BIND_ADDRESS, help="address to listen on (default 127.0.0.1;"
                        " 0.0.0.0 or :: for every address)")
    parser.add_argument("--store", help="postgresql://USER@HOST:PORT/DB (libpq URI) for PostgreSQL; default"
                        " DATA_DIR/vendor.sqlite3")
    parser.add_argument("--workers", type=int, default=2, help="worker processes (default 2)")
    parser.add_argument("--pool-size", type=int, default=0, help="store connections per worker process"
                        " (PostgreSQL; default: --max-threads)")
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
    parser.add_argument("--max-threads", type=int, default=8, help="requests served at once per worker process")
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
    if args.workers < 1 or args.max_threads < 1:
        parser.error("--workers and --max-threads: at least 1")
    try:
        DeliveryConfig.load(args.delivery or os.path.join(args.data, "delivery.ini"))
    except (ConfigError, OSError) as error:
        parser.error("delivery configuration: %s" % error)
    return args


def main(argv=None):
    args = parse_args(argv)
    os.makedirs(args.data, exist_ok=True)
    # Made once, before the workers start: every worker checks the same password.
    args.admin_password = args.admin_password or secrets.token_urlsafe(12)
    write_private(os.path.join(args.data, "admin.password"), args.admin_password + "\n")
    # Migrated here, once, so that a store that cannot be reached stops the start with its reason.
    try:
        Store(store_url(args.data, args.store)).close()
    except Exception as error:
        sys.stderr.write("vendor service: the store cannot be opened: %s\n" % (error,))
        return 1
    from .hosting import run
    return run(args)
