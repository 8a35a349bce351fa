"""The service under gunicorn (Debian's): a master process that binds the port and keeps
--workers worker processes running (pre-fork; a worker that dies is replaced), each serving
--max-threads requests at once on its threads. Every worker opens its own store connections
after the fork. The master writes DATA_DIR/service.pid (its own pid: stopping it stops the
workers); the first worker that is ready writes DATA_DIR/service.port, whose presence means
the service answers. A worker whose master is gone (killed) stops by itself within a second."""
import logging
import os
import sys

import gunicorn.util
from gunicorn.app.base import BaseApplication
from gunicorn.workers.gthread import ThreadWorker

from .server import open_service, start_background, store_url
from .wsgi import make_app

# The master keeps the command line run.sh looks for (vendor_service.py --data DIR ...).
gunicorn.util._setproctitle = lambda title: None

REQUEST_TIMEOUT = [10.0]


class TimedThreadWorker(ThreadWorker):
    """gunicorn's threaded worker, with a time-out on every read and write of a request's
    socket: a client that stops sending mid-request frees its thread (idle kept-alive
    connections wait in the worker's poller, on no thread)."""

    def handle(self, conn):
        conn.sock.settimeout(REQUEST_TIMEOUT[0])
        return super().handle(conn)


class _SilentClientFilter(logging.Filter):
    """Drops gunicorn's traceback for a request socket that timed out: a client that fell
    silent is closed, which is all there is to say (under a flood it would fill the log)."""

    def filter(self, record):
        return not (record.exc_info and isinstance(record.exc_info[1], TimeoutError))


def _remove(path):
    try:
        os.remove(path)
    except OSError:
        pass


class VendorApplication(BaseApplication):
    def __init__(self, args):
        self.args = args
        self.pid_file = os.path.join(args.data, "service.pid")
        self.port_file = os.path.join(args.data, "service.port")
        self.service = self.stop = None
        super().__init__()

    def load_config(self):
        a = self.args
        host = "[%s]" % a.listen if ":" in a.listen else a.listen
        REQUEST_TIMEOUT[0] = a.request_timeout
        for name, value in {
            "bind": ["%s:%d" % (host, a.port)], "workers": a.workers, "threads": a.max_threads,
            "worker_class": "vendorsvc.hosting.TimedThreadWorker", "timeout": 30, "graceful_timeout": 10, "keepalive": 5,
            "limit_request_line": 8190, "limit_request_fields": 64, "errorlog": "-", "loglevel": "warning",
            "forwarded_allow_ips": "", "proxy_allow_ips": "", "preload_app": False,
            "when_ready": self.when_ready, "post_worker_init": self.post_worker_init,
            "worker_exit": self.worker_exit, "on_exit": self.on_exit,
        }.items():
            self.cfg.set(name, value)

    def load(self):
        """In each worker, after the fork: its own store connections, upkeep and delivery."""
        a = self.args
        self.service = open_service(a.data, a.store, admin_password=a.admin_password, delivery=a.delivery,
                                    stamp_window=a.stamp_window, offline_after=a.offline_after,
                                    heartbeat_keep=a.heartbeat_keep, version_text=a.version_text,
                                    pool_size=a.pool_size or a.max_threads + 2)
        if a.build_key:
            self.service.build_key_file = a.build_key
        self.stop = start_background(self.service, a.sweep_interval)
        return make_app(self.service, a.trusted_proxy)

    # --- hooks ----------------------------------------------------------------------------
    def when_ready(self, server):
        with open(self.pid_file, "w") as f:
            f.write("%d\n" % os.getpid())
        port = server.LISTENERS[0].sock.getsockname()[1]
        delivery = self.args.delivery or os.path.join(self.args.data, "delivery.ini")
        sys.stderr.write("vendor service on http://%s:%d/tavrick/ data %s, store %s, %d workers, delivery %s\n"
                         % (self.args.listen, port, self.args.data,
                            "PostgreSQL" if self.args.store else store_url(self.args.data),
                            self.args.workers, delivery if os.path.exists(delivery) else "none (outbox only)"))

    def post_worker_init(self, worker):
        logging.getLogger("gunicorn.error").addFilter(_SilentClientFilter())
        # Written whole; the first worker up makes it appear.
        if not os.path.exists(self.port_file):
            port = worker.sockets[0].sock.getsockname()[1]
            tmp = "%s.%d.tmp" % (self.port_file, os.getpid())
            with open(tmp, "w") as f:
                f.write("%d\n" % port)
            os.replace(tmp, self.port_file)

    def worker_exit(self, server, worker):
        if self.stop is not None:
            self.stop.set()
            if self.service.delivery:
                # A send in hand finishes; one a relay holds longer is given up, its row put
                # back by the next worker that sees this pid gone.
                self.service.delivery.stop(wait=3.0)
            self.service.store.close()

    def on_exit(self, server):
        _remove(self.port_file)
        _remove(self.pid_file)


def run(args):
    _remove(os.path.join(args.data, "service.port"))
    VendorApplication(args).run()
    return 0

