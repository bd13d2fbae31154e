#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in their own build folder and runs each for a
# short fixed number of executions from its seed corpus:
#   tools/fuzz-check.sh [DIR [RUNS]]      (defaults: build-fuzz, 1000)
# Inputs the runs find go to DIR/check-corpus/<target> (emptied first, so
# every check does the same work), never into the seeds.
# A crash, a leak or a sanitizer report fails the script; the input that
# caused it is left in DIR as crash-*, leak-* or timeout-*.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$(realpath -m "${1:-$root/build-fuzz}")
runs=${2:-1000}
jobs=$(nproc 2>/dev/null || echo 2)

CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELO_FUZZ=ON >/dev/null
cmake --build "$dir" -j "$jobs"

# A smaller quarantine and no fill of new blocks: the answer targets allocate
# and log a lot, and this halves their time without hiding a fault.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=16:max_malloc_fill_size=0"

status=0
for seeds in "$root"/fuzz/corpus/*/; do
  target=$(basename "$seeds")
  found="$dir/check-corpus/$target"
  rm -rf "$found"
  mkdir -p "$found"
  start=$(date +%s)
  if (cd "$dir" && "./fuzz/fuzz_$target" -runs="$runs" -max_len=1024 -timeout=10 \
        "$found" "$seeds" >"$dir/fuzz_$target.log" 2>&1); then
    echo "fuzz_$target: $(grep -o 'Done [0-9]* runs' "$dir/fuzz_$target.log") in $(($(date +%s) - start)) s," \
      "$(grep -o 'cov: [0-9]* ft: [0-9]*' "$dir/fuzz_$target.log" | tail -1)"
  else
    echo "fuzz_$target FAILED; its report:"
    grep -v '^#' "$dir/fuzz_$target.log" | tail -40
    status=1
  fi
done
exit $status
