#!/usr/bin/env bash
# The same update at the wire rate of a real line, on Linux and under Wine:
# kelosim --pace 9600 as an R7F 3.51, updated to 3.52 by kelobsl-cli and by
# kelobsl-cli.exe on COM5. Prints both wall times; fails when Wine takes more
# than 5 % longer. Each run takes about a minute, so this is not part of the
# test command.
#   tools/paced-update-times.sh [native-build] [cross-build]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
native="$(realpath -m "${1:-$root/build}")"
win="$(realpath -m "${2:-$root/build-mingw}")"
wine=$(command -v wine || command -v wine64 || true)
[ -n "$wine" ] || { echo "Wine is not installed (apt-get install wine wine64)." >&2; exit 2; }
for f in "$native/sim/kelosim" "$native/cli/kelobsl-cli" "$win/cli/kelobsl-cli.exe"; do
    [ -x "$f" ] || { echo "$f is missing: build it first." >&2; exit 2; }
done

export WINEPREFIX="$win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot --init >/dev/null 2>&1
work=$(mktemp -d)
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -f "$WINEPREFIX/dosdevices/com5"
    rm -rf "$work"
}
trap cleanup EXIT

# start_sim NAME [kelosim options]: a fresh paced instrument; sets sim_path.
start_sim() {
    local name=$1
    shift
    "$native/sim/kelosim" --type R7F --version 3.51 --pace 9600 \
        --state "$work/$name.state" "$@" >"$work/$name.sim" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do grep -q '^ready ' "$work/$name.sim" && break; sleep 0.1; done
    sim_path=$(sed -n 's/^ready //p' "$work/$name.sim")
}
stop_sim() {
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
}
# timed NAME COMMAND...: runs the update, prints its wall time in ms.
timed() {
    local name=$1
    shift
    local t0 t1
    t0=$(date +%s%N)
    if ! "$@" >"$work/$name.out" 2>&1 || ! grep -q "Successfully updated firmware in" "$work/$name.out"; then
        echo "The $name update failed:" >&2
        tail -n 5 "$work/$name.out" >&2
        exit 1
    fi
    t1=$(date +%s%N)
    echo $(((t1 - t0) / 1000000))
}

start_sim linux
linux_ms=$(timed linux "$native/cli/kelobsl-cli" update --port "$sim_path" --demo-image --data-dir "$work/linux-data")
stop_sim

# Wine's own start (its server and services, a few seconds when cold) is no
# part of the update: start it first, and say how long it took. Its device
# manager redoes the COM links as it starts, so COM5 is linked after it.
t0=$(date +%s%N)
wineserver -p 30 2>/dev/null || true
"$wine" "$win/cli/kelobsl-cli.exe" --version >/dev/null 2>&1
start_ms=$(( ($(date +%s%N) - t0) / 1000000 ))
start_sim wine --link "$WINEPREFIX/dosdevices/com5"
wine_ms=$(timed wine "$wine" "$win/cli/kelobsl-cli.exe" update --port COM5 --demo-image --data-dir 'C:\kelo-paced')
stop_sim

percent=$(( (wine_ms - linux_ms) * 1000 / linux_ms ))
printf 'Paced update (9600 baud, R7F 3.51 -> 3.52)\n'
printf '  Linux kelobsl-cli:          %d.%03d s\n' $((linux_ms / 1000)) $((linux_ms % 1000))
printf '  Wine  kelobsl-cli.exe COM5: %d.%03d s\n' $((wine_ms / 1000)) $((wine_ms % 1000))
printf '  (Wine itself started in %d ms before, not counted)\n' "$start_ms"
printf '  Wine - Linux: %s%d.%d %%\n' "$([ "$percent" -lt 0 ] && echo -)" $(( ${percent#-} / 10 )) $(( ${percent#-} % 10 ))
if [ $((wine_ms * 100)) -gt $((linux_ms * 105)) ]; then
    echo "Wine is more than 5 % slower than Linux." >&2
    exit 1
fi
