"""A private PostgreSQL server (Debian's postgresql package) for the tests and the benchmark:
initdb in a folder of its own, listening only on a unix socket in that folder (no TCP port),
stopped by its pid. As root it runs as the postgres user, which the package makes."""
import glob
import os
import pwd
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.parse


def postgres_bin():
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/postgres"), key=lambda p: int(p.split("/")[4]))
    if not found:
        raise RuntimeError("PostgreSQL is missing: scripts/setup.sh installs the postgresql package")
    return os.path.dirname(found[-1])


class PrivateServer:
    def __init__(self, folder, settings=None):
        self.bin = postgres_bin()
        self.folder = os.path.abspath(folder)
        # A unix socket's path has at most 107 bytes: a deep build folder gets a short one.
        self.sockets = os.path.join(self.folder, "run")
        if len(self.sockets) > 80:
            self.sockets = tempfile.mkdtemp(prefix="vendorsvc-pg-")
        self.data = os.path.join(self.folder, "data")
        self.settings = dict({"listen_addresses": "", "unix_socket_directories": self.sockets, "port": "5432",
                              "max_connections": "200", "shared_buffers": "64MB", "log_min_messages": "warning",
                              "logging_collector": "off"}, **(settings or {}))
        self.proc = None
        self.log = None
        as_root = os.geteuid() == 0
        self.user = pwd.getpwnam("postgres") if as_root else None

    def _own(self, path):
        if self.user:
            os.chown(path, self.user.pw_uid, self.user.pw_gid)

    def _run_as(self):
        return dict(user=self.user.pw_uid, group=self.user.pw_gid, extra_groups=[]) if self.user else {}

    def _reachable(self, path):
        """Whether the server's user can write there (a build folder under a home folder of
        mode 0700 is out of its reach)."""
        return not self.user or subprocess.run(["sh", "-c", 'test -w "$1"', "sh", path], cwd="/", timeout=30,
                                               **self._run_as()).returncode == 0

    def start(self, timeout=60):
        self.stop_leftover()
        os.makedirs(self.folder, exist_ok=True)
        self._own(self.folder)
        if not self._reachable(self.folder):
            self.data = os.path.join(tempfile.mkdtemp(prefix="vendorsvc-pgdata-"), "data")
            self._own(os.path.dirname(self.data))
            if not self.sockets.startswith(tempfile.gettempdir()):
                self.sockets = tempfile.mkdtemp(prefix="vendorsvc-pg-")
                self.settings["unix_socket_directories"] = self.sockets
        shutil.rmtree(self.data, ignore_errors=True)
        os.makedirs(self.sockets, exist_ok=True)
        os.makedirs(self.data, mode=0o700)
        for path in (self.sockets, self.data):
            self._own(path)
        subprocess.run([os.path.join(self.bin, "initdb"), "-D", self.data, "-U", "postgres", "-A", "trust",
                        "-E", "UTF8", "--no-locale", "--no-sync"], check=True, capture_output=True,
                       timeout=timeout, cwd="/", **self._run_as())
        self.log = open(os.path.join(self.folder, "postgres.log"), "ab")
        args = [os.path.join(self.bin, "postgres"), "-D", self.data]
        for name, value in self.settings.items():
            args += ["-c", "%s=%s" % (name, value)]
        self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log, cwd="/",
                                     **self._run_as())
        with open(os.path.join(self.folder, "postgres.pid"), "w") as f:
            f.write("%d\n" % self.proc.pid)
        end = time.monotonic() + timeout
        import psycopg2
        while True:
            if self.proc.poll() is not None:
                raise RuntimeError("postgres stopped at start; see %s/postgres.log" % self.folder)
            try:
                psycopg2.connect(self.url()).close()
                return self
            except psycopg2.OperationalError:
                if time.monotonic() > end:
                    self.stop()
                    raise RuntimeError("postgres did not answer within %d s" % timeout)
                time.sleep(0.05)

    def url(self, schema=None):
        query = {"host": self.sockets, "port": self.settings["port"]}
        if schema:
            query["options"] = "-csearch_path=" + schema
        return "postgresql://postgres@/postgres?" + urllib.parse.urlencode(query)

    def stop_leftover(self):
        """A server this folder's earlier run left (its pid file names it)."""
        try:
            with open(os.path.join(self.folder, "postgres.pid")) as f:
                pid = int(f.read())
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                if self.data.encode() not in f.read():
                    return
        except (OSError, ValueError):
            return
        os.kill(pid, signal.SIGINT)
        for _ in range(100):
            if not os.path.exists("/proc/%d" % pid):
                return
            time.sleep(0.1)
        os.kill(pid, signal.SIGKILL)

    def stop(self):
        """Fast shutdown (SIGINT) of the server by its pid; killed if it lingers."""
        if self.proc is not None and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
            try:
                self.proc.wait(30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(10)
        self.proc = None
        if self.log:
            self.log.close()
            self.log = None
        for path in (self.sockets, os.path.dirname(self.data)):
            if path.startswith(tempfile.gettempdir() + os.sep + "vendorsvc-pg"):
                shutil.rmtree(path, ignore_errors=True)


if __name__ == "__main__":
    server = PrivateServer(sys.argv[1]).start()
    # Taken by sigwait below, not by the default handlers (which would leave the server running).
    signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGINT, signal.SIGTERM])
    print(server.url(), flush=True)
    try:
        signal.sigwait([signal.SIGINT, signal.SIGTERM])
    finally:
        server.stop()
