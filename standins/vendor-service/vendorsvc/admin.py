"""The operator's pages behind the sign-in: sign-in and sign-out, the outbox, machines and
refused requests (HTML and JSON), and the figures of a machine."""
import json
import re

from . import pages
from .auth import AdminAuth, redirect_after_sign_in
from .web import HTML, TEXT, HttpError, Response, redirect

# Pages a sign-in may return to.
SIGNED_IN_PAGES = ("/tavrick/admin/", "/tavrick/admin/index.html", "/tavrick/user/index.jsp")
MACHINE_ID = re.compile(r"[0-9A-Z._:-]{1,64}")
FIGURE_MAX = 1000000


def typed_machine_id(text):
    """A machine id as a person types it: the program's ids are upper-case hexadecimal or
    decimal, so case is ignored; None when it cannot be an id."""
    mac = text.strip().upper()
    return mac if MACHINE_ID.fullmatch(mac) else None


def html(body, status=200, headers=()):
    return Response(body, HTML, status, pages.PAGE_HEADERS + list(headers))


class AdminPages:
    def __init__(self, service):
        self.service = service
        self.store = service.store
        self.auth = service.auth

    def routes(self):
        return {
            "/tavrick/admin/login": {"GET": self.sign_in_page, "POST": self.sign_in},
            "/tavrick/admin/logout": {"POST": self.sign_out},
            "/tavrick/admin/": {"GET": self.admin_page},
            "/tavrick/admin/index.html": {"GET": self.admin_page},
            "/tavrick/admin/outbox.json": {"GET": lambda r: self._json(r, self.store.outbox())},
            "/tavrick/admin/refused.json": {"GET": lambda r: self._json(r, self.store.refused_requests())},
            "/tavrick/admin/machines.json": {"GET": lambda r: self._json(r, self.store.machines())},
            "/tavrick/admin/account": {"POST": self.set_account},
        }

    # --- sign-in -------------------------------------------------------------------------
    def sign_in_page(self, r):
        return html(pages.sign_in_page(r.param("next"), ""))

    def sign_in(self, r):
        form = r.form()
        try:
            session = self.auth.sign_in(form.get("password", ""))
        except HttpError as refusal:
            return html(pages.sign_in_page(form.get("next", ""), "登录失败次数太多, 请一分钟后再试。"), refusal.status)
        if session is None:
            return html(pages.sign_in_page(form.get("next", ""), "密码不对。"), 401)
        return redirect_after_sign_in(form.get("next", ""), SIGNED_IN_PAGES, [self.auth.cookie(session)])

    def sign_out(self, r):
        access = self.auth.change(r)
        if access.session is not None:
            self.auth.sign_out(access.session)
        return redirect("/tavrick/admin/login", [AdminAuth.expired_cookie()])

    # --- listings ------------------------------------------------------------------------
    def admin_page(self, r):
        access = self.auth.access(r, page=True)
        token = access.session.token if access.session else ""
        delivering = self.service.delivery.kinds if self.service.delivery else ()
        return html(pages.admin_page(self.store.machines(), self.store.outbox(), self.store.refused_requests(), token,
                                     delivering))

    def _json(self, r, rows):
        self.auth.access(r, page=False)
        text = json.dumps(rows, ensure_ascii=False)
        if r.param("charset") == "gbk":
            return Response(text.encode("gbk", "replace"), "application/json; charset=gbk")
        return Response(text.encode("utf-8"), "application/json; charset=utf-8")

    # --- figures -------------------------------------------------------------------------
    def set_account(self, r):
        """POST mac, sms and/or days: sets the machine's figures; answers "sms,days"
        (a browser goes back to the admin page)."""
        access = self.auth.change(r, page=False)
        form = r.form()
        mac = typed_machine_id(form.get("mac", ""))
        if mac is None:
            raise HttpError(400, "mac missing or not a machine id")

        def figure(name):
            text = form.get(name, "").strip()
            if not text:
                return None
            if not text.isdigit() or not text.isascii() or int(text) > FIGURE_MAX:
                raise HttpError(400, "%s must be a whole number from 0 to %d" % (name, FIGURE_MAX))
            return int(text)
        sms, days = figure("sms"), figure("days")
        now = self.service.now()
        self.store.set_figures(mac, now, sms, days)
        if access.session is not None:
            return redirect("/tavrick/admin/")
        return Response("%d,%d" % self.store.figures(mac, now), TEXT)
