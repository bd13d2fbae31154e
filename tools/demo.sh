#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job against a simulated
# instrument on a pseudo-terminal.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash tools/install-deps.sh
bash tools/build.sh build

work=$(mktemp -d /tmp/kelobsl-demo.XXXXXX)
sim_out="$work/kelosim.out"
flash="$work/flash.bin"
build/sim/kelosim --type R7F --version 3.51 --flash-dump "$flash" >"$sim_out" 2>"$work/kelosim.err" &
sim_pid=$!
stop_sim() { kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; }
trap stop_sim EXIT

for _ in $(seq 50); do
  grep -q '^ready ' "$sim_out" 2>/dev/null && break
  sleep 0.1
done
port=$(awk '/^ready /{print $2; exit}' "$sim_out")
if [ -z "$port" ]; then
  echo "demo: the simulator did not start; see $work/kelosim.err" >&2
  exit 1
fi
echo "demo: a simulated Hydrova Series 3 running 3.51 is on $port"
echo

# The update itself, as a factory line or a script would run it.
status=0
build/cli/kelobsl-cli update --port "$port" --demo-image --data-dir "$work" --verbose || status=$?

stop_sim
trap - EXIT
echo
echo "demo: kelobsl-cli exited with $status"
echo "demo: diagnostic log:         $work/Hydrova Series 3 Firmware Updater.errors.txt"
echo "demo: simulator's flash dump: $flash"
exit $status
