"""The stand-in vendor service: stamps, relay into the outbox, heartbeats and the offline
alert, figures, the remote page round trip, and the real HTTP server and start script."""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import unittest
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, ROOT)

from vendorsvc.server import serve  # noqa: E402
from vendorsvc.service import VendorService, parse_query  # noqa: E402
from vendorsvc.stamp import StampKey, StampRefused, verify  # noqa: E402
from vendorsvc.store import Store  # noqa: E402

KEY = StampKey.load()
NOW = 1700000000
MAC = "00155D012A0B"


class Clock:
    def __init__(self, t=NOW):
        self.t = t

    def __call__(self):
        return self.t


def gbk_query(**params):
    """Query bytes as the program builds them: GBK raw, only delimiters and blanks escaped."""
    def esc(text):
        out = b""
        for byte in text.encode("gbk"):
            out += b"%%%02X" % byte if byte < 0x20 or byte == 0x7F or chr(byte) in "&#%+=? " else bytes([byte])
        return out
    return b"&".join(name.encode() + b"=" + esc(value) for name, value in params.items())


class ServiceCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vendorsvc-")
        self.store = Store(os.path.join(self.dir, "vendor.sqlite3"))
        self.clock = Clock()
        self.service = VendorService(self.store, KEY, clock=self.clock, offline_after=180)

    def tearDown(self):
        self.store.close()
        shutil.rmtree(self.dir)

    def get(self, path, **params):
        response = self.service.handle("GET", path.encode() + b"?" + gbk_query(**params))
        return response.body.decode("gbk")

    def stamp(self, t=NOW):
        return KEY.encode(str(t))


class StampTest(unittest.TestCase):
    def test_genuine_stamp_gives_back_its_time(self):
        self.assertEqual(NOW, verify(KEY, KEY.encode(str(NOW)), NOW + 300, 300))
        # The program's own computation (tests/unit/stamp_test.cpp uses the same vector).
        self.assertEqual("b12234ec1400c5f757d38767c4ea33dcb48bf5bf51071387621f2d3d9c8cd", KEY.encode("1700000000"))

    def test_forged_stale_and_missing_stamps_are_told_apart(self):
        cases = [("", "missing"), ("xyz", "forged"), ("deadbeef", "forged"), (format(KEY.n, "x"), "forged"),
                 (KEY.encode("17000abc"), "forged"), ("f" * 200, "forged"),
                 (KEY.encode(str(NOW - 301)), "stale"), (KEY.encode(str(NOW + 301)), "stale")]
        for stamp, reason in cases:
            with self.assertRaises(StampRefused, msg=stamp) as caught:
                verify(KEY, stamp, NOW, 300)
            self.assertEqual(reason, caught.exception.reason, stamp)


class RelayTest(ServiceCase):
    def test_mail_and_sms_land_in_the_outbox_with_gbk_text_intact(self):
        title = "10.0.0.5Tavrick提醒您!"
        self.assertEqual("ok", self.get("/tavrick/sendemil.do", stamp=self.stamp(), toemil="ops@example.com",
                                        title=title, message="发现可疑文件 a&b=1 100%", mac=MAC + "\n"))
        self.assertEqual("ok", self.get("/tavrick/sendmsg.do", stamp=self.stamp(), phone="13800138000",
                                        message=title + "_CPU高", mac=MAC + "\n"))
        rows = self.store.outbox()
        self.assertEqual(["mail", "sms"], [r["kind"] for r in rows])
        self.assertEqual(("ops@example.com", title, "发现可疑文件 a&b=1 100%", MAC),
                         (rows[0]["recipient"], rows[0]["title"], rows[0]["message"], rows[0]["mac"]))
        self.assertEqual(("13800138000", title + "_CPU高"), (rows[1]["recipient"], rows[1]["message"]))
        self.assertEqual(99, self.store.figures(MAC, NOW)[0])  # one SMS spent
        gbk = self.service.handle("GET", b"/tavrick/admin/outbox.json?charset=gbk").body
        self.assertIn("发现可疑文件".encode("gbk"), gbk)
        self.assertEqual(2, len(json.loads(gbk.decode("gbk"))))

    def test_refused_stamps_send_nothing_and_are_recorded(self):
        self.assertEqual("refused", self.get("/tavrick/sendemil.do", stamp="12ab", toemil="a@b.c", title="t",
                                             message="m", mac=MAC))
        self.assertEqual("refused", self.get("/tavrick/sendmsg.do", stamp=self.stamp(NOW - 1000), phone="1",
                                             message="m", mac=MAC))
        self.assertEqual("refused", self.get("/tavrick/heartaction.do", mac=MAC, rad=str(NOW)))
        self.assertEqual([], self.store.outbox())
        self.assertEqual([("sendemil.do", "forged"), ("sendmsg.do", "stale"), ("heartaction.do", "missing")],
                         [(r["endpoint"], r["reason"]) for r in self.store.refused_requests()])
        self.assertEqual([], self.store.heartbeat_log())

    def test_sms_stops_when_the_balance_is_used_up(self):
        self.store.set_figures(MAC, NOW, sms=1)
        self.assertEqual("ok", self.get("/tavrick/sendmsg.do", stamp=self.stamp(), phone="1", message="a", mac=MAC))
        self.assertEqual("refused", self.get("/tavrick/sendmsg.do", stamp=self.stamp(), phone="1", message="b", mac=MAC))
        self.assertEqual(["a"], [r["message"] for r in self.store.outbox()])
        self.assertEqual("no sms balance", self.store.refused_requests()[-1]["reason"])


class FigureTest(ServiceCase):
    def test_figures_per_machine_need_a_stamp(self):
        self.store.set_figures(MAC, NOW, sms=12, days=30)
        self.assertEqual("12", self.get("/tavrick/getmsgcount.jsp", stamp=self.stamp(), mac=MAC + "\n"))
        self.assertEqual("30", self.get("/tavrick/getmailday.jsp", stamp=self.stamp(), mac=MAC + "\n"))
        self.assertEqual("100", self.get("/tavrick/getmsgcount.jsp", stamp=self.stamp(), mac="OTHER"))
        self.assertEqual("-1", self.get("/tavrick/getmsgcount.jsp", stamp="0", mac=MAC))
        self.assertEqual("5,30", self.get("/tavrick/admin/account", mac=MAC, sms="5"))

    def test_time_stamp_and_lists(self):
        self.assertEqual(str(NOW), self.get("/tavrick/timestamp.jsp", rad="1"))
        self.assertEqual(str(NOW), self.get("/tavrick/timestamp.jsp"))
        items = self.get("/tavrick/mysoft.jsp").split(",")
        self.assertEqual(0, len(items) % 2)
        self.assertTrue(all(link.startswith("http://127.0.0.1/tavrick/") for link in items[1::2]))
        self.assertEqual("2.30", self.get("/tavrick/version.txt"))
        self.assertIn('id="credit"', self.service.handle("GET", b"/tavrick/index.jsp").body.decode())
        self.assertEqual(404, self.service.handle("GET", b"/tavrick/nothing").status)
        self.assertEqual(404, self.service.handle("GET", b"/tavrick/newsoft/x86/../vendor.sqlite3").status)


class HeartbeatTest(ServiceCase):
    def beat(self, isdownmsg="1", mac=MAC):
        return self.get("/tavrick/heartaction.do", stamp=self.stamp(self.clock.t), rad=str(self.clock.t),
                        mac=mac + "\n", v="2.30", phone="13800138000", mail="ops@example.com", isdownmsg=isdownmsg)

    def test_heartbeat_is_recorded_per_machine(self):
        self.assertEqual("ok", self.beat())
        machine = self.store.machines()[0]
        self.assertEqual((MAC, "2.30", "13800138000", "ops@example.com", 1, NOW),
                         (machine["mac"], machine["version"], machine["phone"], machine["mail"],
                          machine["isdownmsg"], machine["last_seen"]))
        self.assertEqual(1, len(self.store.heartbeat_log()))

    def test_offline_alert_once_when_heartbeats_stop_with_the_switch_on(self):
        self.beat("1")
        self.beat("0", mac="QUIET")
        self.clock.t = NOW + 180
        self.assertEqual(0, self.service.sweep_offline())  # not yet past the limit
        self.clock.t = NOW + 181
        self.assertEqual(2, self.service.sweep_offline())
        rows = self.store.outbox()
        self.assertEqual([("mail", "offline", "ops@example.com"), ("sms", "offline", "13800138000")],
                         [(r["kind"], r["origin"], r["recipient"]) for r in rows])
        self.assertIn(MAC, rows[0]["message"])
        self.clock.t = NOW + 900
        self.assertEqual(0, self.service.sweep_offline())  # once per silence
        self.beat("1")  # back again: the next silence alerts again
        self.clock.t += 200
        self.assertEqual(2, self.service.sweep_offline())


class RemotePageTest(ServiceCase):
    def post(self, **form):
        body = urllib.parse.urlencode(form).encode()
        return self.service.handle("POST", b"/tavrick/user/index.jsp", body).body.decode("utf-8")

    def test_request_entered_on_the_page_is_answered_once(self):
        self.store.heartbeat(MAC, "1", "2.30", "", "", 0, NOW)
        page = self.service.handle("GET", b"/tavrick/user/index.jsp").body.decode("utf-8")
        self.assertIn('<option value="%s">' % MAC, page)
        self.assertIn("已提交", self.post(submit="1", mac=MAC, password=" 密码abc ", reboot="1", release="1"))
        self.assertEqual("", self.get("/tavrick/user/code.jsp", mac="OTHER\n", rad="1"))
        self.assertEqual("1,1, 密码abc ", self.get("/tavrick/user/code.jsp", mac=MAC + "\n", rad="1"))
        self.assertEqual("", self.get("/tavrick/user/code.jsp", mac=MAC + "\n", rad="2"))

    def test_page_refuses_incomplete_or_unsplittable_requests(self):
        self.assertIn("逗号", self.post(submit="1", mac=MAC, password="a,b", release="1"))
        self.assertIn("至少一项", self.post(submit="1", mac=MAC, password="secret"))
        self.assertIn("远程密码", self.post(submit="1", mac=MAC, password="  ", release="1"))
        self.assertEqual([], self.store.pending_remote())
        self.post(submit="1", mac=MAC, password="secret", release="1")
        self.post(submit="1", mac=MAC, password="secret2", reboot="1")  # the newer request replaces it
        self.assertEqual("1,0,secret2", self.get("/tavrick/user/code.jsp", mac=MAC))


class QueryTest(unittest.TestCase):
    def test_plus_is_not_a_blank_and_escapes_decode(self):
        self.assertEqual({"a": "1+1 =2", "b": "上传"}, parse_query("a=1+1%20%3D2&b=上传".encode("gbk")))


class HttpServerTest(unittest.TestCase):
    """The real server on 127.0.0.1, spoken to with raw bytes as WinINet sends them."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vendorsvc-http-")
        self.server, self.service, self.stop = serve(self.dir, 0, sweep_interval=3600)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        self.port = self.server.server_address[1]

    def tearDown(self):
        self.server.shutdown()
        self.server.server_close()
        self.stop.set()
        self.service.store.close()
        shutil.rmtree(self.dir)

    def raw_get(self, target):
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as s:
            s.sendall(b"GET " + target + b" HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")
            data = b""
            while True:
                chunk = s.recv(4096)
                if not chunk:
                    break
                data += chunk
        head, _, body = data.partition(b"\r\n\r\n")
        return head, body

    def test_only_loopback_and_raw_gbk_round_trip(self):
        self.assertEqual("127.0.0.1", self.server.server_address[0])
        now = int(self.raw_get(b"/tavrick/timestamp.jsp?rad=1")[1])
        head, body = self.raw_get(b"/tavrick/sendemil.do?" + gbk_query(
            stamp=KEY.encode(str(now)), toemil="a@b.c", title="标题", message="网站 上传", mac=MAC + "\n"))
        self.assertIn(b"200", head.split(b"\r\n")[0])
        self.assertEqual(b"ok", body)
        outbox = json.loads(urllib.request.urlopen(
            "http://127.0.0.1:%d/tavrick/admin/outbox.json" % self.port, timeout=10).read().decode("utf-8"))
        self.assertEqual([("标题", "网站 上传", MAC)], [(r["title"], r["message"], r["mac"]) for r in outbox])
        self.assertTrue(os.path.exists(os.path.join(self.dir, "vendor.sqlite3")))


class StartScriptTest(unittest.TestCase):
    def test_start_writes_pid_and_port_stop_ends_exactly_that_process_and_state_persists(self):
        data = tempfile.mkdtemp(prefix="vendorsvc-run-")
        script = os.path.join(ROOT, "run.sh")
        try:
            port = int(subprocess.run(["bash", script, "start", data, "0"], check=True, capture_output=True,
                                      text=True, timeout=30).stdout)
            pid = int(open(os.path.join(data, "service.pid")).read())
            base = "http://127.0.0.1:%d" % port
            urllib.request.urlopen(base + "/tavrick/admin/account?mac=M1&sms=7", timeout=10).read()
            subprocess.run(["bash", script, "stop", data], check=True, timeout=30)
            with self.assertRaises(OSError):
                os.kill(pid, 0)
            self.assertFalse(os.path.exists(os.path.join(data, "service.port")))
            port = int(subprocess.run(["bash", script, "start", data, "0"], check=True, capture_output=True,
                                      text=True, timeout=30).stdout)
            base = "http://127.0.0.1:%d" % port
            machines = json.loads(urllib.request.urlopen(base + "/tavrick/admin/machines.json", timeout=10).read())
            self.assertEqual([("M1", 7)], [(m["mac"], m["sms_count"]) for m in machines])
        finally:
            subprocess.run(["bash", script, "stop", data], timeout=30)
            shutil.rmtree(data)


if __name__ == "__main__":
    unittest.main()
