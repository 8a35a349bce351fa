"""The remote operation page: a signed-in administrator types a machine id and the remote
password and asks for release-all and/or reboot; the program fetches the request with its
next poll (user/code.jsp, in program.py)."""
from . import pages
from .admin import html, typed_machine_id

PASSWORD_MAX = 64


def password_problem(password):
    """Why the password cannot go to the program, or "". The answer is comma-separated GBK text."""
    if not password.strip():
        return "请输入远程密码。"
    if "," in password:
        return "远程密码不能含有逗号。"
    if len(password) > PASSWORD_MAX:
        return "远程密码太长(最多%d个字符)。" % PASSWORD_MAX
    try:
        password.encode("gbk")
    except UnicodeEncodeError:
        return "远程密码含有GBK无法表示的字符, 服务器上的程序无法核对它; 请只用汉字、字母、数字和常用符号。"
    return ""


class RemotePage:
    def __init__(self, service):
        self.service = service
        self.store = service.store
        self.auth = service.auth

    def routes(self):
        return {"/tavrick/user/index.jsp": {"GET": self.show, "POST": self.submit}}

    def _page(self, access, message="", ok=False, typed_mac="", status=200):
        token = access.session.token if access.session else ""
        return html(pages.user_page(self.store.pending_remote(), message, ok, token, typed_mac), status)

    def show(self, r):
        return self._page(self.auth.access(r, page=True))

    def submit(self, r):
        access = self.auth.change(r)
        form = r.form()
        typed = form.get("mac", "")
        mac = typed_machine_id(typed)
        password = form.get("password", "")
        reboot, release = form.get("reboot") == "1", form.get("release") == "1"
        if mac is None:
            problem = "请输入服务器标识(字母、数字或 -, 最多64个字符)。"
        elif password_problem(password):
            problem = password_problem(password)
        elif not (reboot or release):
            problem = "请选择至少一项操作。"
        else:
            problem = ""
        if problem:
            return self._page(access, problem, False, typed[:64], 400)
        outcome = self.store.put_remote_request(mac, reboot, release, password, self.service.now(),
                                                replace=form.get("replace") == "1")
        if outcome == "pending":
            return self._page(access, "该服务器已有等待执行的请求; 要替换它, 请勾选“替换该服务器等待执行的请求”后再提交。",
                              False, mac, 409)
        message = ("已替换等待执行的请求: " if outcome == "replaced" else "已提交: ") + \
            "服务器将在下次查询时(约两到四分钟内)执行。"
        if not self.store.has_machine(mac):
            message += " 注意: 还没有收到该服务器的心跳, 请核对服务器标识; 服务器发出心跳后才会取到请求。"
        return self._page(access, message, True)
