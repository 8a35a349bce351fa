"""What the program asks for: time stamps, the alert relay, heartbeats with the offline alert,
the SMS and e-mail figures, the related-software list and the remote command poll.
Answers are GBK text; a refusal is 403 with "refused: <reason>", which the program reads
as no figure (it is not a number)."""
from .stamp import StampRefused, request_key, verify
from .store import LIMITS
from .web import HttpError, Response

# The values each stamped endpoint acts on, in the order they make its request key.
STAMPED_FIELDS = {
    "sendemil.do": ("toemil", "title", "message", "mac"),
    "sendmsg.do": ("phone", "message", "mac"),
    "heartaction.do": ("rad", "mac", "v", "phone", "mail", "isdownmsg"),
    "getmsgcount.jsp": ("mac",),
    "getmailday.jsp": ("mac",),
}

OFFLINE_TITLE = "Tavrick提醒您!"


def machine_key(mac):
    """The program sends its identifier with a trailing line feed; the service keys on the text."""
    return mac.strip()


def machine_of(request):
    """The request's machine id; 400 when it is missing or too long to be one."""
    mac = machine_key(request.param("mac"))
    if not mac:
        raise HttpError(400, "mac missing")
    if len(mac) > LIMITS["mac"]:
        raise HttpError(400, "mac too long")
    return mac


class ProgramEndpoints:
    def __init__(self, service):
        self.service = service
        self.store = service.store

    def routes(self):
        return {
            "/tavrick/timestamp.jsp": {"GET": self.timestamp},
            "/tavrick/sendemil.do": {"GET": self.send_mail},
            "/tavrick/sendmsg.do": {"GET": self.send_sms},
            "/tavrick/heartaction.do": {"GET": self.heartbeat},
            "/tavrick/getmsgcount.jsp": {"GET": self.sms_count},
            "/tavrick/getmailday.jsp": {"GET": self.mail_days},
            "/tavrick/mysoft.jsp": {"GET": self.soft_list},
            "/tavrick/user/code.jsp": {"GET": self.remote_code},
        }

    # --- signing ---------------------------------------------------------------------------
    def timestamp(self, request):
        return Response(str(self.service.now()))

    def _check_stamp(self, endpoint, request, mac):
        """Accepts a fresh stamp once per distinct request; refusals are recorded and answered 403."""
        now = self.service.now()
        stamp = request.param("stamp")
        try:
            issued = verify(self.service.key, stamp, now, self.service.stamp_window)
            mac_bytes = request.raw.get("mac", b"").strip()
            fields = [mac_bytes if name == "mac" else request.raw.get(name, b"") for name in STAMPED_FIELDS[endpoint]]
            if not self.store.first_sight(request_key(endpoint, issued, fields), issued):
                raise StampRefused("replayed")
        except StampRefused as refusal:
            self.store.refuse(endpoint, mac, stamp, refusal.reason, now)
            raise HttpError(403, "refused: " + refusal.reason)

    # --- relay -----------------------------------------------------------------------------
    def _relay(self, endpoint, kind, request, recipient, title, message):
        mac = machine_of(request)
        self._check_stamp(endpoint, request, mac)
        now = self.service.now()
        if self.service.relay(kind, mac, recipient, title, message) is None:
            reason = "no sms balance" if kind == "sms" else "no mail days"
            self.store.refuse(endpoint, mac, request.param("stamp"), reason, now)
            raise HttpError(403, "refused: " + reason)
        return Response("ok")

    def send_mail(self, r):
        return self._relay("sendemil.do", "mail", r, r.param("toemil"), r.param("title"), r.param("message"))

    def send_sms(self, r):
        return self._relay("sendmsg.do", "sms", r, r.param("phone"), "", r.param("message"))

    def heartbeat(self, r):
        mac = machine_of(r)
        self._check_stamp("heartaction.do", r, mac)
        self.store.heartbeat(mac, r.param("rad"), r.param("v"), r.param("phone"), r.param("mail"),
                             1 if r.param("isdownmsg") == "1" else 0, self.service.now(), r.client)
        return Response("ok")

    def sweep_offline(self):
        """Offline alerts for machines whose heartbeats stopped while their switch is on. A
        machine is claimed before its alert goes out, and only if no heartbeat came in since
        it was read, so a machine that just came back is not marked alerted."""
        now = self.service.now()
        sent = 0
        for m in self.store.offline_machines(now, self.service.offline_after):
            if not self.store.claim_offline_alert(m["mac"], m["last_seen"]):
                continue
            minutes = (now - m["last_seen"]) // 60
            text = "服务器 %s 已有 %d 分钟没有心跳, 可能已经断网或关机。" % (m["mac"], minutes)
            if m["mail"]:
                sent += self.service.relay("mail", m["mac"], m["mail"], OFFLINE_TITLE, text, "offline") is not None
            if m["phone"]:
                sent += self.service.relay("sms", m["mac"], m["phone"], "", OFFLINE_TITLE + "_" + text,
                                           "offline") is not None
        return sent

    # --- figures ---------------------------------------------------------------------------
    def _figure(self, endpoint, request, index):
        mac = machine_of(request)
        self._check_stamp(endpoint, request, mac)
        return Response(str(self.store.figures(mac, self.service.now())[index]))

    def sms_count(self, r):
        return self._figure("getmsgcount.jsp", r, 0)

    def mail_days(self, r):
        return self._figure("getmailday.jsp", r, 1)

    # --- lists -----------------------------------------------------------------------------
    def soft_list(self, r):
        items = []
        for row in self.store.softlist():
            link = row["link"]
            items += [row["text"], ("http://%s%s" % (r.host, link)) if link.startswith("/") else link]
        return Response(",".join(items))

    # --- remote commands -------------------------------------------------------------------
    def remote_code(self, r):
        """The pending request as "reboot,release,password" (GBK), once; "" when none is
        pending for this machine at the caller's address."""
        def answer(row):
            return Response("%d,%d,%s" % (row["reboot"], row["release"], row["password"]))
        return self.store.take_remote_request(machine_of(r), r.client, answer) or Response("")
