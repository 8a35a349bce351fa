"""The service's state in one SQLite file: machines, heartbeat log, outbox (also the delivery
queue), refused requests, seen stamped requests, remote requests and the related-software list.
One connection, one lock: requests are short. Every text stored from a request is cut to a sane
length first."""
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
# Outbox states: 'outbox' (kept only: no relay or gateway configured for its kind), 'queued'
# (due at next_try), 'claimed' (a delivery worker has it: claimed_by, claimed_at), 'sent',
# 'failed' (refused for good, or out of attempts; result holds the last answer).
ADDED_COLUMNS = {
    "machines": [("address", "TEXT DEFAULT ''")],
    "outbox": [("state", "TEXT DEFAULT 'outbox'"), ("attempts", "INTEGER DEFAULT 0"), ("next_try", "REAL DEFAULT 0"),
               ("claimed_by", "TEXT DEFAULT ''"), ("claimed_at", "REAL DEFAULT 0"), ("sent_at", "REAL DEFAULT 0"),
               ("result", "TEXT DEFAULT ''"), ("message_id", "TEXT DEFAULT ''")],
}
PENDING = ("queued", "claimed")

DEFAULT_SOFT = [("Tavrick帮助", "/tavrick/index.jsp"), ("常见问题", "/tavrick/question.html")]

# Longest text kept per field (characters); the rest is dropped.
LIMITS = {"mac": 64, "recipient": 256, "title": 256, "message": 8192, "version": 32, "phone": 32,
          "mail": 256, "rad": 16, "stamp": 80, "reason": 64, "endpoint": 32, "result": 1024}
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
            self.db.execute("CREATE INDEX IF NOT EXISTS outbox_due ON outbox(state, next_try)")
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

    def relay(self, kind, mac, recipient, title, message, now, origin="relay", queue=False, message_id=""):
        """Puts a mail or SMS into the outbox; None when the machine's balance is used up,
        else the new row id. Kept only (queue False), an SMS costs one from the balance at
        once; queued for delivery, it costs one when delivered, and is accepted only while the
        balance exceeds the machine's SMS still waiting. The row is committed before the
        caller answers, so an accepted alert survives a crash."""
        with self.lock:
            machine = self._machine(mac, now)
            if kind == "sms":
                waiting = self.db.execute("SELECT COUNT(*) FROM outbox WHERE mac=? AND kind='sms' AND state IN (?,?)",
                                          (mac,) + PENDING).fetchone()[0]
                if machine["sms_count"] - waiting <= 0:
                    return None
                if not queue:
                    self.db.execute("UPDATE machines SET sms_count=sms_count-1 WHERE mac=?", (mac,))
            elif machine["mail_days"] <= 0:
                return None
            cur = self.db.execute("INSERT INTO outbox(kind, origin, mac, recipient, title, message, created, state,"
                                  " next_try, message_id) VALUES (?,?,?,?,?,?,?,?,?,?)",
                                  (kind, origin, mac, cut("recipient", recipient), cut("title", title),
                                   cut("message", message), now, "queued" if queue else "outbox", 0, message_id))
            return cur.lastrowid

    # --- delivery queue -----------------------------------------------------------------
    def claim_due(self, kinds, now, worker):
        """The oldest due queued row of these kinds, claimed by worker (its attempt counted
        now, so a message that kills its worker cannot loop for ever); None when none is due."""
        marks = ",".join("?" * len(kinds))
        with self.lock:
            row = self.db.execute("SELECT id FROM outbox WHERE state='queued' AND kind IN (%s) AND next_try<=?"
                                  " ORDER BY next_try, id LIMIT 1" % marks, tuple(kinds) + (now,)).fetchone()
            if row is None:
                return None
            if self.db.execute("UPDATE outbox SET state='claimed', claimed_by=?, claimed_at=?, attempts=attempts+1"
                               " WHERE id=? AND state='queued'", (worker, now, row["id"])).rowcount != 1:
                return None
            return dict(self.db.execute("SELECT * FROM outbox WHERE id=?", (row["id"],)).fetchone())

    def next_due(self, kinds):
        """When the next queued row of these kinds is due (None: nothing queued)."""
        marks = ",".join("?" * len(kinds))
        with self.lock:
            return self.db.execute("SELECT MIN(next_try) FROM outbox WHERE state='queued' AND kind IN (%s)" % marks,
                                   tuple(kinds)).fetchone()[0]

    def delivered(self, row_id, worker, answer, now):
        """Marks a claimed row sent, and spends the SMS in the same transaction; False when the
        claim was no longer this worker's."""
        with self.lock:
            self.db.execute("BEGIN IMMEDIATE")
            try:
                done = self.db.execute("UPDATE outbox SET state='sent', sent_at=?, result=? WHERE id=? AND state='claimed'"
                                       " AND claimed_by=?", (now, cut("result", answer), row_id, worker)).rowcount == 1
                if done:
                    self.db.execute("UPDATE machines SET sms_count=MAX(sms_count-1, 0) WHERE mac=(SELECT mac FROM"
                                    " outbox WHERE id=? AND kind='sms')", (row_id,))
                self.db.execute("COMMIT")
            except BaseException:
                self.db.execute("ROLLBACK")
                raise
            return done

    def retry_later(self, row_id, worker, answer, next_try):
        with self.lock:
            self.db.execute("UPDATE outbox SET state='queued', next_try=?, result=?, claimed_by='' WHERE id=?"
                            " AND state='claimed' AND claimed_by=?", (next_try, cut("result", answer), row_id, worker))

    def failed(self, row_id, worker, answer, now):
        with self.lock:
            self.db.execute("UPDATE outbox SET state='failed', sent_at=?, result=?, claimed_by='' WHERE id=?"
                            " AND state='claimed' AND claimed_by=?", (now, cut("result", answer), row_id, worker))

    def release_claims(self, is_dead, lease_before):
        """Puts back into the queue rows claimed by a worker that is gone (is_dead(claimed_by))
        or that held its claim since before lease_before; the count."""
        with self.lock:
            rows = self.db.execute("SELECT id, claimed_by, claimed_at FROM outbox WHERE state='claimed'").fetchall()
            back = [r["id"] for r in rows if is_dead(r["claimed_by"]) or r["claimed_at"] < lease_before]
            for row_id in back:
                self.db.execute("UPDATE outbox SET state='queued', next_try=0, claimed_by='',"
                                " result='claimed by a worker that stopped; tried again' WHERE id=? AND state='claimed'",
                                (row_id,))
            return len(back)

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
