#!/usr/bin/env bash
# Sets up the machine, builds all configurations and runs every test:
#   native unit tests (plain and with ASan+UBSan), the i686 build (compile and link only),
#   and the x86_64 Win32 tests and scenarios under wine64.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
JOBS=${JOBS:-$(nproc)}

bash scripts/setup.sh
echo "== setup installs no service"
bash scripts/check-setup-services.sh
# The signature tests read Debian's web applications from here (downloaded, unpacked, never
# installed); tests/CMakeLists.txt names the folder.
echo "== Debian's web applications for the signature tests"
bash scripts/fetch-debian-webapps.sh "$ROOT/build/debian-webapps"

configure() { # dir [cmake args...]
  local dir=$1; shift
  cmake -S . -B "build/$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}
configure native
configure native-asan -DTAVRICK_SANITIZE=ON
configure x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake
configure i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DTAVRICK_TESTS=OFF
for dir in native native-asan x86_64 i686; do
  echo "== build $dir"
  cmake --build "build/$dir" -j "$JOBS"
done

# Both shipping binaries must exist with the right PE kind.
file build/i686/bin/tavrick.exe | grep -q 'PE32 executable' || { echo "i686 tavrick.exe missing or not PE32"; exit 1; }
file build/x86_64/bin/tavrick.exe | grep -q 'PE32+ executable' || { echo "x86_64 tavrick.exe missing or not PE32+"; exit 1; }
# So must both installers (NSIS).
file build/i686/bin/tavrick-setup-x86.exe | grep -q 'PE32 executable' || { echo "i686 installer missing or not PE32"; exit 1; }
file build/x86_64/bin/tavrick-setup-x64.exe | grep -q 'PE32+ executable' || { echo "x86_64 installer missing or not PE32+"; exit 1; }

echo "== native unit tests"
ctest --test-dir build/native --output-on-failure -j "$JOBS"
echo "== native unit tests under AddressSanitizer + UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/native-asan --output-on-failure -j "$JOBS"

echo "== Win32 tests under wine64"
source scripts/wine-harness.sh
trap harness_stop EXIT
trap "exit 143" TERM INT  # so that a stopped run still ends what it started
harness_start tests
win32_total=$(ctest --test-dir build/x86_64 -N | sed -n 's/^Total Tests: //p')
if [ "${win32_total:-0}" -eq 0 ]; then echo "no Win32 test found"; exit 1; fi
# Wine tests share one wineserver and drive real windows: run them one at a time.
ctest --test-dir build/x86_64 --output-on-failure --timeout 300
echo "all test suites passed ($win32_total Win32 tests under wine64)"
