#!/usr/bin/env bash
# The output folder and the disk under it: one run per folder (a second run
# is refused with exit status 2, or waits with --wait; a killed run leaves no
# lock that blocks the next), and a full disk fails the series it cannot
# write with the real cause, frees the space at once and lets the later
# series be written, in both file formats.
# Arguments: the program. The full-disk cases need a small file system of
# their own (tmpfs, mounted as root); without that right they are skipped.
set -euo pipefail
program=$1
work=$(mktemp -d)
disk=$work/disk
cleanup() {
  mountpoint -q "$disk" 2>/dev/null && umount "$disk"
  rm -rf "$work"
}
trap cleanup EXIT

# A single-column file of two series: "long" (its spectrum file about 3 MB
# in CSV) and "short" (a few kB).
{
  echo long; echo 1
  awk 'BEGIN { srand(7); for (i = 0; i < 100000; ++i) printf "%.4f\n", rand() }'
  echo short; echo 1
  awk 'BEGIN { srand(8); for (i = 0; i < 64; ++i) printf "%.4f\n", rand() }'
} >"$work/two.dat"
awk 'BEGIN { srand(3); print "time,a"; for (i = 0; i < 65536; ++i) printf "%d,%.3f\n", i, rand() }' \
  >"$work/slow.csv"

fail() {
  echo "FAILED: $1"
  [ -f "$work/err" ] && cat "$work/err"
  exit 1
}

# Starts a slow run (Monte Carlo levels) into folder $1 in the background;
# its pid in $slow. Returns once the run holds the folder's lock.
start_slow_run() {
  "$program" analyse "$work/slow.csv" --layout csv --significance montecarlo --surrogates 3000 \
    --jobs 1 --out "$1" --quiet 2>/dev/null &
  slow=$!
  for ((i = 0; i < 500; ++i)); do
    # The kernel's list of locks, not a try of our own, which could make
    # the run find its folder in use.
    grep -q "FLOCK  *ADVISORY  *WRITE $slow " /proc/locks && return 0
    sleep 0.02
  done
  fail "the slow run never locked $1"
}

folder_in_use() {  # $@: a second run, into a folder in use: refused
  start_slow_run "$work/busy"
  status=0
  "$program" "$@" --out "$work/busy" --quiet 2>"$work/err" || status=$?
  kill -TERM $slow; wait $slow || true
  [ "$status" -eq 2 ] || fail "$1 into a folder in use: exit status $status, not 2"
  grep -q "in use by another run" "$work/err" || fail "$1: no word of the folder in use"
  [ -z "$(ls "$work/busy")" ] || fail "$1 wrote into a folder in use: $(ls "$work/busy")"
}

folder_waited_for() {  # with --wait, the second run starts when the first ends
  start_slow_run "$work/busy"
  ( sleep 1; kill -TERM $slow ) &
  "$program" analyse "$work/two.dat" --layout single --series short --out "$work/busy" --wait \
    --quiet 2>"$work/err" || fail "the waiting run failed"
  wait $slow || true
  [ -s "$work/busy/short.spectrum.csv" ] || fail "the waiting run wrote no spectrum"
}

killed_run_leaves_no_lock() {  # kill -9 leaves the lock file, but no lock
  start_slow_run "$work/killed"
  kill -KILL $slow; wait $slow || true
  "$program" analyse "$work/two.dat" --layout single --series short --out "$work/killed" \
    --quiet 2>"$work/err" || fail "a run after a killed one was refused"
}

# A full disk: "long" does not fit, "short" does; the space taken by the
# failed file comes back at once.
full_disk() {  # $1: the format
  rm -rf "${disk:?}"/*
  "$program" analyse "$work/two.dat" --layout single --format "$1" --out "$disk/out" --jobs 1 \
    --quiet 2>"$work/err" && fail "$1: a run on a full disk reported success"
  grep -q "series 1 (long) failed: cannot write .*No space left on device" "$work/err" ||
    fail "$1: the failure does not name the full disk"
  [ "$(grep -c failed "$work/err")" -eq 1 ] || fail "$1: more than the long series failed"
  grep -qi "hdf5\|permission denied" "$work/err" && fail "$1: library diagnostics on the error stream"
  local ext=csv
  [ "$1" = netcdf ] && ext=nc
  [ -s "$disk/out/short.spectrum.$ext" ] || fail "$1: the short series after the failure is missing"
  [ -z "$(find "$disk/out" -name '.*.??????')" ] || fail "$1: temporary files left"
  # df, not du: a file removed but held open still takes its space.
  [ "$(df -k --output=used "$disk" | tail -n 1)" -lt 200 ] ||
    fail "$1: the failed file's space was not freed"
}

cases=(
  "folder_in_use analyse $work/two.dat --layout single --series short"
  "folder_in_use evolve $work/two.dat --layout single --series short --window 16 --step 4"
  "folder_in_use coherence $work/two.dat --layout single"
  "folder_waited_for"
  "killed_run_leaves_no_lock"
  "full_disk csv"
  "full_disk netcdf"
)
mkdir -p "$disk"
can_mount=1
mount -t tmpfs -o size=1m tmpfs "$disk" 2>/dev/null || can_mount=0
for case in "${cases[@]}"; do
  if [[ $case == full_disk* ]] && ((can_mount == 0)); then
    echo "skipped: $case (no right to mount a small file system)"
    continue
  fi
  $case
  echo "ok: $case"
done
