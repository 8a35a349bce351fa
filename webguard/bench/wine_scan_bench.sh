#!/usr/bin/env bash
# The whole-site scan's time under wine64: a tree of 35,000 files (about 400 MB) taken at random
# (seed 1) from Debian's web applications (scripts/fetch-debian-webapps.sh), hard-linked where
# it can be, is scanned and checked by the Win32 test DISABLED_WholeSiteScanTime as the program
# does it (background mode, no pause between files), with the stand-in signature library.
#   bash webguard/bench/wine_scan_bench.sh BUILD_DIR [HARNESS_NAME]
# Prints the files, megabytes read, the time to queue and to check them all, and the process's
# CPU time. The tree stays in BUILD_DIR/scan-tree for the next run.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${1:?build folder}" && pwd)
NAME=${2:-scanbench}
APPS=$ROOT/build/debian-webapps
TREE=$BUILD/scan-tree
[ -d "$APPS/more" ] || bash "$ROOT/scripts/fetch-debian-webapps.sh" "$APPS"
if [ ! -f "$TREE/.done" ]; then
  rm -rf "$TREE"
  python3 - "$APPS" "$TREE" <<'PY'
import os, random, shutil, sys
apps, tree = sys.argv[1], sys.argv[2]
files = []
for top in ("root", "more"):
    for d, _, names in os.walk(os.path.join(apps, top)):
        for n in names:
            p = os.path.join(d, n)
            if os.path.isfile(p) and not os.path.islink(p):
                files.append(p)
files.sort()
random.seed(1)
for i, src in enumerate(random.sample(files, 35000)):
    dst = os.path.join(tree, "d%03d" % (i % 350), "%05d_%s" % (i, os.path.basename(src)))
    os.makedirs(os.path.dirname(dst), exist_ok=True)
    try:
        os.link(src, dst)
    except OSError:
        shutil.copyfile(src, dst)
PY
  touch "$TREE/.done"
fi
echo "tree: $(find "$TREE" -type f ! -name .done | wc -l) files, $(du -sLm --apparent-size "$TREE" | cut -f1) MB"
# Read once natively so that both runs find it in the page cache.
find "$TREE" -type f -exec cat {} + > /dev/null
source "$ROOT/scripts/wine-harness.sh"
harness_start "$NAME"
trap harness_stop EXIT
cd "$BUILD/bin"
TAVRICK_SCAN_TREE="Z:${TREE//\//\\}" "$WINE64" ./tavrick_win32_tests.exe --gtest_also_run_disabled_tests \
  --gtest_filter='*DISABLED_WholeSiteScanTime*' 2>&1 | grep -E "whole-site|OK|FAILED|SKIPPED"
