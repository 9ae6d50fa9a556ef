#!/usr/bin/env bash
# Builds the Debian package of the build folder, unpacks it into a
# temporary folder and runs the unpacked program: its version, and one
# analysis of the installed example series.
# Argument: the build folder.
set -euo pipefail
build=$1
for tool in cpack dpkg-deb; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not available"
    exit 77
  fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log"
  exit 1
}
package=$(ls "$work"/package/*.deb)
dpkg-deb -x "$package" "$work/root"

program=$work/root/usr/bin/quorvane
version=$("$program" --version)
[ "$version" = "quorvane 15.0" ] || { echo "unexpected version: $version"; exit 1; }
[ -f "$work/root/usr/share/man/man1/quorvane.1" ] || { echo "no manual page"; exit 1; }

"$program" analyse "$work/root/usr/share/doc/quorvane/examples/sunspots.dat" --layout single \
  --reconstruct peaks --out "$work/results" --quiet
for file in sunspots.spectrum.csv sunspots.peaks.csv sunspots.recon.csv summary.json; do
  [ -s "$work/results/$file" ] || { echo "missing: $file"; exit 1; }
done
echo "$(basename "$package") unpacked and ran"
