#!/usr/bin/env bash
# Builds the Debian package of the build folder and checks what a fresh
# machine needs from it: its control fields; Depends naming every package
# that dpkg-shlibdeps finds for the binaries it holds, and what the Python
# module imports; and, unpacked into a temporary root, the program's version,
# one analysis of the installed example series and the Python module's
# import, with no path into the build tree.
# Arguments: the build folder, the Python interpreter (empty: no module).
set -euo pipefail
build=$1 python=${2:-}
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not available (tools/install-deps installs dpkg-dev)"
    exit 77
  fi
done
# A sanitized build's tests preload the sanitizer runtimes for programs that
# load its library; the packaging tools must not run under them (cpack then
# hangs), so only the Python import below gets them back.
preload=${LD_PRELOAD:-}
unset LD_PRELOAD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log"
  exit 1
}
package=$(ls "$work"/package/*.deb)
field() { dpkg-deb -f "$package" "$1"; }
for name in Package Version Architecture Maintainer Section Priority Description Depends; do
  [ -n "$(field "$name")" ] || fail "no $name field"
done
[ "$(field Package)" = quorvane ] || fail "package name: $(field Package)"
dpkg-deb -x "$package" "$work/root"
[ -f "$work/root/usr/share/doc/quorvane/copyright" ] || fail "no copyright file"

# Every dependency dpkg-shlibdeps computes from the binaries, as Depends
# writes it (the package's own libquorvane found in the unpacked root).
depends=$(field Depends)
mapfile -t binaries < <(find "$work/root" -type f \( -perm -u+x -o -name '*.so*' \) \
  -exec sh -c 'head -c 4 "$1" | grep -q ELF' _ {} \; -print)
((${#binaries[@]} >= 2)) || fail "binaries found: ${binaries[*]}"
mkdir -p "$work/shlibdeps/debian"
printf 'Source: quorvane\n\nPackage: quorvane\nArchitecture: any\n' >"$work/shlibdeps/debian/control"
computed=$(cd "$work/shlibdeps" && dpkg-shlibdeps -O --ignore-missing-info \
  -l"$work/root/usr/lib" "${binaries[@]}" 2>"$work/shlibdeps.log") || {
  cat "$work/shlibdeps.log"
  exit 1
}
IFS=',' read -ra needed <<<"${computed#shlibs:Depends=}"
((${#needed[@]} >= 3)) || fail "dpkg-shlibdeps found only: $computed"
for dependency in "${needed[@]}"; do
  dependency=$(echo "$dependency" | xargs)
  grep -qF "$dependency" <<<"$depends" || fail "Depends lacks \"$dependency\": $depends"
done
for dependency in libplplot-data plplot-driver-cairo; do
  grep -q "$dependency" <<<"$depends" || fail "Depends lacks $dependency: $depends"
done

program=$work/root/usr/bin/quorvane
version=$(env -u LD_LIBRARY_PATH "$program" --version)
[ "$version" = "quorvane $(field Version | cut -d- -f1)" ] || fail "unexpected version: $version"
[ -f "$work/root/usr/share/man/man1/quorvane.1" ] || fail "no manual page"
"$program" analyse "$work/root/usr/share/doc/quorvane/examples/sunspots.dat" --layout single \
  --reconstruct peaks --out "$work/results" --quiet
for file in sunspots.spectrum.csv sunspots.peaks.csv sunspots.recon.csv summary.json; do
  [ -s "$work/results/$file" ] || fail "missing: $file"
done

if [ -n "$python" ]; then
  for dependency in python3 python3-numpy; do
    grep -Eq "(^|, )$dependency( |,|$)" <<<"$depends" || fail "Depends lacks $dependency: $depends"
  done
  [ "$(field Recommends)" = "python3-pandas, python3-xarray" ] || fail "Recommends: $(field Recommends)"
  site=$(dirname "$(dirname "$(find "$work/root" -path '*/quorvane/__init__.py')")")
  (cd "$work" && env -u LD_LIBRARY_PATH ${preload:+LD_PRELOAD="$preload"} PYTHONPATH="$site" "$python" -c '
import sys, quorvane
assert quorvane.__file__.startswith(sys.argv[1]), quorvane.__file__
s = quorvane.spectrum(quorvane.read(sys.argv[2], "single")[0])
assert abs(s.peaks.frequency - 1 / 11).min() < 0.01, s.peaks' "$work/root" \
    "$work/root/usr/share/doc/quorvane/examples/sunspots.dat")
fi
echo "$(basename "$package") unpacked and ran; Depends: $depends"
