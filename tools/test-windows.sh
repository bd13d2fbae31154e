#!/usr/bin/env bash
# The Windows stage of the test command, under Wine, headless:
#  1. every Windows unit test executable of the cross build, with COM20/COM21
#     joined by kelo_pty_pair (the scripted peer drives COM21, the code under
#     test opens COM20) and COM30 linked to a plain file;
#  2. a whole update: kelosim on a pseudo-terminal linked as COM5,
#     kelobsl-cli.exe updates it from R7F 3.51 to 3.52; the flash must equal
#     the image, the settings must be back and the log must be in the Windows
#     data folder; `list-ports --all` must list COM5.
#   tools/test-windows.sh [cross-build-folder] [native-build-folder]
# The cross build comes from tools/check-windows-build.sh; kelosim and
# kelo_pty_pair from the native build. Without Wine the stage is skipped.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
win="$(realpath -m "${1:-$root/build-mingw}")"
native="$(realpath -m "${2:-$root/build}")"
started=$SECONDS

wine=$(command -v wine || command -v wine64 || true)
if [ -z "$wine" ]; then
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

# A prefix of our own under the build folder; made once, reused after.
export WINEPREFIX="$win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX ..."
    "$wine" wineboot --init >/dev/null 2>&1
fi
dos="$WINEPREFIX/dosdevices"
# Start Wine's server and services once, kept for the whole stage: its device
# manager redoes the COM links as it starts, so ours are made after it.
wineserver -p 30 2>/dev/null || true
"$wine" cmd /c exit >/dev/null 2>&1 || true
work="$win/wine-run"
rm -rf "$work"
mkdir -p "$work"

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -f "$dos/com5" "$dos/com20" "$dos/com21" "$dos/com30"
}
trap cleanup EXIT

# Waits until file $1 has a line starting with $2 (at most 10 s).
wait_for_line() {
    for _ in $(seq 100); do
        grep -q "^$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "no '$2' line in $1" >&2
    return 1
}

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
e2e_failed() { echo "Windows update under Wine: FAILED: $*"; status=1; }
cli="$win/cli/kelobsl-cli.exe"
appdata_user="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Tessaly/KeloBSL"
rm -rf "$appdata_user"
state="$work/device.state"
dump="$work/flash.bin"

start_sim() {
    "$native/sim/kelosim" --type R7F --version 3.51 --state "$state" --flash-dump "$dump" \
        --link "$dos/com5" "$@" >"$work/kelosim.out" 2>&1 &
    sim_pid=$!
    pids+=("$sim_pid")
    wait_for_line "$work/kelosim.out" "ready "
    sim_path=$(sed -n 's/^ready //p' "$work/kelosim.out" | head -n1)
}
stop_sim() {
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
}
# One command to the simulated instrument from the Linux side; prints the
# answer without CR, LF and prompt. In a session of its own, so the pty does
# not become our controlling terminal (its hang-up would then reach Wine).
ask() {
    setsid -w bash -c '
        exec 3<>"$1"
        stty -F "$1" raw -echo 9600
        printf "%s\r" "$2" >&3
        IFS= read -r -d ">" -t 3 answer <&3
        printf "%s" "$answer" | tr -d "\r\n"' _ "$sim_path" "$1"
}

start_sim
adccal=$(ask "get -adccal")
config=$(ask "get -config")
update_rc=0
(cd "$work" && "$wine" "$cli" update --port COM5 --demo-image --verbose >"$work/update.out" 2>&1) || update_rc=$?
version=$(ask "get -ver")
post=$(ask "post")
adccal_after=$(ask "get -adccal")
config_after=$(ask "get -config")
stop_sim

e2e_ok=1
check() {  # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then echo "  ok: $what"; else echo "  FAILED: $what"; e2e_ok=0; fi
}
echo "Windows update under Wine (kelobsl-cli.exe update --port COM5):"
grep -v '%$' "$work/update.out" | tr -d '\r' | tail -n 3 | sed 's/^/    /'
check "exit code 0" test "$update_rc" -eq 0
check "\"Successfully updated firmware in\"" grep -q "Successfully updated firmware in" "$work/update.out"
check "the instrument reports R7F 3.52" test "$version" = "R7F 3.52"
check "post answers Code Good!" test "$post" = "Code Good!"
check "settings restored (adccal, config)" test -n "$adccal" -a "$adccal" = "$adccal_after" -a "$config" = "$config_after"
check "log in the Windows data folder" \
    grep -q "BSLSendFirmware successful" "$appdata_user/Hydrova Series 3 Firmware Updater.errors.txt"
# The flash against the image as srec_cat reads it: program flash and the top
# segment (information flash holds the settings; 0xFA00-0xFDFF is the
# bootloader's own).
srec_cat "$root/firmware/R7F-3-52.txt" -ti_txt -fill 0xFF 0x0000 0x10000 -o "$work/expected.bin" -binary
same_range() {  # same_range FROM LENGTH
    cmp -s <(tail -c +$(($1 + 1)) "$dump" | head -c "$2") \
           <(tail -c +$(($1 + 1)) "$work/expected.bin" | head -c "$2")
}
check "flash equals the image" same_range $((0x1100)) $((0xFA00 - 0x1100))
check "top segment equals the image" same_range $((0xFE00)) $((0x200))

start_sim
(cd "$work" && "$wine" "$cli" list-ports --all >"$work/list-ports.out" 2>&1) || true
stop_sim
check "list-ports --all lists COM5" grep -q "^COM5\b\|[[:space:]]COM5\b" "$work/list-ports.out"
tr -d '\r' <"$work/list-ports.out" | sed 's/^/    /'

if [ "$e2e_ok" = 1 ]; then
    echo "Windows update under Wine: passed."
else
    e2e_failed "see $work/update.out"
fi

echo "Windows stage took $((SECONDS - started)) s."
exit $status
