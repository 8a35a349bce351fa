"""Administrator sign-in for the pages: one password, set when the service starts.

A browser signs in on the sign-in page and gets a session cookie (HttpOnly, SameSite=Strict);
every state change it makes is a POST carrying the session's token. Scripts and tests send
the password in an "Authorization: Bearer" header instead, which no other web page can make
a browser send, so they need no token. Failed sign-ins are throttled."""
import hmac
import secrets
from urllib.parse import quote

from .web import HttpError, redirect

COOKIE = "tavrick_admin"
SIGN_IN_PATH = "/tavrick/admin/login"


class Session:
    def __init__(self, sid, token, expires):
        self.sid, self.token, self.expires = sid, token, expires


class Access:
    """Who is asking: a browser session (needs the token to change state) or a script."""

    def __init__(self, session=None):
        self.session = session


class AdminAuth:
    """Sessions and failed sign-ins live in the store, so that every worker process knows a
    session another one opened and the throttle counts the failures of all of them."""

    def __init__(self, password, clock, store, lifetime=8 * 3600, max_sessions=32, max_failures=5, failure_window=60):
        self.password = password
        self.clock = clock
        self.store = store
        self.lifetime = lifetime
        self.max_sessions = max_sessions
        self.max_failures = max_failures
        self.failure_window = failure_window

    def _now(self):
        return int(self.clock())

    def check_password(self, password):
        """True for the right password; 429 while too many wrong ones came in the last minute."""
        now = self._now()
        if self.store.sign_in_failures(now - self.failure_window) >= self.max_failures:
            raise HttpError(429, "too many failed sign-ins; wait a minute")
        if hmac.compare_digest(password.encode("utf-8", "replace"), self.password.encode("utf-8")):
            return True
        self.store.add_sign_in_failure(now, now - self.failure_window)
        return False

    def sign_in(self, password):
        """A new session, or None for a wrong password."""
        if not self.check_password(password):
            return None
        now = self._now()
        session = Session(secrets.token_urlsafe(24), secrets.token_urlsafe(24), now + self.lifetime)
        self.store.new_session(session.sid, session.token, session.expires, now, self.max_sessions)
        return session

    def sign_out(self, session):
        self.store.drop_session(session.sid)

    def prune(self):
        self.store.prune_sessions(self._now())

    def _session(self, request):
        sid = request.cookie(COOKIE)
        row = self.store.session(sid, self._now()) if sid else None
        return Session(row["sid"], row["token"], row["expires"]) if row else None

    def access(self, request, page):
        """The caller's access, or the refusal: a sign-in redirect for a page, 401 otherwise."""
        authorization = request.header("authorization")
        if authorization:
            scheme, _, password = authorization.partition(" ")
            if scheme.lower() == "bearer" and self.check_password(password.strip()):
                return Access()
            raise HttpError(401, "wrong administrator password", [("WWW-Authenticate", 'Bearer realm="tavrick"')])
        session = self._session(request)
        if session is not None:
            return Access(session)
        if page:
            raise Redirect(SIGN_IN_PATH + "?next=" + quote(request.path, safe="/"))
        raise HttpError(401, "sign in first", [("WWW-Authenticate", 'Bearer realm="tavrick"')])

    def change(self, request, page=True):
        """Access for a state change: POST, and from a browser with the session's token."""
        if request.method != "POST":
            raise HttpError(405, "use POST", [("Allow", "POST")])
        access = self.access(request, page)
        if access.session is not None and not hmac.compare_digest(
                request.form().get("token", "").encode("utf-8", "replace"), access.session.token.encode()):
            raise HttpError(403, "form token missing or wrong; reload the page")
        return access

    def cookie(self, session):
        return ("Set-Cookie", "%s=%s; Path=/tavrick/; HttpOnly; SameSite=Strict; Max-Age=%d"
                % (COOKIE, session.sid, self.lifetime))

    @staticmethod
    def expired_cookie():
        return ("Set-Cookie", "%s=; Path=/tavrick/; HttpOnly; SameSite=Strict; Max-Age=0" % COOKIE)


class Redirect(HttpError):
    """A page asked for without a session goes to the sign-in page."""

    def __init__(self, location):
        super().__init__(303, "sign in first", [("Location", location)])


def redirect_after_sign_in(next_path, pages, headers=()):
    """Back to the page that asked for the sign-in, if it is one of ours; else the admin page."""
    return redirect(next_path if next_path in pages else "/tavrick/admin/", headers)
