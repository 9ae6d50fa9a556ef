#!/usr/bin/env bash
# The batch form over several files with GNU parallel, as the README shows
# it: one analysis per file, each into its own folder.
# Arguments: the program, the examples folder.
set -euo pipefail
program=$1
examples=$2
if ! command -v parallel >/dev/null; then
  echo "skipped: GNU parallel is not installed (tools/install-deps installs it)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Each file with its own layout options: {2} is inserted unquoted, as words.
parallel --will-cite --halt now,fail=1 --link \
  "$program" analyse {1} '{=2 uq() =}' --out "$work/results/{1/.}" --quiet \
  ::: "$examples/sunspots.dat" "$examples/nino12.tsf" \
  ::: "--layout single" "--layout monthly --skip 3 --multiplier 0.01"

for expected in sunspots/sunspots.spectrum.csv sunspots/sunspots.peaks.csv \
                nino12/nino12.spectrum.csv nino12/nino12.peaks.csv \
                sunspots/summary.json nino12/summary.json; do
  if [ ! -s "$work/results/$expected" ]; then
    echo "missing: results/$expected"
    exit 1
  fi
done
grep -q '"status": "ok"' "$work/results/nino12/summary.json"
echo "parallel run wrote both files' results"
