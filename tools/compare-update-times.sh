#!/usr/bin/env bash
# Runs a whole update on a simulator paced at 9600 baud twice, once in the
# window (offscreen) and once with kelobsl-cli, and prints the largest
# event-loop gap of the window and both wall times. About two and a half minutes.
#   tools/compare-update-times.sh [build-folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${1:-$root/build}"
KELO_COMPARE_CLI=1 QT_QPA_PLATFORM=offscreen \
  "$build/tests/gui/window_tests" eventLoopStaysLiveOnAPacedLine 2>&1 | grep -E 'QINFO|PASS|FAIL|Totals'
