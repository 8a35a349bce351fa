"""Real delivery: e-mail to a real SMTP server (aiosmtpd, its own process on a loopback port),
SMS to a gateway stand-in (http.server on loopback), retries, permanent failures, the SMS
balance, and an alert accepted before a kill -9 delivered once after the restart."""
import email
import email.policy
import glob
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
import urllib.request
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from support import BEARER, HERE, KEY, MAC, PASSWORD, ROOT, gbk_query, new_store_url, store_options
from vendorsvc.delivery import ConfigError, DeliveryConfig
from vendorsvc.server import serve, store_url
from vendorsvc.store import Store

SINK = os.path.join(HERE, "smtp_sink.py")
SENDER = "Tavrick 提醒 <alerts@vendor.example>"
TITLE = "10.0.0.5Tavrick提醒您!"
MESSAGE = "发现可疑文件 D:\\网站\\上传\\一句话.php (a&b=1 100%)"


def wait_for(what, condition, bound=20.0):
    """condition()'s first true value, looked at every 50 ms for at most `bound` seconds."""
    end = time.monotonic() + bound
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError("not within %.0f s: %s" % (bound, what))
        time.sleep(0.05)


def interpreter_with_aiosmtpd():
    """This interpreter, or Debian's when this one (a private build) cannot see the package."""
    for exe in dict.fromkeys([sys.executable, "/usr/bin/python3"]):
        if os.path.exists(exe) and subprocess.run([exe, "-c", "import aiosmtpd.smtp"], capture_output=True,
                                                  timeout=30).returncode == 0:
            return exe
    raise AssertionError("aiosmtpd is missing: scripts/setup.sh installs python3-aiosmtpd")


class SmtpSink:
    """The SMTP server process; stopped by its own handle. tls: ("starttls" or "tls", cert, key,
    user, password)."""

    def __init__(self, tls=()):
        self.dir = tempfile.mkdtemp(prefix="vendorsvc-smtp-")
        self.errors = open(os.path.join(self.dir, "stderr"), "w")
        self.proc = subprocess.Popen([interpreter_with_aiosmtpd(), SINK, self.dir] + list(tls), stdout=subprocess.PIPE,
                                     stderr=self.errors, stdin=subprocess.DEVNULL)
        ready, _, _ = select.select([self.proc.stdout], [], [], 20)
        line = self.proc.stdout.readline() if ready else b""
        if not line.strip().isdigit():
            self.stop()
            raise AssertionError("the SMTP server did not start")
        self.port = int(line)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)
        self.proc.stdout.close()
        self.errors.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def messages(self):
        """{first recipient: [parsed message, ...]} and the raw bytes, in arrival order."""
        out = []
        for name in sorted(glob.glob(os.path.join(self.dir, "*.eml"))):
            with open(name, "rb") as f:
                raw = f.read()
            with open(name[:-4] + ".rcpt") as f:
                envelope = f.read().split("\n")
            out.append((envelope[1], raw, email.message_from_bytes(raw, policy=email.policy.default)))
        return out

    def log(self):
        try:
            with open(os.path.join(self.dir, "log")) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []


def write_config(folder, text):
    path = os.path.join(folder, "delivery.test.ini")
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


def mail_config(port, attempts=5, first_delay=0.2):
    return ("[smtp]\nhost = 127.0.0.1\nport = %d\nsecurity = none\nsender = %s\ntimeout = 10\n"
            "[retry]\nattempts = %d\nfirst_delay = %s\nmax_delay = 1\n" % (port, SENDER, attempts, first_delay))


def raw_get(port, target):
    """(status, body) of a GET of these target bytes (GBK raw, as the program sends them)."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(b"GET " + target + b" HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n")
        answer = b""
        while True:
            chunk = s.recv(4096)
            if not chunk:
                break
            answer += chunk
    head, _, body = answer.partition(b"\r\n\r\n")
    return int(head.split(b" ")[1]), body


def send_alert(port, endpoint, **fields):
    now = int(raw_get(port, b"/tavrick/timestamp.jsp")[1])
    return raw_get(port, b"/tavrick/" + endpoint.encode() + b"?" + gbk_query(stamp=KEY.encode(str(now)),
                                                                             mac=MAC + "\n", **fields))


class InProcessService:
    """The service with its HTTP server and delivery worker in this process."""

    def __init__(self, test, config_text):
        self.dir = tempfile.mkdtemp(prefix="vendorsvc-delivery-")
        self.server, self.service, self.stop_event = serve(
            self.dir, 0, sweep_interval=3600, admin_password=PASSWORD,
            delivery=write_config(self.dir, config_text), store=new_store_url(test, self.dir))
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        self.port = self.server.server_address[1]
        self.store = self.service.store

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
        self.stop_event.set()
        self.service.delivery.stop()
        self.store.close()
        shutil.rmtree(self.dir)

    def rows(self):
        return {r["recipient"]: r for r in self.store.outbox()}

    def settled(self, count):
        rows = self.store.outbox()
        return len(rows) == count and all(r["state"] in ("sent", "failed") for r in rows) and self.rows()


class MailDeliveryTest(unittest.TestCase):
    def setUp(self):
        self.sink = SmtpSink()
        self.addCleanup(self.sink.stop)

    def test_alerts_arrive_whole_in_utf8_4xx_is_retried_and_5xx_kept_failed_with_the_answer(self):
        svc = InProcessService(self, mail_config(self.sink.port))
        self.addCleanup(svc.stop)
        for to in ("ops@example.com", "tempfail2-ops@example.com", "reject-ops@example.com",
                   "tempfail1-reject-ops@example.com"):
            self.assertEqual((200, b"ok"), send_alert(svc.port, "sendemil.do", toemil=to, title=TITLE,
                                                      message=MESSAGE))
        # Two addresses in one; a line break in the title cannot add a header.
        self.assertEqual((200, b"ok"), send_alert(svc.port, "sendemil.do", toemil="two@example.com; three@example.com",
                                                  title="第一行\r\nBcc: evil@example.com", message="x"))
        self.assertEqual((200, b"ok"), send_alert(svc.port, "sendemil.do", toemil="用户@例子.cn", title="t",
                                                  message="y"))
        rows = wait_for("six mails settled", lambda: svc.settled(6))
        self.assertEqual("failed", rows["用户@例子.cn"]["state"])
        self.assertIn("SMTPUTF8", rows["用户@例子.cn"]["result"])
        ok, retried, refused = rows["ops@example.com"], rows["tempfail2-ops@example.com"], rows["reject-ops@example.com"]
        self.assertEqual(("sent", 1), (ok["state"], ok["attempts"]))
        self.assertEqual(("sent", 3), (retried["state"], retried["attempts"]))
        self.assertEqual(("failed", 1), (refused["state"], refused["attempts"]))
        self.assertEqual("failed: 550 5.1.1 <reject-ops@example.com>: no such mailbox here", refused["result"])
        later = rows["tempfail1-reject-ops@example.com"]  # 451, tried again, then 550: kept failed
        self.assertEqual(("failed", 2), (later["state"], later["attempts"]))
        self.assertEqual("failed: 550 5.1.1 <tempfail1-reject-ops@example.com>: no such mailbox here", later["result"])
        self.assertEqual(["451 tempfail1-reject-ops@example.com"] + ["451 tempfail2-ops@example.com"] * 2,
                         sorted(l for l in self.sink.log() if l.startswith("451")))

        received = self.sink.messages()
        self.assertEqual(["ops@example.com", "tempfail2-ops@example.com", "two@example.com"],
                         sorted(r[0] for r in received))
        two = [r for r in received if r[0] == "two@example.com"][0][2]
        self.assertEqual(("第一行 Bcc: evil@example.com", None), (two["Subject"], two["Bcc"]))
        self.assertEqual("two@example.com, three@example.com", str(two["To"]))
        to, raw, msg = [r for r in received if r[0] == "ops@example.com"][0]
        self.assertTrue(raw.isascii(), "8-bit bytes in the message")  # the text travels encoded
        self.assertIn(b"Subject: =?utf-8?", raw)  # RFC 2047
        self.assertEqual(TITLE, msg["Subject"])
        self.assertEqual(MESSAGE + "\n", msg.get_content())
        self.assertEqual(("text/plain", "utf-8"), (msg.get_content_type(), msg.get_content_charset()))
        self.assertEqual(SENDER, str(msg["From"]))
        self.assertEqual("ops@example.com", str(msg["To"]))
        self.assertEqual(ok["message_id"], msg["Message-ID"])
        self.assertRegex(ok["message_id"], r"^<[^<>@]+@vendor\.example>$")
        self.assertIsNotNone(msg["Date"])
        self.assertEqual("accepted " + ok["message_id"], ok["result"])

        page = svc.service.handle("GET", b"/tavrick/admin/", headers=BEARER).body.decode()
        self.assertIn("550 5.1.1 &lt;reject-ops@example.com&gt;: no such mailbox here", page)
        self.assertIn("发送失败", page)
        self.assertIn("邮件经 SMTP 转发, 短信未真正发送", page)
        # SMS has no gateway here: kept in the outbox and spent at once, as without delivery.
        self.assertEqual((200, b"ok"), send_alert(svc.port, "sendmsg.do", phone="13800138000", message="t_CPU高"))
        self.assertEqual("outbox", svc.rows()["13800138000"]["state"])
        self.assertEqual(99, svc.store.figures(MAC, 0)[0])

    def test_a_relay_that_takes_no_connection_is_retried_then_kept_failed(self):
        with socket.socket() as probe:  # a loopback port nobody listens on once closed
            probe.bind(("127.0.0.1", 0))
            closed = probe.getsockname()[1]
        svc = InProcessService(self, mail_config(closed, attempts=3, first_delay=0.05))
        self.addCleanup(svc.stop)
        self.assertEqual((200, b"ok"), send_alert(svc.port, "sendemil.do", toemil="ops@example.com", title="t",
                                                  message="内存高"))
        row = wait_for("failed", lambda: svc.settled(1))["ops@example.com"]
        self.assertEqual(("failed", 3), (row["state"], row["attempts"]))
        self.assertIn("failed after 3 attempts: ConnectionRefusedError", row["result"])

    def test_starttls_and_implicit_tls_with_a_login_and_a_refused_login_kept_failed(self):
        folder = tempfile.mkdtemp(prefix="vendorsvc-tls-")
        self.addCleanup(shutil.rmtree, folder)
        cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                        "-keyout", key, "-out", cert], check=True, capture_output=True, timeout=30)
        for mode in ("starttls", "tls"):
            sink = SmtpSink((mode, cert, key, "tavrick", "relay-secret"))
            self.addCleanup(sink.stop)
            for password, to, state in (("relay-secret", "ops@example.com", "sent"), ("wrong", "x@example.com", "failed")):
                svc = InProcessService(self, "[smtp]\nhost = 127.0.0.1\nport = %d\nsecurity = %s\nuser = tavrick\n"
                                       "password = %s\nca_file = %s\nsender = %s\n[retry]\nfirst_delay = 0.1\n"
                                       % (sink.port, mode, password, cert, SENDER))
                self.addCleanup(svc.stop)
                self.assertEqual((200, b"ok"), send_alert(svc.port, "sendemil.do", toemil=to, title=TITLE,
                                                          message=MESSAGE))
                row = wait_for(mode + " " + state, lambda: svc.settled(1))[to]
                self.assertEqual(state, row["state"], row["result"])
                if state == "failed":
                    self.assertRegex(row["result"], r"^failed: 535 ")
            # One login taken; the wrong password refused for each mechanism smtplib tries.
            logins = [l.split()[-1] for l in sink.log() if l.startswith("auth")]
            self.assertEqual(("ok", {"refused"}), (logins[0], set(logins[1:])), mode)
            self.assertEqual([(TITLE, MESSAGE + "\n")], [(m["Subject"], m.get_content()) for _, _, m in sink.messages()])

    def test_configuration_errors_are_told(self):
        folder = tempfile.mkdtemp(prefix="vendorsvc-config-")
        self.addCleanup(shutil.rmtree, folder)
        cases = [("[smtp]\nport = 25\nsender = a@b\n", "[smtp] host missing"),
                 ("[smtp]\nhost = h\nsecurity = ssl\nsender = a@b\n", "[smtp] security"),
                 ("[smtp]\nhost = h\n", "[smtp] sender"),
                 ("[sms]\nurl = ftp://x\n", "[sms] url"),
                 ("[sms]\nurl = http://x\nsuccess_status = ok\n", "[sms] success_status"),
                 ("[retry]\nattempts = 0\n[smtp]\nhost = h\nsender = a@b\n", "[retry] attempts")]
        for text, told in cases:
            with self.assertRaises(ConfigError, msg=text) as caught:
                DeliveryConfig.load(write_config(folder, text))
            self.assertIn(told, str(caught.exception))
        self.assertEqual([], DeliveryConfig.load(os.path.join(folder, "none.ini")).kinds())


class Gateway:
    """An SMS gateway stand-in on loopback; the number picks its answer."""
    ANSWERS = {"13800000001": [(200, "OK sent")], "13800000002": [(503, "busy"), (503, "busy"), (200, "OK sent")],
               "13800000003": [(200, "ERR no route")], "13800000004": [(400, "bad number")]}

    def __init__(self):
        self.requests = []
        gateway = self

        class Handler(BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
                phone = urllib.parse.parse_qs(body.decode("utf-8")).get("to", [""])[0]
                tried = sum(1 for r in gateway.requests if r["phone"] == phone)
                gateway.requests.append({"phone": phone, "path": self.path, "body": body,
                                         "headers": dict(self.headers.items())})
                answers = gateway.ANSWERS.get(phone, [(404, "unknown")])
                status, text = answers[min(tried, len(answers) - 1)]
                self.send_response(status)
                self.send_header("Content-Length", str(len(text)))
                self.end_headers()
                self.wfile.write(text.encode())

            def log_message(self, *args):
                pass

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        self.port = self.server.server_address[1]

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
        self.thread.join(5)


class SmsDeliveryTest(unittest.TestCase):
    def test_the_gateway_gets_the_templated_request_and_the_balance_counts_only_delivered_sms(self):
        gateway = Gateway()
        self.addCleanup(gateway.stop)
        svc = InProcessService(
            self, "[sms]\nurl = http://127.0.0.1:%d/send?user=tavrick&to={phone}\nmethod = POST\n"
            "body = to={phone}&text={message}\nbody_escape = form\nheaders = X-Api-Key: k1\nsuccess_text = OK\n"
            "timeout = 10\n[retry]\nattempts = 5\nfirst_delay = 0.3\nmax_delay = 1\n" % gateway.port)
        self.addCleanup(svc.stop)
        svc.store.set_figures(MAC, 0, sms=4)
        text = TITLE + "_CPU高 100%&x=1"
        self.assertEqual((200, b"ok"), send_alert(svc.port, "sendmsg.do", phone="13800000001", message=text))
        self.assertEqual((200, b"ok"), send_alert(svc.port, "sendmsg.do", phone="13800000003", message="a"))
        self.assertEqual((200, b"ok"), send_alert(svc.port, "sendmsg.do", phone="13800000004", message="b"))
        rows = wait_for("three SMS settled", lambda: svc.settled(3))
        self.assertEqual(("sent", "200 OK sent"), (rows["13800000001"]["state"], rows["13800000001"]["result"]))
        self.assertEqual("failed: 200 ERR no route", rows["13800000003"]["result"])
        self.assertEqual("failed: 400 bad number", rows["13800000004"]["result"])
        self.assertEqual(3, svc.store.figures(MAC, 0)[0])  # only the delivered one is spent

        first = gateway.requests[0]
        self.assertEqual("/send?user=tavrick&to=13800000001", first["path"])
        self.assertEqual("k1", first["headers"]["X-Api-Key"])
        self.assertEqual("application/x-www-form-urlencoded", first["headers"]["Content-Type"])
        self.assertEqual({"to": ["13800000001"], "text": [text]}, urllib.parse.parse_qs(first["body"].decode("utf-8")))

        # A busy gateway is tried again; SMS still waiting count against the balance at once.
        self.assertEqual((200, b"ok"), send_alert(svc.port, "sendmsg.do", phone="13800000002", message="c"))
        self.assertEqual((200, b"ok"), send_alert(svc.port, "sendmsg.do", phone="13800000001", message="d"))
        self.assertEqual((200, b"ok"), send_alert(svc.port, "sendmsg.do", phone="13800000001", message="e"))
        self.assertEqual((403, b"refused: no sms balance"),
                         send_alert(svc.port, "sendmsg.do", phone="13800000001", message="f"))
        wait_for("six SMS settled", lambda: svc.settled(6))
        busy = svc.rows()["13800000002"]
        self.assertEqual(("sent", 3), (busy["state"], busy["attempts"]))
        self.assertEqual([3, 3, 1, 1], [sum(1 for r in gateway.requests if r["phone"] == p) for p in
                                        ("13800000001", "13800000002", "13800000003", "13800000004")])
        self.assertEqual(0, svc.store.figures(MAC, 0)[0])


class RestartTest(unittest.TestCase):
    def test_alerts_accepted_before_a_kill_are_delivered_once_after_the_restart(self):
        sink = SmtpSink()
        self.addCleanup(sink.stop)
        data = tempfile.mkdtemp(prefix="vendorsvc-restart-")
        script = os.path.join(ROOT, "run.sh")
        config = write_config(data, mail_config(sink.port, first_delay=0.2))
        run = lambda *args: subprocess.run(["bash", script] + list(args), check=True, capture_output=True,
                                           text=True, timeout=30).stdout
        self.addCleanup(shutil.rmtree, data)
        self.addCleanup(lambda: subprocess.run(["bash", script, "stop", data], timeout=30))
        with open(os.path.join(data, "given.password"), "w") as f:
            f.write(PASSWORD + "\n")
        store = store_options(self, data)
        start = lambda: int(run("start", data, "0", "--listen", "127.0.0.1", "--admin-password-file",
                                os.path.join(data, "given.password"), "--delivery", config, *store))

        def states():
            db = Store(store_url(data, store[1] if store else None))
            try:
                return {r["recipient"]: (r["state"], r["message_id"]) for r in db.outbox()}
            finally:
                db.close()

        port = start()
        self.assertEqual((200, b"ok"), send_alert(port, "sendemil.do", toemil="stall-a@example.com", title=TITLE,
                                                  message="第一条"))
        wait_for("the relay holding the first mail", lambda: os.path.exists(os.path.join(sink.dir, "stalled")))
        self.assertEqual((200, b"ok"), send_alert(port, "sendemil.do", toemil="b@example.com", title=TITLE,
                                                  message="第二条"))
        with open(os.path.join(data, "service.pid")) as f:
            os.kill(int(f.read()), signal.SIGKILL)  # gunicorn's master; its two workers stop by themselves
        before = states()
        # The first is held by the relay; the second waits, or the other worker has it already.
        self.assertEqual("claimed", before["stall-a@example.com"][0])
        self.assertIn(before["b@example.com"][0], ("queued", "claimed", "sent"))

        start()
        # The worker holding the first stops within its delivery thread's grace (3 s); its claim is
        # put back once its pid is gone.
        wait_for("both sent", lambda: all(v[0] == "sent" for v in states().values()), bound=40)
        run("stop", data)
        start()  # and again: nothing left to send
        time.sleep(0.5)
        run("stop", data)
        with open(os.path.join(data, "admin.password")) as f:
            self.assertEqual(PASSWORD + "\n", f.read())
        with open(os.path.join(data, "service.log")) as f:
            self.assertIn("vendor service on http://127.0.0.1:%d/tavrick/" % port, f.read())
        # Each once (in either order: the second worker process may send the second first).
        received = sorted(sink.messages(), key=lambda r: r[0] != "stall-a@example.com")
        self.assertEqual(["stall-a@example.com", "b@example.com"], [r[0] for r in received])
        self.assertEqual(["第一条\n", "第二条\n"], [r[2].get_content() for r in received])
        # The message id was made when the alert was accepted: the same one after the restart.
        self.assertEqual(before["stall-a@example.com"][1], received[0][2]["Message-ID"])


if __name__ == "__main__":
    unittest.main()
