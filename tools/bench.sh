#!/usr/bin/env bash
# Factory benchmark: updates simulated R7F instruments (3.51 -> the built-in
# 3.52) on kelosim paced at 9600 baud, first one, then several at once with one
# kelobsl-cli update run (--port repeated), then one and the largest count with
# a station (kelobsl-cli station --count N, every device plugged in), and
# prints one table row per run: wall time, the floor the line allows, their
# ratio, the CPU time kelobsl-cli used as a share of the wall time, and its
# peak memory, with the goals beside them. Each run takes a little over a
# minute; this is not part of the test command.
# Then a station's own two figures: the CPU a station waiting on 8 ports uses,
# and the time from a device appearing on a port to the first byte sent to it.
#   tools/bench.sh [build-folder] [instrument counts, default: 1 8 32]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${1:-$root/build}")"
if [ $# -gt 0 ]; then shift; fi
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1 8 32)

sim="$build/sim/kelosim"
cli="$build/cli/kelobsl-cli"
for f in "$sim" "$cli"; do
    [ -x "$f" ] || { echo "$f is missing: build first with: bash tools/build.sh $build" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing: apt-get install time (or bash tools/install-deps.sh)" >&2; exit 2; }

readonly baud=9600
# The waits an R7F update must sit out whatever the line does, summed from the
# code (the whole update stays at 9600 baud, so no rate change adds any):
#   KeloBSLHost::BSLConnect        1000  after opening the port
#   KeloBSLHost::BSLInvocation     1000  after "boot ...", before reading the answer
#                                   100  after CR, before reading "$"
#                                   100  after "P", before reading "#"
#   KeloBSLHost::BSLDisconnect      100  after closing the port
#   the R7F's restartWaitMs        2000  instrument/DeviceTypes.cpp, after the vectors
#   Kelo_protocol::QPDisconnect     100  twice: before the loader and at the end
#                                  ----
readonly pause_ms=4500
# Floor of one instrument: every byte kelosim took in or sent, at 10 bits a
# byte, plus those waits. A parallel run's floor is its slowest instrument's.

work=$(mktemp -d)
sim_pids=()
stop_sims() {
    local pid
    for pid in "${sim_pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${sim_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    sim_pids=()
}
keep=0
cleanup() {
    stop_sims
    if [ "$keep" -eq 1 ]; then
        echo "The simulators' output, the updates' logs and settings files are kept in $work" >&2
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT

# run N COMMAND: updates N instruments at once with kelobsl-cli COMMAND (update
# or station); appends its figures to $work/rows as
# "N command rc wall_ms floor_ms cpu_ms peak_kb".
runs=0
run() {
    runs=$((runs + 1))
    local n=$1 command=$2 dir="$work/run$runs-$1" i ports=() extra=()
    mkdir -p "$dir"
    for ((i = 1; i <= n; i++)); do
        "$sim" --type R7F --version 3.51 --sn "KS90000$i" --pace "$baud" \
            --link "$dir/port$i" --stats "$dir/sim$i.stats" >"$dir/sim$i.out" 2>&1 &
        sim_pids+=($!)
        ports+=(--port "$dir/port$i")
    done
    for ((i = 1; i <= n; i++)); do
        for _ in $(seq 100); do grep -q '^ready ' "$dir/sim$i.out" && break; sleep 0.1; done
        grep -q '^ready ' "$dir/sim$i.out" || { echo "kelosim $i did not start:" >&2; cat "$dir/sim$i.out" >&2; exit 1; }
    done

    # A station finds every device plugged in and stops after the N-th.
    [ "$command" = station ] && extra=(--count "$n")
    local t0 t1 rc=0
    t0=$(date +%s%N)
    /usr/bin/time -f '%U %S %M' -o "$dir/time" \
        "$cli" "$command" "${ports[@]}" "${extra[@]}" --demo-image --yes --data-dir "$dir/data" >"$dir/cli.out" 2>&1 || rc=$?
    t1=$(date +%s%N)
    stop_sims
    if [ "$rc" -ne 0 ]; then
        keep=1
        echo "The $command run with $n instrument(s) failed (exit $rc); its last lines:" >&2
        tail -n 8 "$dir/cli.out" >&2
    fi

    local floor_ms=0 rx tx ms
    for ((i = 1; i <= n; i++)); do
        [ -s "$dir/sim$i.stats" ] || { echo "kelosim $i wrote no byte counts" >&2; exit 1; }
        rx=$(sed -n 's/.*rx=\([0-9]*\).*/\1/p' "$dir/sim$i.stats")
        tx=$(sed -n 's/.*tx=\([0-9]*\).*/\1/p' "$dir/sim$i.stats")
        ms=$(((rx + tx) * 10 * 1000 / baud + pause_ms))
        if [ "$ms" -gt "$floor_ms" ]; then floor_ms=$ms; fi
    done
    # /usr/bin/time writes a "Command exited" line first when the command failed.
    local cpu_ms=0 peak_kb=0
    read -r cpu_ms peak_kb < <(awk 'NF == 3 { printf "%d %d\n", ($1 + $2) * 1000, $3 }' "$dir/time") ||
        { echo "/usr/bin/time wrote no figures:" >&2; cat "$dir/time" >&2; exit 1; }
    echo "$n $command $rc $(((t1 - t0) / 1000000)) $floor_ms $cpu_ms $peak_kb" >>"$work/rows"
}

echo "kelobsl-cli update of R7F 3.51 on kelosim --pace $baud; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for n in "${counts[@]}"; do run "$n" update; done
largest=$(printf '%s\n' "${counts[@]}" | sort -n | tail -n 1)
run 1 station
[ "$largest" -gt 1 ] && run "$largest" station

status=0
awk -v cores="$(nproc)" '
function goal(ok) { return ok ? "PASS" : "MISS" }
{ n[NR] = $1; cmd[NR] = $2; rc[NR] = $3; wall[NR] = $4; floor[NR] = $5; cpu[NR] = $6; peak[NR] = $7
  if ($1 == 1 && $3 == 0 && !one[$2]) one[$2] = $4 }
END {
    print "| command | instruments | result | wall s | floor s | wall / floor | wall / one | CPU % of wall (per instrument) | peak MB |"
    print "|---|---|---|---|---|---|---|---|---|"
    failed = 0
    for (r = 1; r <= NR; r++) {
        ratio = sprintf("%.3f", wall[r] / floor[r])
        if (n[r] == 1) ratio = ratio " " goal(wall[r] <= 1.01 * floor[r])
        base = one[cmd[r]]
        vs = base ? sprintf("%.3f", wall[r] / base) : "n/a"
        if (base && n[r] > 1) vs = vs " " goal(wall[r] <= 1.05 * base)
        share = 100 * cpu[r] / wall[r]
        mb = peak[r] / 1024
        printf "| %s | %d | %s | %.2f | %.2f | %s | %s | %.2f (%.2f) %s | %.1f %s |\n", cmd[r], n[r],
               rc[r] == 0 ? "ok" : "exit " rc[r], wall[r] / 1000, floor[r] / 1000, ratio, vs,
               share, share / n[r], goal(share / n[r] <= 1), mb, goal(mb <= 20)
        if (rc[r] != 0) failed = 1
    }
    print ""
    print "Goals: one instrument wall / floor <= 1.01; several instruments wall <= 1.05 x one (of the same command);"
    print "CPU <= 1 % of wall per instrument; peak memory (max RSS of kelobsl-cli) <= 20 MB."
    printf "Floor: bytes in and out of each kelosim x 10 bits / 9600 baud + 4.5 s of mandated waits. %d cores.\n", cores
    exit failed
}' "$work/rows" || status=$?

# The station: CPU while 8 ports wait (nothing plugged in), then one device
# appearing on a port that was waiting for it.
station_dir="$work/station"
mkdir -p "$station_dir"
station_ports=()
for ((i = 1; i <= 8; i++)); do station_ports+=(--port "$station_dir/wait$i"); done
"$cli" station "${station_ports[@]}" --demo-image --yes --data-dir "$station_dir/data" >"$station_dir/wait.out" 2>&1 &
station_pid=$!
sleep 2
ticks() { awk '{ print $14 + $15 }' "/proc/$station_pid/stat"; }
readonly wait_s=30
t0=$(ticks)
sleep "$wait_s"
t1=$(ticks)
kill -INT "$station_pid"
wait "$station_pid" || true
wait_share=$(awk -v t="$((t1 - t0))" -v hz="$(getconf CLK_TCK)" -v s="$wait_s" 'BEGIN { printf "%.3f", 100 * t / hz / s }')

"$cli" station --port "$station_dir/plug" --count 1 --demo-image --yes --data-dir "$station_dir/data" \
    >"$station_dir/plug.out" 2>&1 &
station_pid=$!
sleep 3
"$sim" --type R7F --version 3.51 --link "$station_dir/plug" --trace >"$station_dir/sim.out" 2>"$station_dir/trace" &
sim_pids+=($!)
wait "$station_pid" || { keep=1; echo "the station's update failed; its last lines:" >&2; tail -n 8 "$station_dir/plug.out" >&2; }
stop_sims
appear_ms=$(awk '/ -- plugged / { plugged = $1 } / << / && plugged { print $1 - plugged; exit }' "$station_dir/trace")
[ -n "$appear_ms" ] || { keep=1; echo "no byte reached the device that appeared" >&2; appear_ms=999999; }
echo
echo "| station | figure | goal |"
echo "|---|---|---|"
awk -v w="$wait_share" -v a="$appear_ms" 'BEGIN {
    printf "| 8 ports waiting | %.3f %% of one core | <= 0.5 %% %s |\n", w, w <= 0.5 ? "PASS" : "MISS"
    printf "| device appears -> first byte sent | %d ms | <= 1000 ms %s |\n", a, a <= 1000 ? "PASS" : "MISS"
    exit !(w <= 0.5 && a <= 1000)
}' || status=1
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
