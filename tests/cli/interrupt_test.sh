#!/usr/bin/env bash
# SIGINT and SIGTERM during quorvane analyse, evolve and coherence, at each
# stage of a long run (the transforms, the Monte Carlo surrogates, the
# writing): the run ends within a second of the signal (3 s allowed for a
# loaded machine; each time is printed), the exit status names the signal
# (128 + its number), no temporary file (.NAME.XXXXXX) is left in the output
# folder, and every result file there is complete.
# Arguments: the program.
set -euo pipefail
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Two series of 2^18 values in a csv file: their spectra and files take long
# enough to be interrupted at a chosen stage.
rows=262144
awk -v n=$rows 'BEGIN { srand(3); print "time,a,b";
  for (i = 0; i < n; ++i) printf "%d,%.3f,%.3f\n", i, sin(0.3 * i) + rand(), rand() }' >"$work/long.csv"
# Surrogates of 2^15 values: each of their stages is short even on a loaded
# machine, so that the time to stop measures the checks, not the load.
head -n 32769 "$work/long.csv" >"$work/mid.csv"

fail() {
  echo "$1"
  cat "$work/err"
  exit 1
}

# run SIGNAL STATUS CONDITION COMMAND...: starts the program with COMMAND
# (its folder is $work/out), sends SIGNAL once CONDITION holds, and checks the
# exit status and that no temporary file is left.
# A loaded machine may let the run pass the stage, or finish its last
# file, before the signal arrives (a run that completes everything exits
# 0): it is then started again, up to five times.
run() {
  local signal=$1 expected=$2 condition=$3
  shift 3
  local pid status attempt sent ended
  for ((attempt = 0; attempt < 5; ++attempt)); do
    rm -rf "$work/out"
    "$program" "$@" --out "$work/out" --quiet 2>"$work/err" &
    pid=$! status=0
    for ((i = 0; i < 3000; ++i)); do
      if eval "$condition"; then break; fi
      kill -0 $pid 2>/dev/null || break
      sleep 0.01
    done
    sent=$(date +%s%N)
    kill -"$signal" $pid 2>/dev/null || true
    wait $pid || status=$?
    ended=$(date +%s%N)
    [ "$status" -eq 0 ] || break
  done
  local took=$(((ended - sent) / 1000000))
  echo "$1 $(basename "${2:-}") stopped by SIG$signal in $took ms"
  ((took < 3000)) || fail "$* took $took ms to stop after SIG$signal"
  [ "$status" -eq "$expected" ] || fail "$* stopped by SIG$signal: exit status $status, not $expected"
  grep -q "interrupted by SIG$signal" "$work/err" || fail "no word of SIG$signal on the error stream"
  local left
  left=$(find "$work/out" -name '.*.??????')
  [ -z "$left" ] || fail "temporary files left: $left"
  [ ! -e "$work/out/summary.json" ] || fail "an interrupted run wrote summary.json"
}

# Every line of a complete CSV file has the header's number of fields.
complete() {
  awk -F, 'NR == 1 { n = NF } NF != n { exit 1 } END { exit NR == 0 }' "$1"
}

temporary() { [ -n "$(find "$work/out" -name "$1" 2>/dev/null)" ]; }

# During the first spectrum: the folder is made once the file is read.
run INT 130 '[ -d "$work/out" ]' analyse "$work/long.csv" --layout csv --jobs 1
[ -z "$(ls "$work/out")" ] || fail "files written after an interruption during the spectrum"

# While the second series' spectrum is written: the first one's files stay,
# complete, with a row for every frequency of the band, 0 to 0.5 - 1/N.
run TERM 143 'temporary ".b.spectrum.csv.??????"' analyse "$work/long.csv" --layout csv --jobs 1
complete "$work/out/a.spectrum.csv" || fail "a.spectrum.csv is not complete"
complete "$work/out/a.peaks.csv" || fail "a.peaks.csv is not complete"
[ "$(wc -l <"$work/out/a.spectrum.csv")" -eq $((rows / 2 + 1)) ] || fail "a.spectrum.csv lacks rows"
tail -n 1 "$work/out/a.spectrum.csv" | awk -F, -v last=$((rows / 2 - 1)) -v n=$rows \
  '{ exit int($1 * n + 0.5) != last }' || fail "a.spectrum.csv ends early"
[ "$(ls "$work/out")" = "$(printf 'a.peaks.csv\na.spectrum.csv')" ] || fail "unexpected files"

# The same in NetCDF, once the first series' file is complete: the second
# one's, made in memory and then written, is not left behind.
run TERM 143 '[ -e "$work/out/a.spectrum.nc" ]' analyse "$work/long.csv" --layout csv --jobs 1 \
  --format netcdf
[ -s "$work/out/a.spectrum.nc" ] || fail "a.spectrum.nc is missing"

# evolve writes its matrices as the windows come.
run INT 130 'temporary ".a.evolutive-power.csv.??????" && sleep 0.1' evolve "$work/long.csv" \
  --layout csv --series a --window 2048 --step 256
[ -z "$(ls "$work/out")" ] || fail "evolve left files after an interruption"
# During the Monte Carlo surrogates of analyse and of coherence (each takes
# seconds), a second after the folder is made.
run INT 130 '[ -d "$work/out" ] && sleep 1' analyse "$work/mid.csv" --layout csv --series a \
  --significance montecarlo --surrogates 5000 --jobs 2
[ -z "$(ls "$work/out")" ] || fail "files written after an interruption of the surrogates"
run INT 130 '[ -d "$work/out" ] && sleep 1' coherence "$work/mid.csv" --layout csv \
  --estimate adaptive --surrogates 5000 --jobs 2
[ -z "$(ls "$work/out")" ] || fail "coherence wrote files after an interruption"
# coherence while it writes its file.
run TERM 143 'temporary ".a__b.coherence.csv.??????"' coherence "$work/long.csv" --layout csv
echo "interrupted runs left no temporary file, and the completed files whole"
