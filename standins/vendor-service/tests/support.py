"""Shared pieces of the service's tests: the key, a settable clock, queries as the program
builds them, and a service called directly (no HTTP server)."""
import os
import shutil
import sys
import tempfile
import unittest
import urllib.parse
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, ROOT)

from vendorsvc.service import VendorService  # noqa: E402
from vendorsvc.stamp import StampKey  # noqa: E402
from vendorsvc.store import Store  # noqa: E402

# The store every test runs on: "sqlite", or the postgresql:// URI of the test command's private
# server (run_both_stores.py runs the whole suite once for each).
STORE = os.environ.get("VENDORSVC_TEST_STORE", "sqlite")
ON_POSTGRES = STORE.startswith("postgresql")

KEY = StampKey.load()
NOW = 1700000000
MAC = "00155D012A0B"
PASSWORD = "test-admin-password"
BEARER = {"Authorization": "Bearer " + PASSWORD}


class Clock:
    def __init__(self, t=NOW):
        self.t = t

    def __call__(self):
        return self.t


def gbk_query(**params):
    """Query bytes as the program builds them: GBK raw, only delimiters and blanks escaped.
    A bytes value goes as it is (for bytes GBK cannot read)."""
    def esc(value):
        out = b""
        for byte in value if isinstance(value, bytes) else value.encode("gbk"):
            out += b"%%%02X" % byte if byte < 0x20 or byte == 0x7F or chr(byte) in "&#%+=? " else bytes([byte])
        return out
    return b"&".join(name.encode() + b"=" + esc(value) for name, value in params.items())


def form(**fields):
    return urllib.parse.urlencode(fields).encode()


def new_store_url(test, folder):
    """An empty store for one test: an SQLite file in folder, or on PostgreSQL a schema of its
    own, dropped when the test is done."""
    if not ON_POSTGRES:
        return os.path.join(folder, "vendor.sqlite3")
    import psycopg2
    schema = "t_" + uuid.uuid4().hex[:16]

    def admin(sql):
        db = psycopg2.connect(STORE)
        try:
            db.autocommit = True
            db.cursor().execute(sql)
        finally:
            db.close()
    admin("CREATE SCHEMA " + schema)
    test.addCleanup(admin, "DROP SCHEMA %s CASCADE" % schema)
    return STORE + "&" + urllib.parse.urlencode({"options": "-csearch_path=" + schema})


def store_options(test, folder):
    """run.sh's options for a fresh store ([] for the data folder's SQLite file)."""
    return ["--store", new_store_url(test, folder)] if ON_POSTGRES else []


class ServiceCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vendorsvc-")
        self.store = Store(new_store_url(self, self.dir))
        self.clock = Clock()
        self.service = VendorService(self.store, KEY, clock=self.clock, admin_password=PASSWORD)

    def tearDown(self):
        self.store.close()
        shutil.rmtree(self.dir)

    def call(self, path, client="127.0.0.1", **params):
        return self.service.handle("GET", path.encode() + b"?" + gbk_query(**params), client=client)

    def get(self, path, **params):
        return self.call(path, **params).body.decode("gbk")

    def admin(self, path, headers=BEARER, **fields):
        """A POST of the operator's, by default as a script with the password."""
        return self.service.handle("POST", path.encode(), form(**fields), headers)

    def stamp(self, t=None):
        return KEY.encode(str(self.clock.t if t is None else t))

    def beat(self, mac=MAC, isdownmsg="1", client="127.0.0.1"):
        return self.call("/tavrick/heartaction.do", client, stamp=self.stamp(), rad=str(self.clock.t),
                         mac=mac + "\n", v="2.30", phone="13800138000", mail="ops@example.com", isdownmsg=isdownmsg)
