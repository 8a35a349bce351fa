"""HTML for people: help, questions, sign-in, the remote operation page and the admin page.
Every value shown is escaped; forms that change state carry the session's token."""
import html
import time

# Pages carry no script and load nothing from elsewhere; forms post only to the service.
PAGE_HEADERS = [("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; form-action 'self';"
                 " frame-ancestors 'none'"), ("X-Frame-Options", "DENY")]


def escape(text):
    return html.escape(str(text), quote=True)


def _page(title, body):
    return ("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%s</title></head>"
            "<body><h1>%s</h1>%s</body></html>" % (escape(title), escape(title), body))


def _when(seconds):
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(seconds)) if seconds else "-"


def _message(text, ok):
    return "<p id=\"message\" class=\"%s\">%s</p>" % ("ok" if ok else "error", escape(text)) if text else ""


def _token(token):
    return "<input type=\"hidden\" name=\"token\" value=\"%s\">" % escape(token) if token else ""


def _sign_out(token):
    return ("<form method=\"post\" action=\"/tavrick/admin/logout\">%s<input type=\"submit\" value=\"退出登录\">"
            "</form>" % _token(token)) if token else ""


def home_page():
    return _page("Tavrick 帮助", (
        "<h2 id=\"msg\">短信与邮件提醒</h2><p>在提醒设置中填写邮箱和手机号, 报警经本服务转发。</p>"
        "<h2 id=\"credit\">短信条数与邮件天数</h2><p>每台服务器有自己的短信余额和邮件服务天数。</p>"
        "<h2 id=\"webporocted\">网站保护</h2><p>监视网站目录中新上传的脚本文件。</p>"
        "<p><a href=\"/tavrick/question.html\">常见问题</a> · <a href=\"/tavrick/user/index.jsp\">远程操作</a></p>"))


def question_page():
    return _page("常见问题", "<p>服务器离线提醒: 打开断网提醒后, 心跳停止三分钟以上即发送提醒。</p>")


def sign_in_page(next_path, message):
    return _page("管理员登录", (
        "%s<form method=\"post\" action=\"/tavrick/admin/login\">"
        "<input type=\"hidden\" name=\"next\" value=\"%s\">"
        "<p>管理员密码: <input type=\"password\" name=\"password\" autofocus></p>"
        "<p><input type=\"submit\" value=\"登录\"></p></form>"
        "<p>密码在服务启动时设定(见服务的数据目录中的 admin.password)。</p>" % (_message(message, False),
                                                                escape(next_path))))


def user_page(pending, message, ok, token, typed_mac=""):
    waiting = "".join("<li>%s: %s%s</li>" % (escape(r["mac"]), "重启 " if r["reboot"] else "",
                                            "解除全部屏蔽" if r["release"] else "") for r in pending)
    body = ("%s<form method=\"post\" action=\"/tavrick/user/index.jsp\">%s"
            "<p>服务器标识: <input type=\"text\" name=\"mac\" maxlength=\"64\" value=\"%s\"> "
            "(网卡地址的12位十六进制数字)</p>"
            "<p>远程密码: <input type=\"password\" name=\"password\" maxlength=\"64\"></p>"
            "<p><label><input type=\"checkbox\" name=\"release\" value=\"1\">解除全部屏蔽IP</label> "
            "<label><input type=\"checkbox\" name=\"reboot\" value=\"1\">重启服务器</label></p>"
            "<p><label><input type=\"checkbox\" name=\"replace\" value=\"1\">替换该服务器等待执行的请求</label></p>"
            "<p><input type=\"submit\" value=\"提交\"></p></form><h2>等待执行</h2><ul>%s</ul>%s"
            % (_message(message, ok), _token(token), escape(typed_mac), waiting, _sign_out(token)))
    return _page("远程操作", body)


STATES = {"outbox": "仅存发件箱", "queued": "等待发送", "claimed": "正在发送", "sent": "已发送", "failed": "发送失败"}


def admin_page(machines, outbox, refused, token, delivering=()):
    """delivering: the kinds a relay or gateway sends ("mail", "sms"); the rest is kept only."""
    def table(rows, columns):
        head = "".join("<th>%s</th>" % escape(c) for c in columns)
        lines = "".join("<tr>%s</tr>" % "".join(
            "<td>%s</td>" % escape(_when(r[c]) if c in ("created", "last_seen", "sent_at") else
                                   STATES.get(r[c], r[c]) if c == "state" else r[c]) for c in columns)
            for r in rows)
        return "<table border=\"1\"><tr>%s</tr>%s</table>" % (head, lines)
    account = ("<form method=\"post\" action=\"/tavrick/admin/account\">%s"
               "服务器标识 <input type=\"text\" name=\"mac\" maxlength=\"64\"> 短信条数 <input type=\"text\" name=\"sms\" "
               "size=\"6\"> 邮件天数 <input type=\"text\" name=\"days\" size=\"6\"> <input type=\"submit\" value=\"设置\">"
               "</form>" % _token(token))
    return _page("Tavrick 服务 (替身)", (
        "<p><a href=\"/tavrick/user/index.jsp\">远程操作</a></p>" +
        "<h2>发件箱 (%s)</h2>" % escape("邮件和短信都未真正发送" if not delivering else
                                      "邮件经 SMTP 转发, 短信未真正发送" if list(delivering) == ["mail"] else
                                      "短信经网关发送, 邮件未真正发送" if list(delivering) == ["sms"] else
                                      "邮件经 SMTP 转发, 短信经网关发送") +
        table(outbox, ["id", "kind", "origin", "mac", "recipient", "title", "message", "created", "state",
                       "attempts", "sent_at", "result"]) +
        "<h2>服务器</h2>" + table(machines, ["mac", "version", "phone", "mail", "isdownmsg", "last_seen",
                                              "heartbeats", "sms_count", "mail_days"]) + account +
        "<h2>拒绝的请求</h2>" + table(refused, ["id", "endpoint", "mac", "reason", "created"]) +
        "<p>JSON: <a href=\"outbox.json\">outbox.json</a> <a href=\"machines.json\">machines.json</a> "
        "<a href=\"refused.json\">refused.json</a></p>" + _sign_out(token)))
