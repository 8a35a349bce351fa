"""What the program asks of the service: stamps (fresh, once), relay into the outbox,
figures, heartbeats with the offline alert, and the upkeep of old records."""
import hashlib
import json
import os
import sqlite3
import unittest

from support import BEARER, KEY, MAC, NOW, ON_POSTGRES, ServiceCase, gbk_query
from vendorsvc.store import Store
from vendorsvc.service import STAMP_WINDOW, VendorService
from vendorsvc.stamp import StampRefused, verify


class StampTest(ServiceCase):
    def test_stamp_proves_freshness_not_identity(self):
        self.assertEqual(NOW, verify(KEY, KEY.encode(str(NOW)), NOW + STAMP_WINDOW, STAMP_WINDOW))
        # The program's own computation (tests/unit/stamp_test.cpp uses the same vector).
        self.assertEqual("b12234ec1400c5f757d38767c4ea33dcb48bf5bf51071387621f2d3d9c8cd", KEY.encode("1700000000"))
        # Anyone holding the program's public half can stamp any request for any machine.
        anyone = format(pow(int.from_bytes(str(NOW).encode(), "big"), KEY.e, KEY.n), "x")
        self.assertEqual(200, self.call("/tavrick/getmsgcount.jsp", stamp=anyone, mac="SOMEONE-ELSE").status)
        # What is refused: no stamp, a malformed one, or a time outside the window.
        cases = [("", "missing"), ("xyz", "malformed"), ("deadbeef", "malformed"), (format(KEY.n, "x"), "malformed"),
                 (KEY.encode("17000abc"), "malformed"), ("f" * 200, "malformed"),
                 (KEY.encode(str(NOW - STAMP_WINDOW - 1)), "stale"), (KEY.encode(str(NOW + 3)), "stale")]
        for stamp, reason in cases:
            with self.assertRaises(StampRefused, msg=stamp) as caught:
                verify(KEY, stamp, NOW, STAMP_WINDOW)
            self.assertEqual(reason, caught.exception.reason, stamp)

    def test_identical_request_is_accepted_once_but_different_alerts_with_one_stamp_pass(self):
        stamp = self.stamp()
        mail = dict(stamp=stamp, toemil="ops@example.com", title="t", message="CPU高", mac=MAC + "\n")
        self.assertEqual(200, self.call("/tavrick/sendemil.do", **mail).status)
        replays = [mail, dict(mail, mac=MAC), dict(mail, stamp=stamp.upper()), dict(mail, stamp="0" + stamp),
                   dict(mail, x="1")]
        for replay in replays:
            answer = self.call("/tavrick/sendemil.do", **replay)
            self.assertEqual((403, b"refused: replayed"), (answer.status, answer.body), replay)
        extra = self.service.handle("GET", b"/tavrick/sendemil.do?" + gbk_query(**mail) + b"&message=x")
        self.assertEqual(403, extra.status)  # a later duplicate parameter does not count
        # Same second, other alert or other endpoint: both pass, nothing is lost.
        self.assertEqual(200, self.call("/tavrick/sendemil.do", **dict(mail, message="内存高")).status)
        self.assertEqual(200, self.call("/tavrick/sendmsg.do", stamp=stamp, phone="1", message="t_CPU高",
                                        mac=MAC).status)
        self.assertEqual(["CPU高", "内存高", "t_CPU高"], [r["message"] for r in self.store.outbox()])
        # Figures and heartbeats too; a replayed figure reads as no figure in the program.
        self.assertEqual("99", self.get("/tavrick/getmsgcount.jsp", stamp=stamp, mac=MAC))
        self.assertEqual("refused: replayed", self.get("/tavrick/getmsgcount.jsp", stamp=stamp, mac=MAC))
        self.assertEqual(200, self.beat().status)
        self.assertEqual(403, self.beat().status)
        # The keys outlive a restart of the service.
        again = VendorService(self.store, KEY, clock=self.clock, admin_password="x")
        self.assertEqual(403, again.handle("GET", b"/tavrick/getmsgcount.jsp?stamp=%s&mac=%s"
                                           % (stamp.encode(), MAC.encode())).status)
        # Upkeep drops keys once their stamps are stale anyway.
        self.clock.t = NOW + STAMP_WINDOW + 1
        self.service.upkeep()
        self.assertEqual("refused: stale", self.get("/tavrick/getmsgcount.jsp", stamp=stamp, mac=MAC))
        self.assertEqual(0, self.store._rows("SELECT COUNT(*) AS n FROM seen_requests")[0]["n"])


class RelayTest(ServiceCase):
    def test_mail_and_sms_land_in_the_outbox_with_gbk_text_intact(self):
        title = "10.0.0.5Tavrick提醒您!"
        self.assertEqual("ok", self.get("/tavrick/sendemil.do", stamp=self.stamp(), toemil="ops@example.com",
                                        title=title, message="发现可疑文件 a&b=1 100%", mac=MAC + "\n"))
        self.assertEqual("ok", self.get("/tavrick/sendmsg.do", stamp=self.stamp(), phone="13800138000",
                                        message=title + "_CPU高", mac=MAC + "\n"))
        rows = self.store.outbox()
        self.assertEqual(["mail", "sms"], [r["kind"] for r in rows])
        self.assertEqual(("ops@example.com", title, "发现可疑文件 a&b=1 100%", MAC),
                         (rows[0]["recipient"], rows[0]["title"], rows[0]["message"], rows[0]["mac"]))
        self.assertEqual(("13800138000", title + "_CPU高"), (rows[1]["recipient"], rows[1]["message"]))
        self.assertEqual(99, self.store.figures(MAC, NOW)[0])  # one SMS spent
        gbk = self.service.handle("GET", b"/tavrick/admin/outbox.json?charset=gbk", headers=BEARER).body
        self.assertIn("发现可疑文件".encode("gbk"), gbk)
        self.assertEqual(2, len(json.loads(gbk.decode("gbk"))))

    def test_refused_stamps_send_nothing_and_are_recorded(self):
        self.assertEqual("refused: malformed", self.get("/tavrick/sendemil.do", stamp="12ab", toemil="a@b.c",
                                                        title="t", message="m", mac=MAC))
        self.assertEqual("refused: stale", self.get("/tavrick/sendmsg.do", stamp=self.stamp(NOW - 1000), phone="1",
                                                    message="m", mac=MAC))
        answer = self.call("/tavrick/heartaction.do", mac=MAC, rad=str(NOW))
        self.assertEqual((403, b"refused: missing"), (answer.status, answer.body))
        self.assertEqual([], self.store.outbox())
        self.assertEqual([("sendemil.do", "malformed"), ("sendmsg.do", "stale"), ("heartaction.do", "missing")],
                         [(r["endpoint"], r["reason"]) for r in self.store.refused_requests()])
        self.assertEqual([], self.store.heartbeat_log())

    def test_sms_stops_when_the_balance_is_used_up(self):
        self.store.set_figures(MAC, NOW, sms=1)
        self.assertEqual("ok", self.get("/tavrick/sendmsg.do", stamp=self.stamp(), phone="1", message="a", mac=MAC))
        self.assertEqual("refused: no sms balance", self.get("/tavrick/sendmsg.do", stamp=self.stamp(), phone="1",
                                                             message="b", mac=MAC))
        self.assertEqual(["a"], [r["message"] for r in self.store.outbox()])
        self.assertEqual("no sms balance", self.store.refused_requests()[-1]["reason"])


class FigureTest(ServiceCase):
    def test_figures_per_machine_need_a_stamp(self):
        self.assertEqual(b"12,30", self.admin("/tavrick/admin/account", mac=MAC, sms="12", days="30").body)
        self.assertEqual("12", self.get("/tavrick/getmsgcount.jsp", stamp=self.stamp(), mac=MAC + "\n"))
        self.assertEqual("30", self.get("/tavrick/getmailday.jsp", stamp=self.stamp(), mac=MAC + "\n"))
        self.assertEqual("100", self.get("/tavrick/getmsgcount.jsp", stamp=self.stamp(), mac="OTHER"))
        self.assertEqual("refused: malformed", self.get("/tavrick/getmsgcount.jsp", stamp="0", mac=MAC))
        self.assertEqual(b"5,30", self.admin("/tavrick/admin/account", mac=MAC.lower(), sms="5").body)

    def test_time_stamp_and_lists(self):
        self.assertEqual(str(NOW), self.get("/tavrick/timestamp.jsp", rad="1"))
        self.assertEqual(str(NOW), self.get("/tavrick/timestamp.jsp"))
        items = self.get("/tavrick/mysoft.jsp").split(",")
        self.assertEqual(0, len(items) % 2)
        self.assertTrue(all(link.startswith("http://127.0.0.1/tavrick/") for link in items[1::2]))
        self.assertEqual("2.30", self.get("/tavrick/version.txt"))
        self.assertIn('id="credit"', self.service.handle("GET", b"/tavrick/index.jsp").body.decode())
        self.assertEqual(404, self.service.handle("GET", b"/tavrick/nothing").status)
        self.assertEqual(404, self.service.handle("GET", b"/tavrick/newsoft/x86/../vendor.sqlite3").status)
        self.assertEqual(405, self.service.handle("POST", b"/tavrick/timestamp.jsp").status)


class HeartbeatTest(ServiceCase):
    def test_heartbeat_is_recorded_per_machine(self):
        self.assertEqual(b"ok", self.beat(client="10.0.0.5").body)
        machine = self.store.machines()[0]
        self.assertEqual((MAC, "2.30", "13800138000", "ops@example.com", 1, NOW, 1),
                         (machine["mac"], machine["version"], machine["phone"], machine["mail"],
                          machine["isdownmsg"], machine["last_seen"], machine["heartbeats"]))
        self.assertEqual("10.0.0.5", self.store._rows("SELECT address FROM machines")[0]["address"])

    def test_offline_alert_once_when_heartbeats_stop_with_the_switch_on(self):
        self.beat(isdownmsg="1")
        self.beat(mac="QUIET", isdownmsg="0")
        self.clock.t = NOW + 180
        self.assertEqual(0, self.service.sweep_offline())  # not yet past the limit
        self.clock.t = NOW + 181
        self.assertEqual(2, self.service.sweep_offline())
        rows = self.store.outbox()
        self.assertEqual([("mail", "offline", "ops@example.com"), ("sms", "offline", "13800138000")],
                         [(r["kind"], r["origin"], r["recipient"]) for r in rows])
        self.assertIn(MAC, rows[0]["message"])
        self.clock.t = NOW + 900
        self.assertEqual(0, self.service.sweep_offline())  # once per silence
        self.beat(isdownmsg="1")  # back again: the next silence alerts again
        self.clock.t += 200
        self.assertEqual(2, self.service.sweep_offline())

    def test_sweep_leaves_a_machine_alone_when_a_heartbeat_arrives_while_it_looks(self):
        self.beat()
        self.clock.t = NOW + 200
        listed = self.store.offline_machines

        def heartbeat_comes_in_meanwhile(now, after):
            rows = listed(now, after)
            self.beat()
            return rows
        self.store.offline_machines = heartbeat_comes_in_meanwhile
        self.assertEqual(0, self.service.sweep_offline())
        del self.store.offline_machines
        self.assertEqual([], self.store.outbox())
        self.clock.t = NOW + 200 + 181  # not marked alerted: the next silence alerts
        self.assertEqual(2, self.service.sweep_offline())

    def test_old_heartbeats_are_pruned_and_the_listing_counts_per_machine(self):
        for t in (NOW, NOW + 60, NOW + 86400 + 120):
            self.clock.t = t
            self.beat()
            self.beat(mac="OTHER")
        self.service.upkeep()
        self.assertEqual([NOW + 86400 + 120] * 2, [h["created"] for h in self.store.heartbeat_log()])
        self.assertEqual([("00155D012A0B", 1), ("OTHER", 1)],
                         [(m["mac"], m["heartbeats"]) for m in self.store.machines()])
        listing = json.loads(self.service.handle("GET", b"/tavrick/admin/machines.json", headers=BEARER).body)
        self.assertEqual([1, 1], [m["heartbeats"] for m in listing])


if __name__ == "__main__":
    unittest.main()


class MigrationTest(ServiceCase):
    def test_the_schema_comes_from_numbered_steps_an_old_file_is_brought_up_to_date_and_a_newer_one_refused(self):
        self.assertEqual([1, 2, 3], [r["version"] for r in self.store._rows("SELECT version FROM schema_version"
                                                                             " ORDER BY version")])
        if not ON_POSTGRES:
            # A data folder of the first release, with one column added later already there.
            path = os.path.join(self.dir, "old.sqlite3")
            db = sqlite3.connect(path)
            db.executescript("CREATE TABLE machines (mac TEXT PRIMARY KEY, version TEXT DEFAULT '', phone TEXT"
                             " DEFAULT '', mail TEXT DEFAULT '', isdownmsg INTEGER DEFAULT 0, last_seen INTEGER"
                             " DEFAULT 0, offline_alerted INTEGER DEFAULT 0, sms_count INTEGER NOT NULL, mail_days"
                             " INTEGER NOT NULL, first_seen INTEGER NOT NULL);"
                             "CREATE TABLE outbox (id INTEGER PRIMARY KEY, kind TEXT, origin TEXT, mac TEXT,"
                             " recipient TEXT, title TEXT, message TEXT, created INTEGER, state TEXT DEFAULT 'outbox');"
                             "CREATE TABLE softlist (pos INTEGER PRIMARY KEY, text TEXT, link TEXT);"
                             "INSERT INTO softlist(text, link) VALUES ('mine', '/x');"
                             "INSERT INTO machines VALUES ('M1', '2.1', '', '', 0, 5, 0, 7, 30, 1);"
                             "INSERT INTO outbox(kind, mac, recipient, message, created) VALUES ('mail', 'M1', 'a@b', 'old', 1)")
            db.close()
            old = Store(path)
            try:
                self.assertEqual(3, old.schema_version())
                self.assertEqual([("mail", "outbox", 0, "")], [(r["kind"], r["state"], r["attempts"], r["claimed_by"])
                                                                for r in old.outbox()])
                self.assertEqual((7, 30), old.figures("M1", NOW))
                self.assertEqual([{"text": "mine", "link": "/x"}], old.softlist())
                self.assertEqual(2, old.relay("sms", "M1", "1", "", "m", NOW, queue=True))  # queued: the new columns
            finally:
                old.close()
        with self.store._tx():
            self.store._run("INSERT INTO schema_version(version, applied) VALUES (4, 'a later service')")
        with self.assertRaisesRegex(RuntimeError, "newer than this service"):
            Store(self.store.url).close()


class UpdatesTest(ServiceCase):
    def test_published_builds_list_version_size_and_digest_per_width(self):
        newsoft = os.path.join(self.dir, "newsoft")
        self.service.newsoft_dir = newsoft
        for arch, program in (("x86", b"MZ32" * 1000), ("x64", b"MZ64" * 999)):
            os.makedirs(os.path.join(newsoft, arch))
            with open(os.path.join(newsoft, arch, "tavrick.exe"), "wb") as f:
                f.write(program)
        self.assertEqual("2.30", self.get("/tavrick/version.txt"))  # nothing published yet
        self.assertEqual(401, self.admin("/tavrick/admin/publish", headers={}, arch="x64", version="2.40").status)

        answer = self.admin("/tavrick/admin/publish", arch="x86", version="2.40,a,b")
        self.assertEqual(200, answer.status)
        self.assertEqual("2.40,a,b", self.get("/tavrick/version.txt"))
        self.admin("/tavrick/admin/publish", arch="x64", version="2.41")
        x64 = self.get("/tavrick/newsoft/x64/manifest.txt")
        self.assertEqual("version 2.41\r\nfile tavrick.exe 3996 %s\r\n" % hashlib.sha256(b"MZ64" * 999).hexdigest(), x64)
        self.assertIn("version 2.40\r\nfile tavrick.exe 4000 ", self.get("/tavrick/newsoft/x86/manifest.txt"))
        self.assertEqual("2.41", self.get("/tavrick/version.txt"))
        self.assertEqual(b"MZ64" * 999, self.service.handle("GET", b"/tavrick/newsoft/x64/tavrick.exe").body)
        self.assertEqual("manifest.txt\r\nmanifest.txt.sig\r\ntavrick.exe", self.get("/tavrick/newsoft/x64/"))

        # Refused: another width, a version that is no number, a second line, an odd file name.
        for arch, version in (("x65", "2.42"), ("x64", "new"), ("x64", "2.42\r\n3"), ("x64", ",2.42")):
            self.assertEqual(400, self.admin("/tavrick/admin/publish", arch=arch, version=version).status, version)
        with open(os.path.join(newsoft, "x64", "a b.dll"), "wb") as f:
            f.write(b"x")
        self.assertEqual(400, self.admin("/tavrick/admin/publish", arch="x64", version="2.42").status)
        self.assertEqual("2.41", self.get("/tavrick/version.txt"))
        os.remove(os.path.join(newsoft, "x64", "a b.dll"))
        # Refused: the administrator's configuration, its copies and the log folder's name.
        for kept in ("tavrick.cfg", "tavrick.cfg.bak", "Tavrick.CFG.damaged", "log", "LOG.txt",
                     "upgrade.ini"):
            with open(os.path.join(newsoft, "x64", kept), "wb") as f:
                f.write(b"x")
            self.assertEqual(400, self.admin("/tavrick/admin/publish", arch="x64", version="2.42").status, kept)
            os.remove(os.path.join(newsoft, "x64", kept))
        self.assertEqual("2.41", self.get("/tavrick/version.txt"))

    def test_version_file_and_manifests_are_signed_with_the_key_compiled_into_the_program(self):
        """What the program and upgrade.exe check (upgrader/build_signature.h) against the first
        key of upgrader/build_keys.h."""
        import re
        from cryptography.exceptions import InvalidSignature
        from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PublicKey
        header = os.path.join(os.path.dirname(__file__), "..", "..", "..", "upgrader", "build_keys.h")
        with open(header) as f:
            first = re.search(r"kBuildKeys\[\]\[kEd25519KeyBytes\] = \{.*?\{([^}]*)\}", f.read(), re.S).group(1)
        public = Ed25519PublicKey.from_public_bytes(bytes(int(b, 16) for b in re.findall(r"0x([0-9a-f]{2})", first)))

        def check(message, path):
            signature = self.service.handle("GET", path.encode()).body
            self.assertRegex(signature.decode("ascii"), r"^[0-9a-f]{128}\n$")
            public.verify(bytes.fromhex(signature.decode("ascii")), message)
            with self.assertRaises(InvalidSignature):
                public.verify(bytes.fromhex(signature.decode("ascii")), message + b" ")

        newsoft = os.path.join(self.dir, "newsoft")
        self.service.newsoft_dir = newsoft
        check(b"tavrick version.txt\n2.30", "/tavrick/version.txt.sig")  # the --version-text, unpublished
        os.makedirs(os.path.join(newsoft, "x64"))
        with open(os.path.join(newsoft, "x64", "tavrick.exe"), "wb") as f:
            f.write(b"MZ64")
        self.assertEqual(200, self.admin("/tavrick/admin/publish", arch="x64", version="2.40,a").status)
        manifest = self.service.handle("GET", b"/tavrick/newsoft/x64/manifest.txt").body
        check(b"tavrick x64/manifest.txt\n" + manifest, "/tavrick/newsoft/x64/manifest.txt.sig")
        check(b"tavrick version.txt\n2.40,a", "/tavrick/version.txt.sig")
        # Published again: the signature is no file of the build.
        self.assertEqual(200, self.admin("/tavrick/admin/publish", arch="x64", version="2.41").status)
        self.assertNotIn(b"manifest.txt.sig", self.service.handle("GET", b"/tavrick/newsoft/x64/manifest.txt").body)
        check(b"tavrick version.txt\n2.41", "/tavrick/version.txt.sig")
        # A published version file whose signature is gone is not signed on the fly.
        os.remove(os.path.join(newsoft, "version.txt.sig"))
        self.assertEqual(404, self.service.handle("GET", b"/tavrick/version.txt.sig").status)
