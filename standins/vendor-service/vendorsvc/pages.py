"""Pages for people: help, questions, the remote operation page and the outbox."""
import time

from .service import escape


def _page(title, body):
    return ("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%s</title></head>"
            "<body><h1>%s</h1>%s</body></html>" % (escape(title), escape(title), body))


def _when(seconds):
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(seconds)) if seconds else "-"


def home_page():
    return _page("Tavrick 帮助", (
        "<h2 id=\"msg\">短信与邮件提醒</h2><p>在提醒设置中填写邮箱和手机号, 报警经本服务转发。</p>"
        "<h2 id=\"credit\">短信条数与邮件天数</h2><p>每台服务器有自己的短信余额和邮件服务天数。</p>"
        "<h2 id=\"webporocted\">网站保护</h2><p>监视网站目录中新上传的脚本文件。</p>"
        "<p><a href=\"/tavrick/question.html\">常见问题</a> · <a href=\"/tavrick/user/index.jsp\">远程操作</a></p>"))


def question_page():
    return _page("常见问题", "<p>服务器离线提醒: 打开断网提醒后, 心跳停止三分钟以上即发送提醒。</p>")


def user_page(machines, pending, message):
    options = "".join("<option value=\"%s\">%s (%s)</option>" % (escape(m["mac"]), escape(m["mac"]),
                                                                 escape(m["version"])) for m in machines)
    waiting = "".join("<li>%s: %s%s</li>" % (escape(r["mac"]), "重启 " if r["reboot"] else "",
                                            "解除全部屏蔽" if r["release"] else "") for r in pending)
    body = ("<p>%s</p><form method=\"post\" action=\"/tavrick/user/index.jsp\">"
            "<input type=\"hidden\" name=\"submit\" value=\"1\">"
            "<p>服务器: <select name=\"mac\">%s</select></p>"
            "<p>远程密码: <input type=\"password\" name=\"password\"></p>"
            "<p><label><input type=\"checkbox\" name=\"release\" value=\"1\">解除全部屏蔽IP</label> "
            "<label><input type=\"checkbox\" name=\"reboot\" value=\"1\">重启服务器</label></p>"
            "<p><input type=\"submit\" value=\"提交\"></p></form><h2>等待执行</h2><ul>%s</ul>"
            % (escape(message), options, waiting))
    return _page("远程操作", body)


def admin_page(machines, outbox, refused):
    def table(rows, columns):
        head = "".join("<th>%s</th>" % escape(c) for c in columns)
        lines = "".join("<tr>%s</tr>" % "".join(
            "<td>%s</td>" % escape(_when(r[c]) if c in ("created", "last_seen") else r[c]) for c in columns)
            for r in rows)
        return "<table border=\"1\"><tr>%s</tr>%s</table>" % (head, lines)
    return _page("Tavrick 服务 (替身)", (
        "<h2>发件箱 (未真正发送)</h2>" + table(outbox, ["id", "kind", "origin", "mac", "recipient", "title",
                                                       "message", "created"]) +
        "<h2>服务器</h2>" + table(machines, ["mac", "version", "phone", "mail", "isdownmsg", "last_seen",
                                              "sms_count", "mail_days"]) +
        "<h2>拒绝的请求</h2>" + table(refused, ["id", "endpoint", "mac", "reason", "created"]) +
        "<p>JSON: <a href=\"outbox.json\">outbox.json</a> <a href=\"machines.json\">machines.json</a> "
        "<a href=\"refused.json\">refused.json</a></p>"))
