"""Every endpoint of the vendor service, independent of the HTTP server so that tests can
call it directly. Program-facing answers are GBK text; pages for people are UTF-8 HTML."""
import html
import json
import os
import time
from urllib.parse import unquote_to_bytes

from .stamp import StampRefused, verify

TEXT_GBK = "text/plain; charset=gbk"
HTML = "text/html; charset=utf-8"


def parse_query(raw, encoding="gbk", plus_is_blank=False):
    """Query bytes to a dict of texts. The program sends GBK bytes raw and escapes only
    delimiters, blanks and control bytes, so '+' is itself; browsers' forms send '+' for a blank."""
    params = {}
    if plus_is_blank:
        raw = raw.replace(b"+", b" ")
    for part in raw.split(b"&"):
        if not part:
            continue
        name, _, value = part.partition(b"=")
        params.setdefault(unquote_to_bytes(name).decode(encoding, "replace"),
                          unquote_to_bytes(value).decode(encoding, "replace"))
    return params


def machine_key(mac):
    """The program sends its identifier with a trailing line feed; the service keys on the text."""
    return mac.strip()


class Response:
    def __init__(self, body=b"", content_type=TEXT_GBK, status=200):
        self.body = body if isinstance(body, bytes) else body.encode("gbk" if "gbk" in content_type else "utf-8")
        self.content_type = content_type
        self.status = status


class VendorService:
    def __init__(self, store, key, *, clock=time.time, stamp_window=300, offline_after=180,
                 version_text="2.30", newsoft_dir=None):
        self.store = store
        self.key = key
        self.clock = clock
        self.stamp_window = stamp_window
        self.offline_after = offline_after
        self.version_text = version_text
        self.newsoft_dir = newsoft_dir

    def now(self):
        return int(self.clock())

    # --- dispatch ------------------------------------------------------------------------
    def handle(self, method, raw_path, body=b"", host="127.0.0.1"):
        """raw_path: the request target as bytes (query included)."""
        path, _, query = raw_path.partition(b"?")
        path = unquote_to_bytes(path).decode("utf-8", "replace")
        routes = {
            "/tavrick/timestamp.jsp": self.timestamp,
            "/tavrick/sendemil.do": self.send_mail,
            "/tavrick/sendmsg.do": self.send_sms,
            "/tavrick/heartaction.do": self.heartbeat,
            "/tavrick/getmsgcount.jsp": self.sms_count,
            "/tavrick/getmailday.jsp": self.mail_days,
            "/tavrick/mysoft.jsp": self.soft_list,
            "/tavrick/version.txt": self.version_file,
            "/tavrick/user/code.jsp": self.remote_code,
            "/tavrick/index.jsp": self.home_page,
            "/tavrick/question.html": self.question_page,
            "/tavrick/admin/outbox.json": self.outbox_json,
            "/tavrick/admin/refused.json": self.refused_json,
            "/tavrick/admin/machines.json": self.machines_json,
            "/tavrick/admin/account": self.set_account,
            "/tavrick/admin/": self.admin_page,
            "/tavrick/admin/index.html": self.admin_page,
        }
        if path == "/tavrick/user/index.jsp":
            form = parse_query(body if method == "POST" else query, "utf-8", plus_is_blank=True)
            return self.user_page(form)
        if path.startswith("/tavrick/newsoft/x86/") or path.startswith("/tavrick/newsoft/x64/"):
            return self.newsoft(path[len("/tavrick/newsoft/"):])
        handler = routes.get(path)
        if handler is None:
            return Response("", status=404)
        params = parse_query(query)
        params["_host"] = host
        return handler(params)

    # --- signing ---------------------------------------------------------------------------
    def timestamp(self, params):
        return Response(str(self.now()))

    def _check_stamp(self, endpoint, params):
        """True when the stamp is genuine and fresh; a refusal is recorded."""
        try:
            verify(self.key, params.get("stamp", ""), self.now(), self.stamp_window)
            return True
        except StampRefused as refusal:
            self.store.refuse(endpoint, machine_key(params.get("mac", "")), params.get("stamp", ""),
                              refusal.reason, self.now())
            return False

    # --- relay ---------------------------------------------------------------------------------
    def _relay(self, endpoint, kind, p, recipient, title, message):
        if not self._check_stamp(endpoint, p):
            return Response("refused")
        mac = machine_key(p.get("mac", ""))
        if self.store.relay(kind, mac, recipient, title, message, self.now()) is None:
            reason = "no sms balance" if kind == "sms" else "no mail days"
            self.store.refuse(endpoint, mac, p.get("stamp", ""), reason, self.now())
            return Response("refused")
        return Response("ok")

    def send_mail(self, p):
        return self._relay("sendemil.do", "mail", p, p.get("toemil", ""), p.get("title", ""), p.get("message", ""))

    def send_sms(self, p):
        return self._relay("sendmsg.do", "sms", p, p.get("phone", ""), "", p.get("message", ""))

    def heartbeat(self, p):
        if not self._check_stamp("heartaction.do", p):
            return Response("refused")
        self.store.heartbeat(machine_key(p.get("mac", "")), p.get("rad", ""), p.get("v", ""), p.get("phone", ""),
                             p.get("mail", ""), 1 if p.get("isdownmsg") == "1" else 0, self.now())
        return Response("ok")

    def sweep_offline(self):
        """Offline alerts for machines whose heartbeats stopped while their switch is on."""
        now = self.now()
        sent = 0
        for m in self.store.offline_machines(now, self.offline_after):
            minutes = (now - m["last_seen"]) // 60
            text = "服务器 %s 已有 %d 分钟没有心跳, 可能已经断网或关机。" % (m["mac"], minutes)
            title = "Tavrick提醒您!"
            if m["mail"]:
                sent += self.store.relay("mail", m["mac"], m["mail"], title, text, now, "offline") is not None
            if m["phone"]:
                sent += self.store.relay("sms", m["mac"], m["phone"], "", title + "_" + text, now,
                                         "offline") is not None
            self.store.mark_offline_alerted(m["mac"])
        return sent

    # --- figures -----------------------------------------------------------------------------
    def _figure(self, endpoint, p, index):
        if not self._check_stamp(endpoint, p):
            return Response("-1")  # the program keeps its previous figure
        return Response(str(self.store.figures(machine_key(p.get("mac", "")), self.now())[index]))

    def sms_count(self, p):
        return self._figure("getmsgcount.jsp", p, 0)

    def mail_days(self, p):
        return self._figure("getmailday.jsp", p, 1)

    def set_account(self, p):
        def number(name):
            return int(p[name]) if p.get(name, "").lstrip("-").isdigit() else None
        mac = machine_key(p.get("mac", ""))
        self.store.set_figures(mac, self.now(), number("sms"), number("days"))
        sms, days = self.store.figures(mac, self.now())
        return Response("%d,%d" % (sms, days))

    # --- lists and files ------------------------------------------------------------------------
    def _absolute(self, link, host):
        return ("http://%s%s" % (host, link)) if link.startswith("/") else link

    def soft_list(self, p):
        items = []
        for row in self.store.softlist():
            items += [row["text"], self._absolute(row["link"], p["_host"])]
        return Response(",".join(items))

    def version_file(self, p):
        return Response(self.version_text)

    def newsoft(self, rest):
        arch, _, name = rest.partition("/")
        folder = os.path.join(self.newsoft_dir, arch) if self.newsoft_dir else None
        if not folder or not os.path.isdir(folder):
            return Response("", status=404)
        if not name:
            return Response("\r\n".join(sorted(os.listdir(folder))))
        if "/" in name or "\\" in name or name.startswith("."):
            return Response("", status=404)
        target = os.path.join(folder, name)
        if not os.path.isfile(target):
            return Response("", status=404)
        with open(target, "rb") as f:
            return Response(f.read(), "application/octet-stream")

    # --- remote commands -----------------------------------------------------------------------
    def remote_code(self, p):
        request = self.store.take_remote_request(machine_key(p.get("mac", "")))
        if request is None:
            return Response("")
        return Response("%d,%d,%s" % (request["reboot"], request["release"], request["password"]))

    def user_page(self, form):
        from .pages import user_page
        message = ""
        if form.get("submit"):
            mac, password = machine_key(form.get("mac", "")), form.get("password", "")
            reboot, release = form.get("reboot") == "1", form.get("release") == "1"
            if not mac:
                message = "请选择服务器。"
            elif not password.strip():
                message = "请输入远程密码。"
            elif "," in password:
                message = "远程密码不能含有逗号。"
            elif not (reboot or release):
                message = "请选择至少一项操作。"
            else:
                self.store.put_remote_request(mac, reboot, release, password, self.now())
                message = "已提交: 服务器将在下次查询时(约两到四分钟内)执行。"
        return Response(user_page(self.store.machines(), self.store.pending_remote(), message), HTML)

    # --- pages and listings ---------------------------------------------------------------------
    def home_page(self, p):
        from .pages import home_page
        return Response(home_page(), HTML)

    def question_page(self, p):
        from .pages import question_page
        return Response(question_page(), HTML)

    def admin_page(self, p):
        from .pages import admin_page
        return Response(admin_page(self.store.machines(), self.store.outbox(), self.store.refused_requests()), HTML)

    def _json(self, p, rows):
        if p.get("charset") == "gbk":
            return Response(json.dumps(rows, ensure_ascii=False).encode("gbk", "replace"),
                            "application/json; charset=gbk")
        return Response(json.dumps(rows, ensure_ascii=False).encode("utf-8"), "application/json; charset=utf-8")

    def outbox_json(self, p):
        return self._json(p, self.store.outbox())

    def refused_json(self, p):
        return self._json(p, self.store.refused_requests())

    def machines_json(self, p):
        rows = self.store.machines()
        for row in rows:
            row["heartbeats"] = sum(1 for h in self.store.heartbeat_log() if h["mac"] == row["mac"])
        return self._json(p, rows)


def escape(text):
    return html.escape(str(text), quote=True)
