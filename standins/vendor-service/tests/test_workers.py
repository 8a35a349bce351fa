"""Several worker processes on one store: what one worker knows the others know (sessions,
failed sign-ins, stamped request keys, remote requests, the upkeep lease), and requests racing
on two real gunicorn workers are counted once."""
import os
import re
import shutil
import subprocess
import tempfile
import threading
import unittest
import urllib.request

from support import KEY, MAC, NOW, PASSWORD, ROOT, Clock, form, gbk_query, new_store_url, store_options
from vendorsvc.service import VendorService
from vendorsvc.store import Store


class SharedStoreTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vendorsvc-workers-")
        self.addCleanup(shutil.rmtree, self.dir)
        url = new_store_url(self, self.dir)
        self.clock = Clock()
        self.a, self.b = (VendorService(Store(url), KEY, clock=self.clock, admin_password=PASSWORD) for _ in range(2))
        for worker in (self.a, self.b):
            self.addCleanup(worker.store.close)

    def test_a_worker_knows_what_another_one_did(self):
        a, b = self.a, self.b
        # A session opened on one worker is good on the other, and ends on both at sign-out.
        answer = a.handle("POST", b"/tavrick/admin/login", form(password=PASSWORD, next="/tavrick/admin/"))
        cookie = {"Cookie": dict(answer.headers)["Set-Cookie"].split(";")[0]}
        page = b.handle("GET", b"/tavrick/admin/", headers=cookie)
        self.assertEqual(200, page.status)
        token = re.search(r'name="token" value="([^"]+)"', page.body.decode()).group(1)
        self.assertEqual(303, b.handle("POST", b"/tavrick/admin/logout", form(token=token), cookie).status)
        self.assertEqual(303, a.handle("GET", b"/tavrick/admin/", headers=cookie).status)
        # Wrong passwords count together: five spread over both, and the sixth try is throttled.
        for i in range(5):
            (a, b)[i % 2].handle("POST", b"/tavrick/admin/login", form(password="guess"))
        self.assertEqual(429, a.handle("POST", b"/tavrick/admin/login", form(password=PASSWORD)).status)
        self.clock.t = NOW + 61
        # A stamped request taken by one worker is a replay on the other.
        query = b"?" + gbk_query(stamp=KEY.encode(str(self.clock.t)), mac=MAC)
        self.assertEqual(b"100", a.handle("GET", b"/tavrick/getmsgcount.jsp" + query).body)
        self.assertEqual(b"refused: replayed", b.handle("GET", b"/tavrick/getmsgcount.jsp" + query).body)
        # A remote request is handed once, whichever worker the polls reach.
        a.handle("GET", b"/tavrick/heartaction.do?" + gbk_query(stamp=KEY.encode(str(self.clock.t)), rad="1", mac=MAC,
                                                                 v="2.30", phone="", mail="", isdownmsg="0"))
        self.assertEqual("stored", b.store.put_remote_request(MAC, True, False, "pw", self.clock.t, False))
        self.assertEqual("pending", a.store.put_remote_request(MAC, False, True, "pw2", self.clock.t, False))
        self.assertEqual(b"1,0,pw", b.handle("GET", b"/tavrick/user/code.jsp?mac=" + MAC.encode()).body)
        self.assertEqual(b"", a.handle("GET", b"/tavrick/user/code.jsp?mac=" + MAC.encode()).body)
        # One worker holds the upkeep lease until it stops renewing it.
        self.assertTrue(a.store.take_lease("upkeep", "A", NOW, 30))
        self.assertFalse(b.store.take_lease("upkeep", "B", NOW + 29, 30))
        self.assertTrue(a.store.take_lease("upkeep", "A", NOW + 29, 30))
        self.assertFalse(b.store.take_lease("upkeep", "B", NOW + 58, 30))
        self.assertTrue(b.store.take_lease("upkeep", "B", NOW + 60, 30))
        self.assertFalse(a.store.take_lease("upkeep", "A", NOW + 61, 30))


class PoolTest(unittest.TestCase):
    def test_more_threads_than_store_connections_wait_for_one(self):
        folder = tempfile.mkdtemp(prefix="vendorsvc-pool-")
        self.addCleanup(shutil.rmtree, folder)
        store = Store(new_store_url(self, folder), pool_size=2)
        self.addCleanup(store.close)
        errors = []

        def machine(i):
            try:
                for t in range(10):
                    store.heartbeat("M%d" % i, str(t), "2.30", "", "", 0, NOW + t)
                    store.figures("M%d" % i, NOW)
            except Exception as error:
                errors.append(repr(error))
        threads = [threading.Thread(target=machine, args=(i,)) for i in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(60)
        self.assertEqual([], errors)
        self.assertEqual(80, len(store.heartbeat_log()))


class RacingRequestsTest(unittest.TestCase):
    def test_on_two_worker_processes_a_replay_is_taken_once_and_the_sms_balance_is_never_overspent(self):
        data = tempfile.mkdtemp(prefix="vendorsvc-race-")
        self.addCleanup(shutil.rmtree, data)
        script = os.path.join(ROOT, "run.sh")
        port = int(subprocess.run(["bash", script, "start", data, "0", "--workers", "2", "--admin-password", PASSWORD]
                                  + store_options(self, data), check=True, capture_output=True, text=True,
                                  timeout=30).stdout)
        self.addCleanup(subprocess.run, ["bash", script, "stop", data], timeout=30)
        base = "http://127.0.0.1:%d/tavrick/" % port

        def get(path):
            try:
                with urllib.request.urlopen(base + path, timeout=20) as answer:
                    return answer.read()
            except urllib.error.HTTPError as error:
                return error.read()

        def race(paths):
            answers = [None] * len(paths)
            start = threading.Barrier(len(paths))

            def one(i):
                start.wait()
                answers[i] = get(paths[i])
            threads = [threading.Thread(target=one, args=(i,)) for i in range(len(paths))]
            for t in threads:
                t.start()
            for t in threads:
                t.join(60)
            return answers

        request = urllib.request.Request(base + "admin/account", form(mac=MAC, sms="5"),
                                         {"Authorization": "Bearer " + PASSWORD})
        self.assertEqual(b"5,365", urllib.request.urlopen(request, timeout=20).read())
        now = int(get("timestamp.jsp"))
        stamp = KEY.encode(str(now))
        same = "sendemil.do?" + gbk_query(stamp=stamp, toemil="ops@example.com", title="t", message="m",
                                          mac=MAC).decode("gbk")
        answers = race([same] * 24)
        self.assertEqual((1, 23), (answers.count(b"ok"), answers.count(b"refused: replayed")))
        sms = ["sendmsg.do?" + gbk_query(stamp=stamp, phone="13800138000", message="CPU%d" % i, mac=MAC).decode("gbk")
               for i in range(24)]
        answers = race(sms)
        self.assertEqual((5, 19), (answers.count(b"ok"), answers.count(b"refused: no sms balance")), answers)
        request = urllib.request.Request(base + "admin/account", form(mac=MAC),
                                         {"Authorization": "Bearer " + PASSWORD})
        self.assertEqual(b"0,365", urllib.request.urlopen(request, timeout=20).read())


if __name__ == "__main__":
    unittest.main()
