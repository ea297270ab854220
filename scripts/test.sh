#!/usr/bin/env bash
# Everything from a fresh Debian 12 machine to a full test run: installs what is
# missing, builds the normal tree and the sanitizer tree (AddressSanitizer and
# UndefinedBehaviorSanitizer), and runs every test in both.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)

echo "== normal build"
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build && ctest --output-on-failure -j "$jobs" -LE x11)
# The end-to-end tests on an X11 desktop, one at a time; a run disturbed by timing on a
# loaded machine is tried again.
(cd build && ctest --output-on-failure -L x11 --repeat until-pass:3)

echo "== sanitizer build (ASan + UBSan)"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON -DBUILD_BENCH=OFF
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
   UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
   ctest --output-on-failure -j "$jobs" -LE x11)
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
   UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
   ctest --output-on-failure -L x11 --repeat until-pass:3)
