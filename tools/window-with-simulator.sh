#!/usr/bin/env bash
# Starts a simulated Hydrova Series 3 and the window pointed at its
# pseudo-terminal; the simulator stops when the window closes.
#   tools/window-with-simulator.sh [kelosim options...]   (default: --type R7F --version 3.51)
# Needs a display (or QT_QPA_PLATFORM=offscreen) and a build in build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KELO_BUILD:-$root/build}"
[ $# -gt 0 ] || set -- --type R7F --version 3.51

out=$(mktemp /tmp/kelosim.XXXXXX)
"$build/sim/kelosim" "$@" >"$out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true; rm -f "$out"' EXIT
for _ in $(seq 50); do grep -q '^ready ' "$out" && break; sleep 0.1; done
port=$(awk '/^ready /{print $2; exit}' "$out")
if [ -z "$port" ]; then
  echo "the simulator did not start:" >&2
  cat "$out" >&2
  exit 1
fi
echo "simulator on $port"
"$build/gui/qt/kelobsl" --port "$port"
