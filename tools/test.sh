#!/usr/bin/env bash
# The whole test suite: a normal build and a sanitizer build (AddressSanitizer
# and UndefinedBehaviorSanitizer), each with every test except those labelled
# "slow", which run once, in the normal build; the Windows stage: a
# warning-free cross-build of the libraries, kelobsl-cli, kelobsl.exe and the
# Windows unit tests, run under Wine with a whole update (skipped where Wine is missing);
# short runs of the fuzz targets (tools/fuzz-check.sh); the packages, and the
# tests that install them (label "install", normal build only). The fault
# matrix (label "matrix") runs in the normal build only: its updates are
# the other command-line tests' paths again, and the suite must stay short.
# A ThreadSanitizer build (build-tsan) builds only what the tests labelled
# "parallel" need (several devices updated in one run) and runs only those;
# the sanitizer build leaves them to it. The tests mostly wait on simulated
# devices (the machine stays nearly idle), so ctest runs more of them at once
# than there are cores.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash tools/install-deps.sh

bash tools/build.sh build
# The sanitizer builds are not optimised: they compile in half the time,
# and their tests wait on simulated devices rather than compute.
bash tools/build.sh build-asan -DKELO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
echo "== Windows stage: cross-build, unit tests and an update under Wine =="
windows_start=$SECONDS
bash tools/check-windows-build.sh build-mingw || status=1
echo "Windows stage (build and Wine) took $((SECONDS - windows_start)) s."
echo "== fuzz targets (short runs) =="
bash tools/fuzz-check.sh build-fuzz || status=1
echo "== packages =="
bash tools/package.sh build build-mingw || status=1
echo "== tests (normal build) =="
ctest --test-dir build -j 4 --output-on-failure --timeout 600 || status=1
echo "== tests (sanitizer build) =="
ctest --test-dir build-asan -j 3 --output-on-failure --timeout 600 -LE 'slow|install|matrix|parallel' || status=1
echo "== parallel tests (ThreadSanitizer build) =="
tsan_start=$SECONDS
cmake -S "$root" -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELO_TSAN=ON -DKELO_BUILD_GUI=OFF >/dev/null
cmake --build build-tsan -j "$(nproc 2>/dev/null || echo 2)" --target cli_parallel_tests
TSAN_OPTIONS=halt_on_error=1:exitcode=66 \
  ctest --test-dir build-tsan --output-on-failure --timeout 600 -L parallel || status=1
echo "ThreadSanitizer stage (build and tests) took $((SECONDS - tsan_start)) s."
exit $status
