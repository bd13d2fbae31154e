#!/usr/bin/env bash
# The Windows stage of the test command, under Wine, headless:
#  1. every Windows unit test executable of the cross build, with COM20/COM21
#     joined by kelo_pty_pair (the scripted peer drives COM21, the code under
#     test opens COM20) and COM30 linked to a plain file;
#  2. a whole update: kelosim on a pseudo-terminal linked as COM5,
#     kelobsl-cli.exe updates it from R7F 3.51 to 3.52; the flash must equal
#     the image, the settings must be back and the log must be in the Windows
#     data folder; `list-ports --all` must list COM5; `inspect` must read a
#     file in a folder whose name is outside the ANSI code page;
#  3. the window kelobsl.exe driven by a Windows program under Xvfb
#     (tools/test-windows-ui.sh), when it was built.
#   tools/test-windows.sh [cross-build-folder] [native-build-folder]
# The cross build comes from tools/check-windows-build.sh; kelosim and
# kelo_pty_pair from the native build. Without Wine the stage is skipped.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
win="$(realpath -m "${1:-$root/build-mingw}")"
native="$(realpath -m "${2:-$root/build}")"
started=$SECONDS

source "$root/tools/wine-common.sh"
if ! wine_setup; then
    echo "Wine is not installed (apt-get install wine wine64): Windows stage skipped."
    exit 0
fi
for tool in "$native/sim/kelosim" "$native/tests/kelo_pty_pair"; do
    if [ ! -x "$tool" ]; then
        echo "$tool is missing: build the native tree first (tools/build.sh build)." >&2
        exit 1
    fi
done
command -v srec_cat >/dev/null || { echo "srec_cat missing: apt-get install srecord" >&2; exit 1; }

work="$win/wine-run"
rm -rf "$work"
mkdir -p "$work"

trap wine_cleanup EXIT

# ---- 1. unit tests ---------------------------------------------------------
"$native/tests/kelo_pty_pair" "$dos/com20" "$dos/com21" >"$work/pty-pair.out" 2>&1 &
pids+=($!)
wait_for_line "$work/pty-pair.out" ready
: >"$work/notatty"
ln -sfn "$work/notatty" "$dos/com30"
export KELO_TEST_HOST_PORT=COM20 KELO_TEST_PEER_PORT=COM21 KELO_TEST_NOTTY_PORT=COM30

status=0
passed=0
skipped=0
failed_tests=()
mapfile -t executables < <(find "$win/tests" -name '*_tests.exe' | sort)
if [ ${#executables[@]} -eq 0 ]; then
    echo "No Windows test executables under $win/tests: run tools/check-windows-build.sh first." >&2
    exit 1
fi
for exe in "${executables[@]}"; do
    name=$(basename "$exe" .exe)
    out="$work/$name.out"
    rc=0
    # Run from a Linux folder: Wine then starts in Z:, where the tests'
    # compiled-in source paths resolve.
    (cd "$work" && timeout 900 "$wine" "$exe" --gtest_color=no >"$out" 2>&1) || rc=$?
    # Wine's own server can drop a client as it starts (seen once on a fresh
    # prefix: "wine client error:0: recvmsg: Connection reset by peer" and not
    # one test run). That is Wine failing, not a test: run it once more. A
    # test that fails prints its result, and is never run again.
    if [ "$rc" -ne 0 ] && ! grep -q '^\[==========\]' "$out" && grep -q '^wine client error' "$out"; then
        echo "$name: Wine's server dropped it before any test ran; running it again"
        rc=0
        (cd "$work" && timeout 900 "$wine" "$exe" --gtest_color=no >"$out" 2>&1) || rc=$?
    fi
    p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$out" | tail -n1)
    s=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) test.*/\1/p' "$out" | tail -n1)
    passed=$((passed + ${p:-0}))
    skipped=$((skipped + ${s:-0}))
    if [ "$rc" -ne 0 ] || [ -z "$p" ]; then
        status=1
        failed_tests+=("$name (exit $rc, see $out)")
        grep -E '^\[  FAILED  \]|Failure|error' "$out" | head -n 20 || true
    fi
    echo "$name: ${p:-0} passed, ${s:-0} skipped (exit $rc)"
    grep -A1 '^\[  SKIPPED \] [A-Za-z]' "$out" | grep -v '^--$' | sed 's/^/    /' || true
done
echo "Windows unit tests under Wine: $passed passed, $skipped skipped, ${#failed_tests[@]} executables failed."
for f in "${failed_tests[@]}"; do echo "  FAILED: $f"; done

# ---- 2. a whole update on COM5 ---------------------------------------------
cli="$win/cli/kelobsl-cli.exe"
update_com5 "Windows update under Wine (kelobsl-cli.exe update --port COM5)" "$work/update.out" \
    "$wine" "$cli" update --port COM5 --demo-image --verbose

start_sim
(cd "$work" && "$wine" "$cli" list-ports --all >"$work/list-ports.out" 2>&1) || true
stop_sim
check "list-ports --all lists COM5" grep -q "^COM5\b\|[[:space:]]COM5\b" "$work/list-ports.out"
tr -d '\r' <"$work/list-ports.out" | sed 's/^/    /'
# kelobsl-cli.exe's manifest makes UTF-8 its code page: a name outside the
# old ANSI code page reaches fopen intact (Wine reads the Linux name as UTF-8
# only in a UTF-8 locale).
mkdir -p "$work/Ω" && cp "$root/firmware/R7F-3-52.txt" "$work/Ω/"
(cd "$work" && LC_ALL=C.UTF-8 "$wine" "$cli" inspect "Ω/R7F-3-52.txt" >"$work/inspect-utf8.out" 2>&1) || true
check "inspect reads a firmware file in a folder named Ω" grep -q "^Target: *R7F 3.52" "$work/inspect-utf8.out"

if [ "$e2e_ok" = 1 ]; then
    echo "Windows update under Wine: passed."
else
    echo "Windows update under Wine: FAILED: see $work/update.out"
    status=1
fi

# ---- 3. the window ---------------------------------------------------------
bash "$root/tools/test-windows-ui.sh" "$win" "$native" || status=1

echo "Windows stage took $((SECONDS - started)) s."
exit $status
