"""HTTP front of the service: 127.0.0.1 only, one thread per request, an offline sweeper."""
import argparse
import os
import signal
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from .service import VendorService
from .stamp import DEFAULT_KEY_FILE, StampKey
from .store import Store

BIND_ADDRESS = "127.0.0.1"  # never any other address


def make_handler(service):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.0"

        def _answer(self, method):
            body = b""
            if method == "POST":
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(min(length, 65536))
            # The request line arrives as ISO-8859-1 text; its bytes are what the client sent.
            raw_path = self.path.encode("iso-8859-1")
            response = service.handle(method, raw_path, body, self.headers.get("Host") or BIND_ADDRESS)
            self.send_response(response.status)
            self.send_header("Content-Type", response.content_type)
            self.send_header("Content-Length", str(len(response.body)))
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            self.wfile.write(response.body)

        def do_GET(self):
            self._answer("GET")

        def do_POST(self):
            self._answer("POST")

        def log_message(self, fmt, *args):
            sys.stderr.write("%s %s\n" % (self.log_date_time_string(), fmt % args))

    return Handler


def serve(data_dir, port=0, key_file=DEFAULT_KEY_FILE, sweep_interval=10.0, **service_options):
    """Serves until stopped; returns (server, service, sweeper stop event)."""
    os.makedirs(data_dir, exist_ok=True)
    store = Store(os.path.join(data_dir, "vendor.sqlite3"))
    service = VendorService(store, StampKey.load(key_file),
                            newsoft_dir=os.path.join(data_dir, "newsoft"), **service_options)
    server = ThreadingHTTPServer((BIND_ADDRESS, port), make_handler(service))
    server.daemon_threads = True
    stop = threading.Event()

    def sweep():
        while not stop.wait(sweep_interval):
            try:
                service.sweep_offline()
            except Exception as error:  # keep sweeping; one bad pass is not the end
                sys.stderr.write("offline sweep failed: %r\n" % (error,))

    threading.Thread(target=sweep, daemon=True).start()
    return server, service, stop


def main(argv=None):
    parser = argparse.ArgumentParser(description="Stand-in Tavrick vendor service on 127.0.0.1")
    parser.add_argument("--data", required=True, help="folder for vendor.sqlite3, the pid and port files")
    parser.add_argument("--port", type=int, default=8086, help="0 picks a free port")
    parser.add_argument("--stamp-window", type=int, default=300, help="seconds a stamp stays fresh")
    parser.add_argument("--offline-after", type=int, default=180, help="seconds without heartbeat before the offline alert")
    parser.add_argument("--sweep-interval", type=float, default=10.0)
    parser.add_argument("--version-text", default="2.30", help="body of /tavrick/version.txt")
    args = parser.parse_args(argv)
    server, service, stop = serve(args.data, args.port, sweep_interval=args.sweep_interval,
                                  stamp_window=args.stamp_window, offline_after=args.offline_after,
                                  version_text=args.version_text)
    pid_file = os.path.join(args.data, "service.pid")
    port_file = os.path.join(args.data, "service.port")
    with open(pid_file, "w") as f:
        f.write("%d\n" % os.getpid())
    # Written last and whole: its presence means the service answers.
    with open(port_file + ".tmp", "w") as f:
        f.write("%d\n" % server.server_address[1])
    os.replace(port_file + ".tmp", port_file)
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    sys.stderr.write("vendor service on http://%s:%d/tavrick/ data %s\n" % (BIND_ADDRESS, server.server_address[1], args.data))
    try:
        server.serve_forever()
    finally:
        stop.set()
        server.server_close()
        service.store.close()
        for name in (port_file, pid_file):
            try:
                os.remove(name)
            except OSError:
                pass
    return 0
