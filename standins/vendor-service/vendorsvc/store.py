"""The service's state: machines, heartbeat log, outbox (also the delivery queue), refused
requests, seen stamped requests, remote requests, the related-software list, the operator's
sign-in sessions and the upkeep lease. In one SQLite file (the default; one host) or in
PostgreSQL (several worker processes, several hosts), with the same schema reached through the
numbered steps of migrations.py.

Every change is one transaction, so several worker processes may share the store: SQLite
takes its write lock at the start of a changing transaction (BEGIN IMMEDIATE), PostgreSQL
locks the rows a check-then-change reads (FOR UPDATE). Every text stored from a request is cut
to a sane length first."""
import contextlib
import sqlite3
import threading

from . import migrations

PENDING = ("queued", "claimed")

DEFAULT_SOFT = migrations.DEFAULT_SOFT

# Longest text kept per field (characters); the rest is dropped.
LIMITS = {"mac": 64, "recipient": 256, "title": 256, "message": 8192, "version": 32, "phone": 32,
          "mail": 256, "rad": 16, "stamp": 80, "reason": 64, "endpoint": 32, "result": 1024}
REFUSED_KEPT = 1000  # newest refused requests kept


def cut(field, text):
    return text[:LIMITS[field]]


def is_postgres(url):
    return url.startswith(("postgresql://", "postgres://"))


class Result:
    def __init__(self, rows, rowcount):
        self._rows, self.rowcount = rows, rowcount

    def rows(self):
        return self._rows

    def one(self):
        return self._rows[0] if self._rows else None

    def scalar(self):
        return next(iter(self._rows[0].values())) if self._rows else None


class SqliteBackend:
    """One connection per process behind a lock; WAL, so readers do not wait for a writer and
    other processes on the same file wait their turn (busy time-out) rather than fail."""
    kind = "sqlite"
    for_update = ""  # the whole database is locked by BEGIN IMMEDIATE already
    skip_locked = ""

    def __init__(self, path):
        self.db = sqlite3.connect(path, check_same_thread=False, isolation_level=None, timeout=30)
        self.db.row_factory = sqlite3.Row
        self.lock = threading.RLock()
        self.db.execute("PRAGMA journal_mode=WAL")
        self.db.execute("PRAGMA synchronous=NORMAL")  # WAL: a commit survives a process crash

    def run(self, sql, args):
        cur = self.db.execute(sql, args)
        rows = [dict(r) for r in cur.fetchall()] if cur.description else []
        return Result(rows, cur.rowcount)

    @contextlib.contextmanager
    def tx(self, write=True):
        with self.lock:
            if self.db.in_transaction or not write:  # nested (the outer one commits), or one read
                yield self
                return
            self.db.execute("BEGIN IMMEDIATE" if write else "BEGIN")
            try:
                yield self
            except BaseException:
                self.db.execute("ROLLBACK")
                raise
            self.db.execute("COMMIT")

    def columns(self, table):
        return {r["name"] for r in self.run("PRAGMA table_info(%s)" % table, ()).rows()}

    def close(self):
        with self.lock:
            self.db.close()


class PostgresBackend:
    """A pool of connections (psycopg2's ThreadedConnectionPool), each transaction on one."""
    kind = "postgresql"
    for_update = " FOR UPDATE"
    skip_locked = " FOR UPDATE SKIP LOCKED"

    def __init__(self, url, pool_size=8):
        import psycopg2
        import psycopg2.extras
        import psycopg2.pool
        self.errors = psycopg2
        self.cursor_factory = psycopg2.extras.RealDictCursor
        self.pool = psycopg2.pool.ThreadedConnectionPool(1, pool_size, url)
        # psycopg2's pool refuses when all are out: more threads than connections wait instead.
        self.free = threading.BoundedSemaphore(pool_size)
        self.sql = {}
        self.current = threading.local()

    def _text(self, sql):
        text = self.sql.get(sql)
        if text is None:
            text = self.sql[sql] = sql.replace("%", "%%").replace("?", "%s")
        return text

    def run(self, sql, args):
        cur = self.current.cursor
        cur.execute(self._text(sql), tuple(args))
        rows = [dict(r) for r in cur.fetchall()] if cur.description else []
        return Result(rows, cur.rowcount)

    @contextlib.contextmanager
    def tx(self, write=True):
        if getattr(self.current, "cursor", None) is not None:  # nested: the outer one commits
            yield self
            return
        self.free.acquire()
        try:
            conn = self.pool.getconn()
        except BaseException:
            self.free.release()
            raise
        broken = False
        try:
            with conn.cursor(cursor_factory=self.cursor_factory) as cur:
                self.current.cursor = cur
                try:
                    yield self
                    conn.commit()
                except BaseException as error:
                    broken = isinstance(error, (self.errors.OperationalError, self.errors.InterfaceError))
                    try:
                        conn.rollback()
                    except self.errors.Error:
                        broken = True
                    raise
                finally:
                    self.current.cursor = None
        finally:
            # A connection the server dropped is closed, not handed out again.
            self.pool.putconn(conn, close=broken or conn.closed != 0)
            self.free.release()

    def columns(self, table):
        return {r["name"] for r in self.run("SELECT column_name AS name FROM information_schema.columns"
                                            " WHERE table_name=? AND table_schema=current_schema()",
                                            (table,)).rows()}

    def close(self):
        self.pool.closeall()


class Store:
    """url: an SQLite file's path, or a postgresql:// URI (libpq's; a unix socket folder goes in
    host=, a schema in options=-csearch_path=NAME)."""

    def __init__(self, url, default_sms=100, default_mail_days=365, pool_size=8):
        self.url = url
        self.backend = PostgresBackend(url, pool_size) if is_postgres(url) else SqliteBackend(url)
        self.kind = self.backend.kind
        self.default_sms = default_sms
        self.default_mail_days = default_mail_days
        migrations.migrate(self.backend)

    def close(self):
        self.backend.close()

    def _tx(self, write=True):
        return self.backend.tx(write)

    def _run(self, sql, args=()):
        return self.backend.run(sql, args)

    def _rows(self, sql, args=()):
        """One read: a statement sees one state of the store on either backend."""
        with self._tx(write=False):
            return self._run(sql, args).rows()

    def schema_version(self):
        return self._rows("SELECT MAX(version) AS v FROM schema_version")[0]["v"]

    def _machine(self, mac, now):
        """The machine's row, made with the starting figures when first seen, locked for the
        rest of the transaction (inside one)."""
        self._run("INSERT INTO machines(mac, sms_count, mail_days, first_seen) VALUES (?,?,?,?)"
                  " ON CONFLICT DO NOTHING", (mac, self.default_sms, self.default_mail_days, now))
        return self._run("SELECT * FROM machines WHERE mac=?" + self.backend.for_update, (mac,)).one()

    # --- stamped requests -------------------------------------------------------------
    def first_sight(self, key, issued):
        """True the first time a stamped request is seen, False for a replay."""
        with self._tx():
            return self._run("INSERT INTO seen_requests(key, issued) VALUES (?,?) ON CONFLICT DO NOTHING",
                             (key, issued)).rowcount == 1

    def heartbeat(self, mac, rad, version, phone, mail, isdownmsg, now, address=""):
        values = (cut("version", version), cut("phone", phone), cut("mail", mail), isdownmsg, now, address)
        with self._tx():
            # One statement makes the machine or updates it: the most frequent request, kept short.
            self._run("INSERT INTO machines(mac, sms_count, mail_days, first_seen, version, phone, mail, isdownmsg,"
                      " last_seen, offline_alerted, address) VALUES (?,?,?,?,?,?,?,?,?,0,?) ON CONFLICT(mac) DO UPDATE"
                      " SET version=excluded.version, phone=excluded.phone, mail=excluded.mail,"
                      " isdownmsg=excluded.isdownmsg, last_seen=excluded.last_seen, offline_alerted=0,"
                      " address=excluded.address", (mac, self.default_sms, self.default_mail_days, now) + values)
            self._run("INSERT INTO heartbeats(mac, rad, created) VALUES (?,?,?)", (mac, cut("rad", rad), now))

    def relay(self, kind, mac, recipient, title, message, now, origin="relay", queue=False, message_id=""):
        """Puts a mail or SMS into the outbox; None when the machine's balance is used up,
        else the new row id. Kept only (queue False), an SMS costs one from the balance at
        once; queued for delivery, it costs one when delivered, and is accepted only while the
        balance exceeds the machine's SMS still waiting. The row is committed before the
        caller answers, so an accepted alert survives a crash."""
        with self._tx():
            machine = self._machine(mac, now)  # locked: two alerts of one machine count in turn
            if kind == "sms":
                waiting = self._run("SELECT COUNT(*) AS n FROM outbox WHERE mac=? AND kind='sms' AND state IN (?,?)",
                                    (mac,) + PENDING).scalar()
                if machine["sms_count"] - waiting <= 0:
                    return None
                if not queue:
                    self._run("UPDATE machines SET sms_count=sms_count-1 WHERE mac=?", (mac,))
            elif machine["mail_days"] <= 0:
                return None
            return self._run("INSERT INTO outbox(kind, origin, mac, recipient, title, message, created, state,"
                             " next_try, message_id) VALUES (?,?,?,?,?,?,?,?,?,?) RETURNING id",
                             (kind, origin, mac, cut("recipient", recipient), cut("title", title),
                              cut("message", message), now, "queued" if queue else "outbox", 0, message_id)).scalar()

    # --- delivery queue -----------------------------------------------------------------
    def claim_due(self, kinds, now, worker):
        """The oldest due queued row of these kinds, claimed by worker (its attempt counted
        now, so a message that kills its worker cannot loop for ever); None when none is due.
        Workers of other processes skip a row one of them is claiming."""
        marks = ",".join("?" * len(kinds))
        with self._tx():
            row = self._run("SELECT id FROM outbox WHERE state='queued' AND kind IN (%s) AND next_try<=?"
                            " ORDER BY next_try, id LIMIT 1%s" % (marks, self.backend.skip_locked),
                            tuple(kinds) + (now,)).one()
            if row is None:
                return None
            if self._run("UPDATE outbox SET state='claimed', claimed_by=?, claimed_at=?, attempts=attempts+1"
                         " WHERE id=? AND state='queued'", (worker, now, row["id"])).rowcount != 1:
                return None
            return self._run("SELECT * FROM outbox WHERE id=?", (row["id"],)).one()

    def next_due(self, kinds):
        """When the next queued row of these kinds is due (None: nothing queued)."""
        marks = ",".join("?" * len(kinds))
        return self._rows("SELECT MIN(next_try) AS t FROM outbox WHERE state='queued' AND kind IN (%s)" % marks,
                          tuple(kinds))[0]["t"]

    def delivered(self, row_id, worker, answer, now):
        """Marks a claimed row sent, and spends the SMS in the same transaction; False when the
        claim was no longer this worker's."""
        with self._tx():
            done = self._run("UPDATE outbox SET state='sent', sent_at=?, result=? WHERE id=? AND state='claimed'"
                             " AND claimed_by=?", (now, cut("result", answer), row_id, worker)).rowcount == 1
            if done:
                self._run("UPDATE machines SET sms_count=CASE WHEN sms_count>0 THEN sms_count-1 ELSE 0 END"
                          " WHERE mac=(SELECT mac FROM outbox WHERE id=? AND kind='sms')", (row_id,))
            return done

    def retry_later(self, row_id, worker, answer, next_try):
        with self._tx():
            self._run("UPDATE outbox SET state='queued', next_try=?, result=?, claimed_by='' WHERE id=?"
                      " AND state='claimed' AND claimed_by=?", (next_try, cut("result", answer), row_id, worker))

    def failed(self, row_id, worker, answer, now):
        with self._tx():
            self._run("UPDATE outbox SET state='failed', sent_at=?, result=?, claimed_by='' WHERE id=?"
                      " AND state='claimed' AND claimed_by=?", (now, cut("result", answer), row_id, worker))

    def release_claims(self, is_dead, lease_before):
        """Puts back into the queue rows claimed by a worker that is gone (is_dead(claimed_by))
        or that held its claim since before lease_before; the count."""
        rows = self._rows("SELECT id, claimed_by, claimed_at FROM outbox WHERE state='claimed'")
        back = 0
        for r in rows:
            if is_dead(r["claimed_by"]) or r["claimed_at"] < lease_before:
                with self._tx():
                    back += self._run("UPDATE outbox SET state='queued', next_try=0, claimed_by='',"
                                      " result='claimed by a worker that stopped; tried again'"
                                      " WHERE id=? AND state='claimed' AND claimed_by=?",
                                      (r["id"], r["claimed_by"])).rowcount
        return back

    def refuse(self, endpoint, mac, stamp, reason, now):
        with self._tx():
            row_id = self._run("INSERT INTO refused(endpoint, mac, stamp, reason, created) VALUES (?,?,?,?,?)"
                               " RETURNING id", (cut("endpoint", endpoint), cut("mac", mac), cut("stamp", stamp),
                                                 cut("reason", reason), now)).scalar()
            self._run("DELETE FROM refused WHERE id<=?", (row_id - REFUSED_KEPT,))

    def figures(self, mac, now):
        rows = self._rows("SELECT sms_count, mail_days FROM machines WHERE mac=?", (mac,))
        if not rows:
            with self._tx():
                rows = [self._machine(mac, now)]
        return rows[0]["sms_count"], rows[0]["mail_days"]

    def set_figures(self, mac, now, sms=None, days=None):
        with self._tx():
            self._machine(mac, now)
            if sms is not None:
                self._run("UPDATE machines SET sms_count=? WHERE mac=?", (sms, mac))
            if days is not None:
                self._run("UPDATE machines SET mail_days=? WHERE mac=?", (days, mac))

    # --- offline alert ------------------------------------------------------------------
    def offline_machines(self, now, after):
        """Machines with the offline switch on whose heartbeats stopped, not yet alerted."""
        return self._rows("SELECT * FROM machines WHERE isdownmsg=1 AND offline_alerted=0 AND last_seen>0"
                          " AND last_seen<?", (now - after,))

    def claim_offline_alert(self, mac, last_seen):
        """Marks the machine alerted, only if no heartbeat arrived since last_seen was read;
        True when the caller is to send the alert."""
        with self._tx():
            return self._run("UPDATE machines SET offline_alerted=1 WHERE mac=? AND last_seen=?"
                             " AND offline_alerted=0", (mac, last_seen)).rowcount == 1

    # --- remote commands ----------------------------------------------------------------
    def put_remote_request(self, mac, reboot, release, password, now, replace):
        """'stored', 'replaced', or 'pending' when one waits and replace is not asked for."""
        with self._tx():
            if self._run("INSERT INTO remote_requests(mac, reboot, release, password, created) VALUES (?,?,?,?,?)"
                         " ON CONFLICT DO NOTHING", (mac, int(reboot), int(release), password, now)).rowcount == 1:
                return "stored"
            if not replace:
                return "pending"
            self._run("UPDATE remote_requests SET reboot=?, release=?, password=?, created=? WHERE mac=?",
                      (int(reboot), int(release), password, now, mac))
            return "replaced"

    def take_remote_request(self, mac, address, answer):
        """The machine's pending request, handed once and only to a poll from the address its
        heartbeats come from: answer(row) builds the reply, and the request is deleted only
        after that succeeded; of two polls at once only one gets it. None when nothing is
        handed out."""
        with self._tx():
            row = self._run("SELECT r.* FROM remote_requests r JOIN machines m ON m.mac=r.mac"
                            " WHERE r.mac=? AND m.address=? AND m.address<>''" + self.backend.for_update,
                            (mac, address)).one()
            if row is None:
                return None
            reply = answer(row)
            if self._run("DELETE FROM remote_requests WHERE mac=? AND created=?", (mac, row["created"])).rowcount != 1:
                return None
            return reply

    # --- sign-in sessions (shared by every worker process) ----------------------------------
    def sign_in_failures(self, since):
        return self._rows("SELECT COUNT(*) AS n FROM signin_failures WHERE at>?", (since,))[0]["n"]

    def add_sign_in_failure(self, now, keep_after):
        with self._tx():
            self._run("INSERT INTO signin_failures(at) VALUES (?)", (now,))
            self._run("DELETE FROM signin_failures WHERE at<=?", (keep_after,))

    def new_session(self, sid, token, expires, now, max_sessions):
        """Stores a session; the one nearest its end goes when max_sessions are open."""
        with self._tx():
            self._run("DELETE FROM sessions WHERE expires<=?", (now,))
            if self._run("SELECT COUNT(*) AS n FROM sessions").scalar() >= max_sessions:
                self._run("DELETE FROM sessions WHERE sid=(SELECT sid FROM sessions ORDER BY expires LIMIT 1)")
            self._run("INSERT INTO sessions(sid, token, expires) VALUES (?,?,?)", (sid, token, expires))

    def session(self, sid, now):
        rows = self._rows("SELECT sid, token, expires FROM sessions WHERE sid=? AND expires>?", (sid, now))
        return rows[0] if rows else None

    def drop_session(self, sid):
        with self._tx():
            self._run("DELETE FROM sessions WHERE sid=?", (sid,))

    def prune_sessions(self, now):
        with self._tx():
            self._run("DELETE FROM sessions WHERE expires<=?", (now,))

    # --- upkeep -------------------------------------------------------------------------
    def take_lease(self, name, holder, now, seconds):
        """True when holder has the named lease until now + seconds: it held it already, or
        nobody did, or the holder's time ran out. One worker process runs the upkeep."""
        with self._tx():
            self._run("INSERT INTO leases(name, holder, expires) VALUES (?,'',0) ON CONFLICT DO NOTHING", (name,))
            return self._run("UPDATE leases SET holder=?, expires=? WHERE name=? AND (holder=? OR expires<?)",
                             (holder, now + seconds, name, holder, now)).rowcount == 1

    def prune(self, heartbeats_before, seen_before):
        """Drops heartbeats older than heartbeats_before and request keys whose stamps are
        stale anyway."""
        with self._tx():
            self._run("DELETE FROM heartbeats WHERE created<?", (heartbeats_before,))
            self._run("DELETE FROM seen_requests WHERE issued<?", (seen_before,))

    # --- listings -----------------------------------------------------------------------
    def machines(self):
        """Every machine with the number of heartbeats in the kept log, in one query."""
        return self._rows("SELECT m.mac, m.version, m.phone, m.mail, m.isdownmsg, m.last_seen, m.offline_alerted,"
                          " m.sms_count, m.mail_days, COALESCE(h.n, 0) AS heartbeats FROM machines m"
                          " LEFT JOIN (SELECT mac, COUNT(*) AS n FROM heartbeats GROUP BY mac) h ON h.mac=m.mac"
                          " ORDER BY m.mac")

    def has_machine(self, mac):
        return bool(self._rows("SELECT 1 AS one FROM machines WHERE mac=? AND last_seen>0", (mac,)))

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
