"""The service's state in one SQLite file: machines, outbox, refused requests, remote
requests and the related-software list. One connection, one lock: requests are short."""
import sqlite3
import threading

SCHEMA = """
CREATE TABLE IF NOT EXISTS machines (
  mac TEXT PRIMARY KEY, version TEXT DEFAULT '', phone TEXT DEFAULT '', mail TEXT DEFAULT '',
  isdownmsg INTEGER DEFAULT 0, last_seen INTEGER DEFAULT 0, offline_alerted INTEGER DEFAULT 0,
  sms_count INTEGER NOT NULL, mail_days INTEGER NOT NULL, first_seen INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS heartbeats (
  id INTEGER PRIMARY KEY, mac TEXT, rad TEXT, created INTEGER);
CREATE TABLE IF NOT EXISTS outbox (
  id INTEGER PRIMARY KEY, kind TEXT, origin TEXT, mac TEXT, recipient TEXT, title TEXT,
  message TEXT, created INTEGER);
CREATE TABLE IF NOT EXISTS refused (
  id INTEGER PRIMARY KEY, endpoint TEXT, mac TEXT, stamp TEXT, reason TEXT, created INTEGER);
CREATE TABLE IF NOT EXISTS remote_requests (
  mac TEXT PRIMARY KEY, reboot INTEGER, release INTEGER, password TEXT, created INTEGER);
CREATE TABLE IF NOT EXISTS softlist (
  pos INTEGER PRIMARY KEY, text TEXT, link TEXT);
"""

DEFAULT_SOFT = [("Tavrick帮助", "/tavrick/index.jsp"), ("常见问题", "/tavrick/question.html")]


class Store:
    def __init__(self, path, default_sms=100, default_mail_days=365):
        self.db = sqlite3.connect(path, check_same_thread=False, isolation_level=None)
        self.db.row_factory = sqlite3.Row
        self.lock = threading.Lock()
        self.default_sms = default_sms
        self.default_mail_days = default_mail_days
        with self.lock:
            self.db.executescript(SCHEMA)
            if not self.db.execute("SELECT 1 FROM softlist LIMIT 1").fetchone():
                self.db.executemany("INSERT INTO softlist(text, link) VALUES (?, ?)", DEFAULT_SOFT)

    def close(self):
        with self.lock:
            self.db.close()

    def _rows(self, sql, args=()):
        with self.lock:
            return [dict(r) for r in self.db.execute(sql, args).fetchall()]

    def _machine(self, mac, now):
        """The machine's row, made with the starting figures when first seen (lock held)."""
        self.db.execute("INSERT OR IGNORE INTO machines(mac, sms_count, mail_days, first_seen) VALUES (?,?,?,?)",
                        (mac, self.default_sms, self.default_mail_days, now))
        return dict(self.db.execute("SELECT * FROM machines WHERE mac=?", (mac,)).fetchone())

    # --- requests -------------------------------------------------------------------
    def heartbeat(self, mac, rad, version, phone, mail, isdownmsg, now):
        with self.lock:
            self._machine(mac, now)
            self.db.execute("UPDATE machines SET version=?, phone=?, mail=?, isdownmsg=?, last_seen=?,"
                            " offline_alerted=0 WHERE mac=?", (version, phone, mail, isdownmsg, now, mac))
            self.db.execute("INSERT INTO heartbeats(mac, rad, created) VALUES (?,?,?)", (mac, rad, now))

    def relay(self, kind, mac, recipient, title, message, now, origin="relay"):
        """Puts a mail or SMS into the outbox; None when the machine's balance is used up,
        else the new row id. An SMS costs one from the balance."""
        with self.lock:
            machine = self._machine(mac, now)
            if kind == "sms":
                if machine["sms_count"] <= 0:
                    return None
                self.db.execute("UPDATE machines SET sms_count=sms_count-1 WHERE mac=?", (mac,))
            elif machine["mail_days"] <= 0:
                return None
            cur = self.db.execute("INSERT INTO outbox(kind, origin, mac, recipient, title, message, created)"
                                  " VALUES (?,?,?,?,?,?,?)", (kind, origin, mac, recipient, title, message, now))
            return cur.lastrowid

    def refuse(self, endpoint, mac, stamp, reason, now):
        with self.lock:
            self.db.execute("INSERT INTO refused(endpoint, mac, stamp, reason, created) VALUES (?,?,?,?,?)",
                            (endpoint, mac, stamp, reason, now))

    def figures(self, mac, now):
        with self.lock:
            machine = self._machine(mac, now)
            return machine["sms_count"], machine["mail_days"]

    def set_figures(self, mac, now, sms=None, days=None):
        with self.lock:
            self._machine(mac, now)
            if sms is not None:
                self.db.execute("UPDATE machines SET sms_count=? WHERE mac=?", (sms, mac))
            if days is not None:
                self.db.execute("UPDATE machines SET mail_days=? WHERE mac=?", (days, mac))

    def offline_machines(self, now, after):
        """Machines with the offline switch on whose heartbeats stopped, not yet alerted."""
        return self._rows("SELECT * FROM machines WHERE isdownmsg=1 AND offline_alerted=0 AND last_seen>0"
                          " AND last_seen<?", (now - after,))

    def mark_offline_alerted(self, mac):
        with self.lock:
            self.db.execute("UPDATE machines SET offline_alerted=1 WHERE mac=?", (mac,))

    # --- remote commands ----------------------------------------------------------------
    def put_remote_request(self, mac, reboot, release, password, now):
        with self.lock:
            self.db.execute("INSERT OR REPLACE INTO remote_requests(mac, reboot, release, password, created)"
                            " VALUES (?,?,?,?,?)", (mac, int(reboot), int(release), password, now))

    def take_remote_request(self, mac):
        """The pending request of the machine, handed out once."""
        with self.lock:
            row = self.db.execute("SELECT * FROM remote_requests WHERE mac=?", (mac,)).fetchone()
            if row is None:
                return None
            self.db.execute("DELETE FROM remote_requests WHERE mac=?", (mac,))
            return dict(row)

    # --- listings -----------------------------------------------------------------------
    def machines(self):
        return self._rows("SELECT mac, version, phone, mail, isdownmsg, last_seen, offline_alerted,"
                          " sms_count, mail_days FROM machines ORDER BY mac")

    def outbox(self):
        return self._rows("SELECT * FROM outbox ORDER BY id")

    def refused_requests(self):
        return self._rows("SELECT * FROM refused ORDER BY id")

    def heartbeat_log(self):
        return self._rows("SELECT * FROM heartbeats ORDER BY id")

    def pending_remote(self):
        return self._rows("SELECT mac, reboot, release, created FROM remote_requests ORDER BY mac")

    def softlist(self):
        return self._rows("SELECT text, link FROM softlist ORDER BY pos")
