"""The service's state in one SQLite file: machines, heartbeat log, outbox, refused requests,
seen stamped requests, remote requests and the related-software list. One connection, one
lock: requests are short. Every text stored from a request is cut to a sane length first."""
import sqlite3
import threading

SCHEMA = """
CREATE TABLE IF NOT EXISTS machines (
  mac TEXT PRIMARY KEY, version TEXT DEFAULT '', phone TEXT DEFAULT '', mail TEXT DEFAULT '',
  isdownmsg INTEGER DEFAULT 0, last_seen INTEGER DEFAULT 0, offline_alerted INTEGER DEFAULT 0,
  sms_count INTEGER NOT NULL, mail_days INTEGER NOT NULL, first_seen INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS heartbeats (
  id INTEGER PRIMARY KEY, mac TEXT, rad TEXT, created INTEGER);
CREATE INDEX IF NOT EXISTS heartbeats_by_mac ON heartbeats(mac);
CREATE INDEX IF NOT EXISTS heartbeats_by_age ON heartbeats(created);
CREATE TABLE IF NOT EXISTS outbox (
  id INTEGER PRIMARY KEY, kind TEXT, origin TEXT, mac TEXT, recipient TEXT, title TEXT,
  message TEXT, created INTEGER);
CREATE TABLE IF NOT EXISTS refused (
  id INTEGER PRIMARY KEY, endpoint TEXT, mac TEXT, stamp TEXT, reason TEXT, created INTEGER);
CREATE TABLE IF NOT EXISTS seen_requests (
  key TEXT PRIMARY KEY, issued INTEGER);
CREATE INDEX IF NOT EXISTS seen_requests_by_age ON seen_requests(issued);
CREATE TABLE IF NOT EXISTS remote_requests (
  mac TEXT PRIMARY KEY, reboot INTEGER, release INTEGER, password TEXT, created INTEGER);
CREATE TABLE IF NOT EXISTS softlist (
  pos INTEGER PRIMARY KEY, text TEXT, link TEXT);
"""

# Columns added after the first release, for data folders made before them.
ADDED_COLUMNS = {"machines": [("address", "TEXT DEFAULT ''")]}

DEFAULT_SOFT = [("Tavrick帮助", "/tavrick/index.jsp"), ("常见问题", "/tavrick/question.html")]

# Longest text kept per field (characters); the rest is dropped.
LIMITS = {"mac": 64, "recipient": 256, "title": 256, "message": 8192, "version": 32, "phone": 32,
          "mail": 256, "rad": 16, "stamp": 80, "reason": 64, "endpoint": 32}
REFUSED_KEPT = 1000  # newest refused requests kept


def cut(field, text):
    return text[:LIMITS[field]]


class Store:
    def __init__(self, path, default_sms=100, default_mail_days=365):
        self.db = sqlite3.connect(path, check_same_thread=False, isolation_level=None)
        self.db.row_factory = sqlite3.Row
        self.lock = threading.Lock()
        self.default_sms = default_sms
        self.default_mail_days = default_mail_days
        with self.lock:
            self.db.executescript(SCHEMA)
            for table, columns in ADDED_COLUMNS.items():
                have = {row["name"] for row in self.db.execute("PRAGMA table_info(%s)" % table)}
                for name, kind in columns:
                    if name not in have:
                        self.db.execute("ALTER TABLE %s ADD COLUMN %s %s" % (table, name, kind))
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

    # --- stamped requests -------------------------------------------------------------
    def first_sight(self, key, issued):
        """True the first time a stamped request is seen, False for a replay."""
        with self.lock:
            return self.db.execute("INSERT OR IGNORE INTO seen_requests(key, issued) VALUES (?,?)",
                                   (key, issued)).rowcount == 1

    def heartbeat(self, mac, rad, version, phone, mail, isdownmsg, now, address=""):
        with self.lock:
            self._machine(mac, now)
            self.db.execute("UPDATE machines SET version=?, phone=?, mail=?, isdownmsg=?, last_seen=?,"
                            " offline_alerted=0, address=? WHERE mac=?",
                            (cut("version", version), cut("phone", phone), cut("mail", mail), isdownmsg, now,
                             address, mac))
            self.db.execute("INSERT INTO heartbeats(mac, rad, created) VALUES (?,?,?)", (mac, cut("rad", rad), now))

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
                                  " VALUES (?,?,?,?,?,?,?)", (kind, origin, mac, cut("recipient", recipient),
                                                              cut("title", title), cut("message", message), now))
            return cur.lastrowid

    def refuse(self, endpoint, mac, stamp, reason, now):
        with self.lock:
            cur = self.db.execute("INSERT INTO refused(endpoint, mac, stamp, reason, created) VALUES (?,?,?,?,?)",
                                  (cut("endpoint", endpoint), cut("mac", mac), cut("stamp", stamp),
                                   cut("reason", reason), now))
            self.db.execute("DELETE FROM refused WHERE id<=?", (cur.lastrowid - REFUSED_KEPT,))

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

    # --- offline alert ------------------------------------------------------------------
    def offline_machines(self, now, after):
        """Machines with the offline switch on whose heartbeats stopped, not yet alerted."""
        return self._rows("SELECT * FROM machines WHERE isdownmsg=1 AND offline_alerted=0 AND last_seen>0"
                          " AND last_seen<?", (now - after,))

    def claim_offline_alert(self, mac, last_seen):
        """Marks the machine alerted, only if no heartbeat arrived since last_seen was read;
        True when the caller is to send the alert."""
        with self.lock:
            return self.db.execute("UPDATE machines SET offline_alerted=1 WHERE mac=? AND last_seen=?"
                                   " AND offline_alerted=0", (mac, last_seen)).rowcount == 1

    # --- remote commands ----------------------------------------------------------------
    def put_remote_request(self, mac, reboot, release, password, now, replace):
        """'stored', 'replaced', or 'pending' when one waits and replace is not asked for."""
        with self.lock:
            waiting = self.db.execute("SELECT 1 FROM remote_requests WHERE mac=?", (mac,)).fetchone()
            if waiting and not replace:
                return "pending"
            self.db.execute("INSERT OR REPLACE INTO remote_requests(mac, reboot, release, password, created)"
                            " VALUES (?,?,?,?,?)", (mac, int(reboot), int(release), password, now))
            return "replaced" if waiting else "stored"

    def take_remote_request(self, mac, address, answer):
        """The machine's pending request, handed once and only to a poll from the address its
        heartbeats come from: answer(row) builds the reply, and the request is deleted only
        after that succeeded. None when nothing is handed out."""
        with self.lock:
            row = self.db.execute("SELECT r.* FROM remote_requests r JOIN machines m ON m.mac=r.mac"
                                  " WHERE r.mac=? AND m.address=? AND m.address<>''", (mac, address)).fetchone()
            if row is None:
                return None
            reply = answer(dict(row))
            self.db.execute("DELETE FROM remote_requests WHERE mac=?", (mac,))
            return reply

    # --- upkeep -------------------------------------------------------------------------
    def prune(self, heartbeats_before, seen_before):
        """Drops heartbeats older than heartbeats_before and request keys whose stamps are
        stale anyway."""
        with self.lock:
            self.db.execute("DELETE FROM heartbeats WHERE created<?", (heartbeats_before,))
            self.db.execute("DELETE FROM seen_requests WHERE issued<?", (seen_before,))

    # --- listings -----------------------------------------------------------------------
    def machines(self):
        """Every machine with the number of heartbeats in the kept log, in one query."""
        return self._rows("SELECT m.mac, m.version, m.phone, m.mail, m.isdownmsg, m.last_seen, m.offline_alerted,"
                          " m.sms_count, m.mail_days, COALESCE(h.n, 0) AS heartbeats FROM machines m"
                          " LEFT JOIN (SELECT mac, COUNT(*) AS n FROM heartbeats GROUP BY mac) h ON h.mac=m.mac"
                          " ORDER BY m.mac")

    def has_machine(self, mac):
        return bool(self._rows("SELECT 1 FROM machines WHERE mac=? AND last_seen>0", (mac,)))

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
