"""Real delivery of the outbox: e-mail through the operator's SMTP relay, SMS through an HTTP
gateway, by a worker thread that takes rows from the durable queue in the store. A row is
claimed before it is tried and marked sent only after the relay or gateway confirmed it;
temporary failures (4xx, no connection, time-out) are tried again with growing delays,
permanent ones (5xx) are kept as failed with the server's answer. Configured in an INI file
(see docs/vendor-service.md); a kind with no section stays in the outbox, as before."""
import configparser
import email.utils
import json
import os
import random
import re
import smtplib
import socket
import ssl
import sys
import threading
import time
import urllib.error
import urllib.parse
import urllib.request
from email.message import EmailMessage

SECURITY = ("starttls", "tls", "none")
ESCAPES = ("form", "json", "none")


class ConfigError(Exception):
    pass


class TemporaryFailure(Exception):
    pass


class PermanentFailure(Exception):
    pass


def _number(section, name, default, kind=float, low=0):
    try:
        value = kind(section.get(name, str(default)))
    except ValueError:
        raise ConfigError("[%s] %s: not a number" % (section.name, name))
    if value < low:
        raise ConfigError("[%s] %s: below %s" % (section.name, name, low))
    return value


class RetryPolicy:
    def __init__(self, attempts=10, first_delay=30.0, max_delay=3600.0, lease=300.0):
        self.attempts = attempts
        self.first_delay = first_delay
        self.max_delay = max_delay
        self.lease = lease  # seconds a claim holds before another worker may take the row

    def delay(self, attempts):
        """Seconds before the next try after `attempts` tries: doubling, with a little jitter
        so that a burst refused together does not come back together."""
        base = min(self.first_delay * 2 ** max(attempts - 1, 0), self.max_delay)
        return base * random.uniform(0.9, 1.1)


class MailRelay:
    """One SMTP relay: host, port, security (starttls, tls = implicit TLS, none), optional user
    and password, the sender, a time-out."""

    def __init__(self, section):
        self.host = section.get("host", "").strip()
        if not self.host:
            raise ConfigError("[smtp] host missing")
        self.security = section.get("security", "starttls").strip().lower()
        if self.security not in SECURITY:
            raise ConfigError("[smtp] security: one of %s" % ", ".join(SECURITY))
        self.port = _number(section, "port", 465 if self.security == "tls" else 587, int, 1)
        self.user = section.get("user", "")
        self.password = section.get("password", "")
        password_file = section.get("password_file", "").strip()
        if password_file:
            with open(password_file) as f:
                self.password = f.read().strip()
        self.sender = section.get("sender", "").strip()
        if "@" not in self.sender:
            raise ConfigError("[smtp] sender missing or not an address")
        self.timeout = _number(section, "timeout", 30.0, float, 1)
        self.ca_file = section.get("ca_file", "").strip() or None
        self.envelope_sender = email.utils.parseaddr(self.sender)[1]
        if "@" not in self.envelope_sender:
            raise ConfigError("[smtp] sender: no address in it")
        self.domain = self.envelope_sender.rpartition("@")[2]

    def new_message_id(self):
        return email.utils.make_msgid("tavrick", domain=self.domain)

    def message(self, row):
        """The row as a MIME message: UTF-8 text (the program's GBK was decoded on arrival),
        the subject RFC 2047-encoded by the email package, the id kept in the row."""
        msg = EmailMessage()
        msg["From"] = self.sender
        msg["To"] = ", ".join(recipients(row["recipient"]))
        # A line break in a header would start another header: the title is one line.
        msg["Subject"] = one_line(row["title"]) or "Tavrick"
        msg["Date"] = email.utils.formatdate(row["created"], localtime=True)
        msg["Message-ID"] = row["message_id"] or self.new_message_id()
        msg["X-Tavrick-Machine"] = one_line(row["mac"])
        # base64: 7-bit clean for any relay, and shorter than quoted-printable for Chinese text.
        msg.set_content(row["message"], charset="utf-8", cte="base64")
        return msg

    def _connect(self):
        context = ssl.create_default_context(cafile=self.ca_file)
        if self.security == "tls":
            client = smtplib.SMTP_SSL(self.host, self.port, timeout=self.timeout, context=context)
        else:
            client = smtplib.SMTP(self.host, self.port, timeout=self.timeout)
        try:
            if self.security == "starttls":
                client.starttls(context=context)
            if self.user:
                client.login(self.user, self.password)
        except BaseException:
            client.close()
            raise
        return client

    def send(self, row):
        """The relay's answer once it took the message; TemporaryFailure or PermanentFailure
        with the server's answer otherwise."""
        to = recipients(row["recipient"])
        if not to:
            raise PermanentFailure("no recipient address")
        msg = self.message(row)
        try:
            client = self._connect()
            try:
                refused = client.send_message(msg, self.envelope_sender, to)
            finally:
                try:
                    client.quit()
                except (smtplib.SMTPException, OSError):
                    client.close()
        except smtplib.SMTPRecipientsRefused as error:
            answers = error.recipients.values()
            detail = "; ".join("%s %s" % (c, _text(t)) for c, t in answers)
            if all(c >= 500 for c, _ in answers):
                raise PermanentFailure(detail)
            raise TemporaryFailure(detail)
        except smtplib.SMTPNotSupportedError as error:
            # An address outside ASCII needs SMTPUTF8, which this relay lacks: it never will.
            if not all(a.isascii() for a in to + [self.envelope_sender]):
                raise PermanentFailure("%s (address outside ASCII)" % error)
            raise TemporaryFailure("%s: %s" % (type(error).__name__, error))
        except smtplib.SMTPResponseException as error:
            detail = "%d %s" % (error.smtp_code, _text(error.smtp_error))
            raise (PermanentFailure if 500 <= error.smtp_code < 600 else TemporaryFailure)(detail)
        except (smtplib.SMTPException, OSError) as error:
            raise TemporaryFailure("%s: %s" % (type(error).__name__, error))
        answer = "accepted %s" % msg["Message-ID"]
        if refused:
            answer += "; refused " + "; ".join("%s %d %s" % (a, c, _text(t)) for a, (c, t) in refused.items())
        return answer


def _text(data):
    return data.decode("utf-8", "replace") if isinstance(data, bytes) else str(data)


def one_line(text):
    return re.sub(r"[\x00-\x1f\x7f]+", " ", text).strip()


def recipients(text):
    return [a for a in re.split(r"[,;\s]+", text) if "@" in a]


class SmsGateway:
    """An HTTP gateway: url and body templates with {phone} and {message}, a method, extra
    headers, the text's charset, and the success test (status codes, and text the answer must
    hold)."""

    def __init__(self, section):
        self.url = section.get("url", "").strip()
        if not re.match(r"https?://", self.url):
            raise ConfigError("[sms] url missing or not http(s)")
        self.method = section.get("method", "POST").strip().upper()
        if self.method not in ("GET", "POST", "PUT"):
            raise ConfigError("[sms] method: GET, POST or PUT")
        self.body = section.get("body", "")
        self.escape = section.get("body_escape", "form").strip().lower()
        if self.escape not in ESCAPES:
            raise ConfigError("[sms] body_escape: one of %s" % ", ".join(ESCAPES))
        self.content_type = section.get("content_type", {"form": "application/x-www-form-urlencoded",
                                                         "json": "application/json"}.get(self.escape, "text/plain"))
        self.charset = section.get("charset", "utf-8").strip()
        try:
            "".encode(self.charset)
        except LookupError:
            raise ConfigError("[sms] charset: unknown")
        self.headers = {}
        for line in section.get("headers", "").splitlines():
            name, sep, value = line.partition(":")
            if line.strip() and not sep:
                raise ConfigError("[sms] headers: one 'Name: value' a line")
            if sep:
                self.headers[name.strip()] = value.strip()
        codes = section.get("success_status", "200-299").strip()
        self.success = set()
        for part in codes.split(","):
            low, _, high = part.strip().partition("-")
            if not low.isdigit() or (high and not high.isdigit()):
                raise ConfigError("[sms] success_status: codes or ranges like 200-299")
            self.success.update(range(int(low), int(high or low) + 1))
        self.success_text = section.get("success_text", "")
        self.timeout = _number(section, "timeout", 30.0, float, 1)

    def _fill(self, template, values, escape):
        def value(match):
            text = values[match.group(1)]
            if escape == "form":
                return urllib.parse.quote(text.encode(self.charset, "replace"), safe="")
            if escape == "json":
                return json.dumps(text, ensure_ascii=False)[1:-1]
            return text
        return re.sub(r"\{(phone|message|id)\}", value, template)

    def request(self, row):
        values = {"phone": row["recipient"], "message": row["message"], "id": str(row["id"])}
        url = self._fill(self.url, values, "form")
        data = None
        if self.body:
            data = self._fill(self.body, values, self.escape).encode(self.charset, "replace")
        headers = dict(self.headers)
        if data is not None:
            headers.setdefault("Content-Type", self.content_type)
        return urllib.request.Request(url, data, headers, method=self.method)

    def send(self, row):
        request = self.request(row)
        try:
            with urllib.request.urlopen(request, timeout=self.timeout) as answer:
                status, body = answer.status, answer.read(4096)
        except urllib.error.HTTPError as error:
            status, body = error.code, error.read(4096)
        except (urllib.error.URLError, OSError) as error:
            raise TemporaryFailure("%s: %s" % (type(error).__name__, getattr(error, "reason", error)))
        text = body.decode(self.charset, "replace").strip()
        detail = "%d %s" % (status, text[:300])
        if status in self.success and self.success_text in text:
            return detail
        # The gateway's own trouble or a rate limit passes; anything else it said no to is final.
        if status >= 500 or status in (408, 429):
            raise TemporaryFailure(detail)
        raise PermanentFailure(detail)


class DeliveryConfig:
    def __init__(self, mail=None, sms=None, retry=None):
        self.mail = mail
        self.sms = sms
        self.retry = retry or RetryPolicy()

    def kinds(self):
        return [k for k, channel in (("mail", self.mail), ("sms", self.sms)) if channel is not None]

    @classmethod
    def load(cls, path):
        """The configuration in an INI file; no file: nothing configured."""
        if not path or not os.path.exists(path):
            return cls()
        parser = configparser.ConfigParser(interpolation=None)
        try:
            with open(path, encoding="utf-8") as f:
                parser.read_file(f)
        except (configparser.Error, UnicodeDecodeError) as error:
            raise ConfigError("%s: %s" % (path, error))
        retry = RetryPolicy()
        if parser.has_section("retry"):
            section = parser["retry"]
            retry = RetryPolicy(_number(section, "attempts", 10, int, 1), _number(section, "first_delay", 30.0),
                                _number(section, "max_delay", 3600.0), _number(section, "lease", 300.0, float, 1))
        return cls(MailRelay(parser["smtp"]) if parser.has_section("smtp") else None,
                   SmsGateway(parser["sms"]) if parser.has_section("sms") else None, retry)


def worker_name():
    """host:pid:token: the token tells this run from an earlier one that had the same pid."""
    return "%s:%d:%s" % (socket.gethostname(), os.getpid(), os.urandom(4).hex())


def claim_is_dead(me):
    """A claim whose worker is gone: on this host, a pid that no longer runs, or this pid
    with another run's token. Claims from other hosts wait out their lease."""
    host, pid, _ = me.split(":")

    def dead(claimed_by):
        parts = claimed_by.split(":")
        if len(parts) != 3 or parts[0] != host:
            return False
        if parts[1] == pid:
            return claimed_by != me
        return not pid_runs(parts[1])
    return dead


def pid_runs(pid):
    """True while the process runs; a killed one nobody has reaped yet (a zombie) does not."""
    try:
        with open("/proc/%d/stat" % int(pid)) as f:
            return f.read().rpartition(")")[2].split()[0] != "Z"
    except (OSError, ValueError, IndexError):
        pass
    try:
        os.kill(int(pid), 0)
    except ProcessLookupError:
        return False
    except (PermissionError, ValueError):
        return True
    return True


class DeliveryWorker:
    """Takes due rows one at a time; woken at once by a new alert, else when the next retry
    is due (at most `idle` seconds apart, to see rows other processes queued)."""

    def __init__(self, store, config, clock=time.time, idle=5.0):
        self.store = store
        self.config = config
        self.clock = clock
        self.idle = idle
        self.name = worker_name()
        self.kinds = config.kinds()
        self.channels = {"mail": config.mail, "sms": config.sms}
        self.wake = threading.Event()
        self.stopping = threading.Event()
        self.thread = None

    def new_message_id(self, kind):
        return self.config.mail.new_message_id() if kind == "mail" and self.config.mail else ""

    def queues(self, kind):
        return kind in self.kinds

    def start(self):
        self.recover()
        self.thread = threading.Thread(target=self.run, name="delivery", daemon=True)
        self.thread.start()

    def stop(self, wait=10.0):
        self.stopping.set()
        self.wake.set()
        if self.thread:
            self.thread.join(wait)

    def recover(self):
        return self.store.release_claims(claim_is_dead(self.name), self.clock() - self.config.retry.lease)

    def run(self):
        while not self.stopping.is_set():
            try:
                if self.deliver_one():
                    continue
                self.recover()
                due = self.store.next_due(self.kinds)
                wait = self.idle if due is None else min(max(due - self.clock(), 0.05), self.idle)
            except Exception as error:  # the store failing now is no reason to stop for good
                sys.stderr.write("delivery: %r\n" % (error,))
                wait = self.idle
            self.wake.wait(wait)
            self.wake.clear()

    def deliver_one(self):
        """Tries one due row; False when none is due."""
        row = self.store.claim_due(self.kinds, self.clock(), self.name)
        if row is None:
            return False
        try:
            answer = self.channels[row["kind"]].send(row)
        except PermanentFailure as error:
            self.store.failed(row["id"], self.name, "failed: %s" % error, self.clock())
        except Exception as error:  # TemporaryFailure, or anything unforeseen: try again later
            detail = str(error) if isinstance(error, TemporaryFailure) else "%s: %s" % (type(error).__name__, error)
            if row["attempts"] >= self.config.retry.attempts:
                self.store.failed(row["id"], self.name, "failed after %d attempts: %s" % (row["attempts"], detail),
                                  self.clock())
            else:
                self.store.retry_later(row["id"], self.name, "attempt %d: %s" % (row["attempts"], detail),
                                       self.clock() + self.config.retry.delay(row["attempts"]))
        else:
            self.store.delivered(row["id"], self.name, answer, self.clock())
        return True
