#!/usr/bin/env python3
"""The Win32 delivery test's other side, run natively by ctest (DeliveryServiceStart/Stop):
a real SMTP server, an SMS gateway and a stand-in vendor service that delivers to both, all on
127.0.0.1 ports of their own.
  delivery_fixture.py start DIR   starts them; DIR/service is the service's data folder (its
                                  service.port and admin.password as usual)
  delivery_fixture.py stop DIR    ends exactly the three processes start began, by their pids
What arrives is written for the test to read, in GBK as the program's texts are:
  DIR/mail/NNN.eml  the message as the SMTP server took it (the stand-in's tests/smtp_sink.py)
  DIR/mail/NNN.txt  its From, To, Subject and Message-ID headers and its text, decoded
  DIR/sms/NNN.txt   the gateway's request: method and path, then the decoded phone and text"""
import email
import email.policy
import http.server
import os
import shutil
import signal
import subprocess
import sys
import threading
import time
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SERVICE = os.path.join(ROOT, "standins", "vendor-service")
SINK = os.path.join(SERVICE, "tests", "smtp_sink.py")


def write_atomically(path, data):
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.replace(path + ".tmp", path)


def gbk(text):
    return text.encode("gbk", errors="replace")


# ---- the gateway (and the mail decoder beside it) ------------------------------------------

def decode_mail(path):
    with open(path, "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    lines = ["%s: %s" % (name, msg.get(name, "")) for name in ("From", "To", "Subject", "Message-ID")]
    body = msg.get_body(preferencelist=("plain",))
    return "\n".join(lines) + "\n\n" + (body.get_content() if body else "")


def decode_mails(folder, stop):
    while not stop.is_set():
        for name in sorted(os.listdir(folder)):
            if name.endswith(".eml") and not os.path.exists(os.path.join(folder, name[:-4] + ".txt")):
                try:
                    text = decode_mail(os.path.join(folder, name))
                except Exception as error:  # noqa: BLE001 - what failed is the test's evidence
                    text = "undecodable: %r" % error
                write_atomically(os.path.join(folder, name[:-4] + ".txt"), gbk(text))
        stop.wait(0.2)


def gateway(data):
    sms = os.path.join(data, "sms")
    taken = [0]
    lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            length = int(self.headers.get("Content-Length") or 0)
            body = self.rfile.read(min(length, 65536)).decode("utf-8", errors="replace")
            fields = urllib.parse.parse_qs(body, keep_blank_values=True)
            text = "%s %s\nphone=%s\ntext=%s\n" % (self.command, self.path, "".join(fields.get("to", [])),
                                                  "".join(fields.get("text", [])))
            with lock:
                taken[0] += 1
                write_atomically(os.path.join(sms, "%03d.txt" % taken[0]), gbk(text))
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", "2")
            self.end_headers()
            self.wfile.write(b"OK")

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    stop = threading.Event()
    threading.Thread(target=decode_mails, args=(os.path.join(data, "mail"), stop), daemon=True).start()
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    write_atomically(os.path.join(data, "gateway.port"), b"%d\n" % server.server_address[1])
    server.serve_forever()
    stop.set()


# ---- start and stop ------------------------------------------------------------------------

def aiosmtpd_python():
    for python in (sys.executable, "/usr/bin/python3"):
        if subprocess.run([python, "-c", "import aiosmtpd"], capture_output=True).returncode == 0:
            return python
    sys.exit("no interpreter with aiosmtpd (Debian's python3-aiosmtpd)")


def spawn(data, name, argv):
    log = open(os.path.join(data, name + ".log"), "wb")  # the sink's first line is its port: one run a file
    process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    write_atomically(os.path.join(data, name + ".pid"), b"%d\n" % process.pid)
    return process


def wait_for_port(path, process, what):
    for _ in range(100):
        try:
            with open(path) as f:
                port = f.read().split()
            if port and port[0].isdigit():
                return int(port[0])
        except FileNotFoundError:
            pass
        if process.poll() is not None:
            break
        time.sleep(0.1)
    sys.exit("%s did not start" % what)


def ours(data, name):
    """The pid in DATA/NAME.pid while that process still is the one started for DATA."""
    try:
        with open(os.path.join(data, name + ".pid")) as f:
            pid = int(f.read())
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            cmdline = f.read().replace(b"\0", b" ").decode(errors="replace")
    except (OSError, ValueError):
        return None
    return pid if data in cmdline else None


def running(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def stop(data):
    subprocess.run(["bash", os.path.join(SERVICE, "run.sh"), "stop", os.path.join(data, "service")], check=False)
    for name in ("sink", "gateway"):
        pid = ours(data, name)
        if pid:
            os.kill(pid, signal.SIGTERM)
            for _ in range(50):
                if not running(pid):
                    break
                time.sleep(0.1)
            else:
                os.kill(pid, signal.SIGKILL)
        try:
            os.remove(os.path.join(data, name + ".pid"))
        except FileNotFoundError:
            pass


def start(data):
    data = os.path.abspath(data)
    os.makedirs(data, exist_ok=True)
    stop(data)  # what an earlier start left running
    for folder in ("mail", "sms", "service"):
        shutil.rmtree(os.path.join(data, folder), ignore_errors=True)
        os.makedirs(os.path.join(data, folder))
    for name in ("sink.port", "gateway.port"):
        if os.path.exists(os.path.join(data, name)):
            os.remove(os.path.join(data, name))
    # The sink's first line is its port; it then writes every message into mail/ (see its text).
    sink = spawn(data, "sink", [aiosmtpd_python(), SINK, os.path.join(data, "mail")])
    smtp_port = wait_for_port(os.path.join(data, "sink.log"), sink, "the SMTP server")
    shell = spawn(data, "gateway", [sys.executable, os.path.abspath(__file__), "gateway", data])
    sms_port = wait_for_port(os.path.join(data, "gateway.port"), shell, "the SMS gateway")
    delivery = os.path.join(data, "service", "delivery.ini")
    with open(delivery, "w", encoding="utf-8") as f:
        f.write("[smtp]\nhost = 127.0.0.1\nport = %d\nsecurity = none\nsender = Tavrick 提醒 <alerts@example.com>\n"
                "timeout = 10\n\n[sms]\nurl = http://127.0.0.1:%d/send?account=tavrick\nmethod = POST\n"
                "body = to={phone}&text={message}\nsuccess_text = OK\ntimeout = 10\n\n"
                "[retry]\nattempts = 3\nfirst_delay = 1\nmax_delay = 2\n" % (smtp_port, sms_port))
    result = subprocess.run(["bash", os.path.join(SERVICE, "run.sh"), "start", os.path.join(data, "service"), "0",
                             "--delivery", delivery], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
    if result.returncode != 0:
        stop(data)
        sys.exit("the vendor service did not start; see %s" % os.path.join(data, "service", "service.log"))
    print("smtp %d, sms %d, service %s" % (smtp_port, sms_port, result.stdout.decode().strip()))


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop", "gateway"):
        sys.exit(__doc__)
    {"start": start, "stop": lambda d: stop(os.path.abspath(d)), "gateway": gateway}[sys.argv[1]](sys.argv[2])
