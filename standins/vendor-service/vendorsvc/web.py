"""Requests and answers as the service sees them, independent of the HTTP server, so that
tests can hand requests to the service directly."""
from urllib.parse import unquote_to_bytes

TEXT_GBK = "text/plain; charset=gbk"
TEXT = "text/plain; charset=utf-8"
HTML = "text/html; charset=utf-8"


class HttpError(Exception):
    """Refuses a request with a status and a short reason (plain ASCII text)."""

    def __init__(self, status, reason, headers=()):
        super().__init__(reason)
        self.status = status
        self.reason = reason
        self.headers = list(headers)


class Response:
    def __init__(self, body=b"", content_type=TEXT_GBK, status=200, headers=()):
        # Encoded here, strictly: a handler builds its answer before it changes anything, so
        # text that cannot be encoded fails before any state is touched.
        self.body = body if isinstance(body, bytes) else body.encode("gbk" if "gbk" in content_type else "utf-8")
        self.content_type = content_type
        self.status = status
        self.headers = list(headers)


def redirect(location, headers=()):
    return Response("", TEXT, 303, [("Location", location)] + list(headers))


def parse_query(raw, plus_is_blank=False):
    """Query bytes to {name: value bytes}; the first occurrence of a name wins, so a value
    appended later cannot replace one the sender meant. The program sends GBK bytes raw and
    escapes only delimiters, blanks and control bytes, so '+' is itself; forms send '+' for a blank."""
    params = {}
    if plus_is_blank:
        raw = raw.replace(b"+", b" ")
    for part in raw.split(b"&"):
        if not part:
            continue
        name, _, value = part.partition(b"=")
        params.setdefault(unquote_to_bytes(name).decode("ascii", "replace"), unquote_to_bytes(value))
    return params


class Request:
    def __init__(self, method, target, body=b"", headers=None, client="127.0.0.1", host="127.0.0.1"):
        """target: the request target as bytes, query included."""
        path, _, query = target.partition(b"?")
        self.method = method
        self.path = unquote_to_bytes(path).decode("utf-8", "replace")
        self.raw = parse_query(query)
        self.body = body
        self.headers = {name.lower(): value for name, value in (headers or {}).items()}
        self.client = client
        self.host = host
        self._form = None

    def param(self, name):
        """A query value as text; bytes GBK cannot read become U+FFFD rather than a refusal,
        so an alert with an odd byte still arrives."""
        return self.raw.get(name, b"").decode("gbk", "replace")

    def form(self):
        """The POST body of a page's form (UTF-8, '+' for a blank)."""
        if self._form is None:
            self._form = {name: value.decode("utf-8", "replace")
                          for name, value in parse_query(self.body, plus_is_blank=True).items()}
        return self._form

    def header(self, name):
        return self.headers.get(name.lower(), "")

    def cookie(self, name):
        for part in self.header("cookie").split(";"):
            key, _, value = part.strip().partition("=")
            if key == name:
                return value
        return ""
