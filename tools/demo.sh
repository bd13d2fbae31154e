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
build/sim/kelosim --type R7F --version 3.51 >"$sim_out" 2>"$work/kelosim.err" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null || true; wait $sim_pid 2>/dev/null || true' EXIT

for _ in $(seq 50); do
  grep -q '^ready ' "$sim_out" 2>/dev/null && break
  sleep 0.1
done
port=$(awk '/^ready /{print $2; exit}' "$sim_out")
if [ -z "$port" ]; then
  echo "demo: the simulator did not start; see $work/kelosim.err" >&2
  exit 1
fi
echo "demo: simulated R7F 3.51 on $port"

# A plain exchange with the simulated instrument's command interpreter.
stty -F "$port" raw -echo 9600
exec 3<>"$port"
printf 'get -ver\r' >&3
IFS= read -r -t 3 -d '>' -u 3 answer || true
exec 3>&-
answer=${answer//$'\r'/}
echo "demo: the instrument answered: ${answer//$'\n'/ }"
