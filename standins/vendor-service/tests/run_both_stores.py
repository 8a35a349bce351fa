#!/usr/bin/env python3
"""Runs every test of the service twice, on SQLite and on PostgreSQL, the two runs side by side
(the tests mostly wait on sockets and clocks): python3 run_both_stores.py PG_FOLDER. One private
PostgreSQL server in PG_FOLDER for the whole run, each test in a schema of its own; stopped by
its pid at the end, also when tests fail."""
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from pgserver import PrivateServer  # noqa: E402


def main(folder):
    started = time.monotonic()
    server = PrivateServer(folder, {"fsync": "off", "synchronous_commit": "off", "full_page_writes": "off"}).start()
    print("PostgreSQL for the tests: %s (ready in %.1f s)" % (server.url(), time.monotonic() - started), flush=True)
    runs = []
    try:
        for store in ("sqlite", server.url()):
            out = open(os.path.join(folder, "tests-%s.log" % store.partition(":")[0]), "w+")
            env = dict(os.environ, VENDORSVC_TEST_STORE=store, PYTHONDONTWRITEBYTECODE="1")
            runs.append((store, out, subprocess.Popen([sys.executable, "-m", "unittest", "discover", "-v", "-s", HERE,
                                                       "-p", "test_*.py"], cwd=HERE, env=env, stdout=out,
                                                      stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)))
        failed = 0
        for store, out, proc in runs:
            code = proc.wait()
            out.seek(0)
            print("===== store: %s =====" % ("SQLite" if store == "sqlite" else "PostgreSQL"))
            print(out.read(), flush=True)
            out.close()
            failed |= code != 0
        print("both stores: %s in %.1f s" % ("FAILED" if failed else "OK", time.monotonic() - started))
        return 1 if failed else 0
    finally:
        for _, _, proc in runs:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        server.stop()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
