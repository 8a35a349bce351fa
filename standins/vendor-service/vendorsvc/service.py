"""The vendor service without its HTTP server: routes each request to its page group and turns
every refusal into a 4xx with a short reason and every fault into a 500, so that tests can
call it directly. Page groups: program.py (what the program asks for), updates.py (version
file and builds), helppages.py, admin.py (operator pages), remote.py (remote operation)."""
import sys
import time
import traceback

from .admin import AdminPages
from .auth import AdminAuth
from .helppages import HelpPages
from .program import ProgramEndpoints
from .remote import RemotePage
from .signing import STANDIN_KEY_FILE
from .updates import Updates
from .web import TEXT, HttpError, Request, Response

# Seconds a stamp stays fresh. The program fetches the time stamp and sends the signed request
# at once on the same thread, with nothing but the stamp arithmetic in between; only the
# connection of the second request can take long, and WinINet gives that up after 60 s.
STAMP_WINDOW = 60


class VendorService:
    def __init__(self, store, key, *, clock=time.time, stamp_window=STAMP_WINDOW, offline_after=180,
                 heartbeat_keep=86400, version_text="2.30", newsoft_dir=None, admin_password, delivery=None):
        self.store = store
        self.delivery = delivery  # a DeliveryWorker, or None: everything stays in the outbox
        self.key = key
        self.clock = clock
        self.stamp_window = stamp_window
        self.offline_after = offline_after
        self.heartbeat_keep = heartbeat_keep
        self.version_text = version_text
        self.newsoft_dir = newsoft_dir
        # The key publishing signs with (server.py's --build-key).
        self.build_key_file = STANDIN_KEY_FILE
        self.auth = AdminAuth(admin_password, clock, store)
        self.program = ProgramEndpoints(self)
        self.exact, self.below = {}, []
        for group in (self.program, Updates(self), HelpPages(self), AdminPages(self), RemotePage(self)):
            for path, methods in group.routes().items():
                if path.endswith("*"):
                    self.below.append((path[:-1], methods))
                else:
                    self.exact[path] = methods

    def now(self):
        return int(self.clock())

    def relay(self, kind, mac, recipient, title, message, origin="relay"):
        """Into the outbox, queued for delivery when a relay or gateway is configured for the
        kind; the row id, or None when the machine's balance is used up."""
        queue = self.delivery is not None and self.delivery.queues(kind)
        row = self.store.relay(kind, mac, recipient, title, message, self.now(), origin, queue,
                               self.delivery.new_message_id(kind) if queue else "")
        if row is not None and queue:
            self.delivery.wake.set()
        return row

    def _methods(self, path):
        if path in self.exact:
            return self.exact[path]
        for prefix, methods in self.below:
            if path.startswith(prefix):
                return methods
        return None

    def handle(self, request, target=None, body=b"", headers=None, client="127.0.0.1", host="127.0.0.1"):
        """The answer to a Request, or to (method, target bytes, ...) for short calls in tests."""
        if not isinstance(request, Request):
            request = Request(request, target, body, headers, client, host)
        try:
            methods = self._methods(request.path)
            if methods is None:
                raise HttpError(404, "not found")
            handler = methods.get(request.method)
            if handler is None:
                raise HttpError(405, "method not allowed", [("Allow", ", ".join(sorted(methods)))])
            return handler(request)
        except HttpError as refusal:
            return Response(refusal.reason, TEXT, refusal.status, refusal.headers)
        except Exception:
            sys.stderr.write("internal error on %s %s\n%s" % (request.method, request.path[:200], traceback.format_exc()))
            return Response("internal error", TEXT, 500)

    # --- upkeep, every few seconds on the server's sweeper thread -------------------------
    def sweep_offline(self):
        return self.program.sweep_offline()

    def upkeep(self):
        """Offline alerts, then drops old heartbeats, stale request keys and ended sessions."""
        sent = self.sweep_offline()
        now = self.now()
        self.store.prune(now - self.heartbeat_keep, now - self.stamp_window)
        self.auth.prune()
        return sent
