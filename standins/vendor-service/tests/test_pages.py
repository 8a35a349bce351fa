"""The pages for people: sign-in, the remote operation page and its round trip to the
program's poll, the operator's pages."""
import io
import re
import unittest
from unittest import mock

from support import BEARER, MAC, NOW, PASSWORD, ServiceCase, form

USER_PAGE = b"/tavrick/user/index.jsp"


class SignedInCase(ServiceCase):
    def sign_in(self, password=PASSWORD, next_path="/tavrick/user/index.jsp"):
        return self.service.handle("POST", b"/tavrick/admin/login", form(password=password, next=next_path))

    def browser(self):
        """Signs in like a browser: the cookie header and the page's form token."""
        answer = self.sign_in()
        cookie = dict(answer.headers)["Set-Cookie"].split(";")[0]
        page = self.service.handle("GET", USER_PAGE, headers={"Cookie": cookie}).body.decode()
        return {"Cookie": cookie}, re.search(r'name="token" value="([^"]+)"', page).group(1)

    def submit(self, headers=BEARER, **fields):
        answer = self.service.handle("POST", USER_PAGE, form(**fields), headers)
        return answer.status, answer.body.decode()


class SignInTest(SignedInCase):
    def test_pages_and_listings_need_the_administrator_and_changes_need_post_with_the_token(self):
        self.beat()
        for page in (USER_PAGE, b"/tavrick/admin/"):
            answer = self.service.handle("GET", page)
            self.assertEqual((303, "/tavrick/admin/login?next=" + page.decode()),
                             (answer.status, dict(answer.headers)["Location"]))
        for listing in (b"/tavrick/admin/outbox.json", b"/tavrick/admin/machines.json", b"/tavrick/admin/refused.json"):
            self.assertEqual(401, self.service.handle("GET", listing).status)
            self.assertEqual(401, self.service.handle("GET", listing, headers={"Authorization": "Bearer no"}).status)
        self.assertEqual(401, self.service.handle("POST", b"/tavrick/admin/account", form(mac=MAC, sms="1")).status)
        self.assertEqual(405, self.service.handle("GET", b"/tavrick/admin/account?mac=%s&sms=1" % MAC.encode()).status)
        self.assertEqual(100, self.store.figures(MAC, NOW)[0])

        wrong = self.sign_in("guess")
        self.assertEqual(401, wrong.status)
        self.assertIn("密码不对", wrong.body.decode())
        right = self.sign_in()
        self.assertEqual((303, "/tavrick/user/index.jsp"), (right.status, dict(right.headers)["Location"]))
        self.assertIn("HttpOnly; SameSite=Strict", dict(right.headers)["Set-Cookie"])
        self.assertEqual("/tavrick/admin/", dict(self.sign_in(next_path="http://evil.example/").headers)["Location"])

        cookie, token = self.browser()
        page = self.service.handle("GET", USER_PAGE, headers=cookie).body.decode()
        self.assertNotIn(MAC, page)  # machine ids are typed, never listed
        self.assertNotIn("<select", page)
        self.assertIn(MAC, self.service.handle("GET", b"/tavrick/admin/", headers=cookie).body.decode())
        # A GET never changes anything; a POST needs the token of the session.
        self.service.handle("GET", USER_PAGE + b"?mac=%s&password=secret&release=1" % MAC.encode(), headers=cookie)
        self.assertEqual(403, self.submit(cookie, mac=MAC, password="secret", release="1")[0])
        self.assertEqual(403, self.submit(cookie, mac=MAC, password="secret", release="1", token="x" + token)[0])
        self.assertEqual([], self.store.pending_remote())
        self.assertEqual(200, self.submit(cookie, mac=MAC, password="secret", release="1", token=token)[0])
        self.assertEqual(303, self.service.handle("POST", b"/tavrick/admin/account", form(mac=MAC, sms="7", token=token),
                                                  cookie).status)
        self.assertEqual(7, self.store.figures(MAC, NOW)[0])
        # Signed out, the cookie opens nothing.
        self.assertEqual(303, self.service.handle("POST", b"/tavrick/admin/logout", form(token=token), cookie).status)
        self.assertEqual(303, self.service.handle("GET", USER_PAGE, headers=cookie).status)

    def test_failed_sign_ins_are_throttled(self):
        for _ in range(5):
            self.assertEqual(401, self.sign_in("guess").status)
        self.assertEqual(429, self.sign_in().status)
        self.assertEqual(429, self.service.handle("GET", b"/tavrick/admin/outbox.json", headers=BEARER).status)
        self.clock.t = NOW + 61
        self.assertEqual(303, self.sign_in().status)


class RemotePageTest(SignedInCase):
    def poll(self, client="10.0.0.5", mac=MAC):
        return self.call("/tavrick/user/code.jsp", client, mac=mac + "\n", rad=str(NOW)).body.decode("gbk")

    def test_request_typed_on_the_page_reaches_only_its_machine_once(self):
        self.beat(client="10.0.0.5")
        status, page = self.submit(mac=MAC.lower(), password=" 密码abc ", reboot="1", release="1")
        self.assertEqual(200, status)
        self.assertIn('class="ok">已提交', page)
        self.assertNotIn("还没有收到该服务器的心跳", page)
        self.assertEqual("", self.poll(mac="OTHER"))
        self.assertEqual("", self.poll(client="10.9.9.9"))  # not from the machine's address: kept
        self.assertEqual("1,1, 密码abc ", self.poll())
        self.assertEqual("", self.poll())

    def test_page_refuses_what_the_program_cannot_take_and_keeps_a_pending_request(self):
        refusals = [(dict(mac=MAC, password="a,b", release="1"), "逗号"),
                    (dict(mac=MAC, password="secret"), "至少一项"),
                    (dict(mac=MAC, password="  ", release="1"), "请输入远程密码"),
                    (dict(mac=MAC, password="x" * 65, release="1"), "太长"),
                    (dict(mac=MAC, password="密码😀", release="1"), "GBK"),
                    (dict(mac="<b>", password="secret", release="1"), "服务器标识"),
                    (dict(password="secret", release="1"), "服务器标识")]
        for fields, message in refusals:
            status, page = self.submit(**fields)
            self.assertEqual(400, status, fields)
            self.assertIn(message, page, fields)
            if fields.get("mac") == "<b>":
                self.assertIn('value="&lt;b&gt;"', page)  # typed id shown back, escaped
                self.assertNotIn("<b>", page)
        self.assertEqual([], self.store.pending_remote())

        status, page = self.submit(mac="NEW1", password="secret", release="1")
        self.assertIn("还没有收到该服务器的心跳", page)
        status, page = self.submit(mac="NEW1", password="secret2", reboot="1")
        self.assertEqual(409, status)
        self.assertIn("已有等待执行的请求", page)
        status, page = self.submit(mac="NEW1", password="secret2", reboot="1", replace="1")
        self.assertIn("已替换", page)
        self.beat(mac="NEW1", client="10.0.0.6")
        self.assertEqual("1,0,secret2", self.poll(client="10.0.0.6", mac="NEW1"))

    def test_poll_answer_is_built_before_the_request_is_deleted(self):
        self.beat(client="10.0.0.5")
        self.store.put_remote_request(MAC, True, False, "密码😀", NOW, replace=False)  # as an older service stored it
        with mock.patch("sys.stderr", new_callable=io.StringIO) as log:
            answer = self.call("/tavrick/user/code.jsp", "10.0.0.5", mac=MAC, rad="1")
        self.assertEqual((500, b"internal error"), (answer.status, answer.body))
        self.assertIn("UnicodeEncodeError", log.getvalue())
        self.assertEqual([MAC], [r["mac"] for r in self.store.pending_remote()])


if __name__ == "__main__":
    unittest.main()
