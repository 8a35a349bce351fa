"""The real HTTP server on 127.0.0.1, spoken to with raw bytes: limits, time-outs, hostile
input, and the start script."""
import io
import json
import os
import shutil
import signal
import socket
import stat
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.request
from unittest import mock

from support import BEARER, KEY, MAC, ON_POSTGRES, PASSWORD, ROOT, gbk_query, new_store_url, store_options
from vendorsvc.server import serve


def read(path):
    with open(path) as f:
        return f.read()


class HttpCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vendorsvc-http-")
        self.server, self.service, self.stop = serve(self.dir, 0, sweep_interval=3600, admin_password=PASSWORD,
                                                     max_threads=3, request_timeout=2.0,
                                                     store=new_store_url(self, self.dir))
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        self.port = self.server.server_address[1]

    def tearDown(self):
        self.server.shutdown()
        self.server.server_close()
        self.stop.set()
        self.service.store.close()
        shutil.rmtree(self.dir)

    def raw(self, data, close_sending=False):
        """(status, body) of one request sent as these bytes."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as s:
            s.sendall(data)
            if close_sending:
                s.shutdown(socket.SHUT_WR)
            answer = b""
            while True:
                chunk = s.recv(4096)
                if not chunk:
                    break
                answer += chunk
        head, _, body = answer.partition(b"\r\n\r\n")
        return int(head.split(b" ")[1]), body

    def get(self, target, headers=b""):
        return self.raw(b"GET " + target + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + b"Connection: close\r\n\r\n")

    def post(self, target, body, headers=b"Authorization: Bearer " + PASSWORD.encode() + b"\r\n"):
        return self.raw(b"POST " + target + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
                        b"Content-Length: %d\r\n\r\n" % len(body) + body)

    def listing(self, name):
        request = urllib.request.Request("http://127.0.0.1:%d/tavrick/admin/%s" % (self.port, name), headers=BEARER)
        return urllib.request.urlopen(request, timeout=10).read().decode("utf-8")


class HttpServerTest(HttpCase):
    def test_only_loopback_and_raw_gbk_round_trip(self):
        self.assertEqual("127.0.0.1", self.server.server_address[0])
        now = int(self.get(b"/tavrick/timestamp.jsp?rad=1")[1])
        status, body = self.get(b"/tavrick/sendemil.do?" + gbk_query(
            stamp=KEY.encode(str(now)), toemil="a@b.c", title="标题", message="网站 上传", mac=MAC + "\n"))
        self.assertEqual((200, b"ok"), (status, body))
        outbox = json.loads(self.listing("outbox.json"))
        self.assertEqual([("标题", "网站 上传", MAC)], [(r["title"], r["message"], r["mac"]) for r in outbox])
        password_file = os.path.join(self.dir, "admin.password")
        self.assertEqual(PASSWORD + "\n", read(password_file))
        self.assertEqual(0o600, stat.S_IMODE(os.stat(password_file).st_mode))

    def test_every_request_gets_an_answer_and_no_request_holds_a_thread_for_long(self):
        post = b"POST /tavrick/admin/account HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        cases = [(post + b"Content-Length: abc\r\n\r\n", 400, b"bad Content-Length"),
                 (post + b"Content-Length: -5\r\n\r\n", 400, b"bad Content-Length"),
                 (post + b"Content-Length: 99999999\r\n\r\n", 413, b"body longer than 16384 bytes"),
                 (post + b"Transfer-Encoding: chunked\r\n\r\n", 411, None),
                 (b"GET /tavrick/mysoft.jsp HTTP/1.1\r\nHost: a b\r\n\r\n", 400, b"bad Host header"),
                 (b"GET /tavrick/mysoft.jsp HTTP/1.1\r\nHost: \xc3\xbc\xff\r\n\r\n", 400, b"bad Host header"),
                 (b"BREW /tavrick/timestamp.jsp HTTP/1.1\r\n\r\n", 405, b"method not allowed"),
                 (b"GET /tavrick/mysoft.jsp HTTP/1.0\r\n\r\n", 200, None),
                 (b"GET /a b HTTP/1.1\r\n\r\n", 400, None)]
        for request, status, body in cases:
            answer = self.raw(request)
            self.assertEqual(status, answer[0], request)
            if body is not None:
                self.assertEqual(body, answer[1], request)
        # A body that stops short of its Content-Length.
        self.assertEqual(400, self.raw(post + b"Content-Length: 100\r\n\r\nmac=1", close_sending=True)[0])
        # An internal fault is a 500, and the service goes on.
        with mock.patch.object(self.service.store, "outbox", side_effect=RuntimeError("disk")), \
                mock.patch("sys.stderr", new_callable=io.StringIO):
            self.assertEqual((500, b"internal error"), self.get(b"/tavrick/admin/outbox.json",
                                                               b"Authorization: Bearer " + PASSWORD.encode() + b"\r\n"))
        # Idle connections fill the three threads; the next is told "busy" at once; the time-out frees them.
        idle = [socket.create_connection(("127.0.0.1", self.port), timeout=10) for _ in range(4)]
        try:
            self.assertEqual(b"HTTP/1.0 503 Service Unavailable", idle[3].recv(100).split(b"\r\n")[0])
            for s in idle[:3]:
                self.assertEqual(b"", s.recv(100))  # closed by the server after its time-out
        finally:
            for s in idle:
                s.close()
        self.assertEqual(200, self.get(b"/tavrick/timestamp.jsp")[0])

    def test_hostile_input_is_refused_or_kept_harmless_and_shown_escaped(self):
        script = '<script>alert("x")</script>\'"&'
        sql = "'; DROP TABLE outbox; --"
        now = int(self.get(b"/tavrick/timestamp.jsp")[1])
        stamp = KEY.encode(str(now))
        mail = b"/tavrick/sendemil.do?" + gbk_query(stamp=stamp, toemil=script, title=script, message=script + sql,
                                                   mac=script + sql)
        self.assertEqual((200, b"ok"), self.get(mail))
        self.assertEqual((403, b"refused: replayed"), self.get(mail))
        self.assertEqual((200, b"ok"), self.get(b"/tavrick/sendemil.do?" + gbk_query(
            stamp=stamp, toemil="a@b.c", title="t", message=b"\x81\x20\xff\xfe", mac=MAC)))
        self.assertEqual((200, b"ok"), self.get(b"/tavrick/heartaction.do?" + gbk_query(
            stamp=stamp, rad=script, mac=script, v=script, phone=script, mail=script, isdownmsg="1")))
        self.assertEqual((403, b"refused: malformed"), self.get(b"/tavrick/getmsgcount.jsp?" + gbk_query(
            stamp="f" * 10000, mac=script)))
        malformed = [(b"/tavrick/sendemil.do?&&=&%zz&stamp", 400, b"mac missing"),
                     (b"/tavrick/user/code.jsp?mac", 400, b"mac missing"),
                     (b"/tavrick/user/code.jsp?mac=" + b"A" * 65, 400, b"mac too long"),
                     (b"/tavrick/getmsgcount.jsp?stamp=%ZZ&mac=M", 403, b"refused: malformed"),
                     (b"/tavrick/nothing/%ff%00", 404, b"not found")]
        for target, status, body in malformed:
            self.assertEqual((status, body), self.get(target), target)
        for fields in (b"mac=M1&sms=--5", b"mac=M1&days=1e3", b"mac=M1&sms=%EF%BC%95", b"mac=%3Cb%3E&sms=1"):
            self.assertEqual(400, self.post(b"/tavrick/admin/account", fields)[0], fields)
        status, page = self.post(b"/tavrick/user/index.jsp", "mac=M1&release=1&password=密码😀".encode())
        self.assertEqual(400, status)
        self.assertIn("GBK", page.decode())

        page = self.get(b"/tavrick/admin/", b"Authorization: Bearer " + PASSWORD.encode() + b"\r\n")[1].decode()
        self.assertNotIn("<script", page)
        shown = "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&#x27;&quot;&amp;"
        self.assertGreaterEqual(page.count(shown), 10)  # outbox 4, machines 5, refused 2
        self.assertIn("\ufffd", page)  # bytes GBK cannot read arrive as replacement characters
        rows = self.service.store._rows
        if not ON_POSTGRES:
            self.assertEqual("ok", rows("PRAGMA integrity_check")[0]["integrity_check"])
        self.assertEqual([(script, script + sql, script + sql)],
                         [(r["title"], r["message"], r["mac"]) for r in
                          rows("SELECT title, message, mac FROM outbox WHERE recipient=?", (script,))])
        self.assertEqual(2, rows("SELECT COUNT(*) AS n FROM outbox")[0]["n"])
        self.assertEqual([("malformed", 80)], [(r["reason"], r["n"]) for r in rows(
            "SELECT reason, LENGTH(stamp) AS n FROM refused WHERE endpoint='getmsgcount.jsp' AND mac=?", (script,))])
        self.assertEqual([], rows("SELECT * FROM remote_requests"))
        self.assertEqual([], rows("SELECT * FROM machines WHERE mac='M1'"))


def workers_of(pid, count=2):
    """The worker processes of the service whose master has this pid, once there are count of
    them (the port file appears with the first), or after 10 s."""
    end = time.monotonic() + 10
    while True:
        out = subprocess.run(["ps", "-o", "pid=", "--ppid", str(pid)], capture_output=True, text=True,
                             timeout=10).stdout
        workers = [int(p) for p in out.split()]
        if len(workers) >= count or time.monotonic() > end:
            return workers
        time.sleep(0.05)


def gone(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rpartition(")")[2].split()[0] == "Z"
    except OSError:
        return True


class StartScriptTest(unittest.TestCase):
    def test_start_writes_pid_port_and_password_stop_ends_exactly_that_process_and_state_persists(self):
        data = tempfile.mkdtemp(prefix="vendorsvc-run-")
        script = os.path.join(ROOT, "run.sh")

        store = store_options(self, data)

        def start(*options):
            port = int(subprocess.run(["bash", script, "start", data, "0"] + store + list(options), check=True,
                                      capture_output=True, text=True, timeout=30).stdout)
            return "http://127.0.0.1:%d/tavrick/admin/" % port

        def admin(base, name, password, body=None):
            request = urllib.request.Request(base + name, body, {"Authorization": "Bearer " + password})
            return urllib.request.urlopen(request, timeout=10).read()
        try:
            base = start()
            made_up = read(os.path.join(data, "admin.password")).strip()
            self.assertGreaterEqual(len(made_up), 16)
            self.assertEqual(b"7,365", admin(base, "account", made_up, b"mac=M1&sms=7"))
            pid = int(read(os.path.join(data, "service.pid")))
            workers = workers_of(pid)
            self.assertEqual(2, len(workers))  # run.sh's default: two worker processes
            subprocess.run(["bash", script, "stop", data], check=True, timeout=30)
            self.assertEqual([], [p for p in [pid] + workers if not gone(p)])
            self.assertFalse(os.path.exists(os.path.join(data, "service.port")))
            base = start("--admin-password", "given-at-start")
            machines = json.loads(admin(base, "machines.json", "given-at-start"))
            self.assertEqual([("M1", 7)], [(m["mac"], m["sms_count"]) for m in machines])
        finally:
            subprocess.run(["bash", script, "stop", data], timeout=30)
            shutil.rmtree(data)

    def test_a_second_start_replaces_the_first_one_stop_ends_everything_and_a_killed_master_leaves_no_worker(self):
        data = tempfile.mkdtemp(prefix="vendorsvc-run-")
        script = os.path.join(ROOT, "run.sh")
        run = lambda *args: subprocess.run(["bash", script] + list(args), check=True, capture_output=True,
                                           text=True, timeout=30)
        store = store_options(self, data)
        try:
            run("start", data, "0", *store)
            first = int(read(os.path.join(data, "service.pid")))
            first_workers = workers_of(first)
            run("start", data, "0", *store)
            second = int(read(os.path.join(data, "service.pid")))
            self.assertNotEqual(first, second)
            self.assertEqual([], [p for p in [first] + first_workers if not gone(p)])
            second_workers = workers_of(second)
            run("stop", data)
            self.assertEqual([], [p for p in [second] + second_workers if not gone(p)])

            # kill -9 of the master: its workers see it gone and stop by themselves.
            port = int(run("start", data, "0", *store).stdout)
            master = int(read(os.path.join(data, "service.pid")))
            workers = workers_of(master)
            os.kill(master, signal.SIGKILL)
            end = time.monotonic() + 10
            while not all(gone(p) for p in workers) and time.monotonic() < end:
                time.sleep(0.05)
            self.assertEqual([], [p for p in workers if not gone(p)])
            with self.assertRaises(OSError):
                socket.create_connection(("127.0.0.1", port), timeout=2).close()
        finally:
            subprocess.run(["bash", script, "stop", data], timeout=30)
            shutil.rmtree(data)


if __name__ == "__main__":
    unittest.main()
