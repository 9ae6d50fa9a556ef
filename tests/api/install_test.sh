#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses what it installed, as a
# consumer on another machine would: examples/consumer through
# find_package(Quorvane), the same program through pkg-config, and the
# Python package from the prefix's own folder, without the build tree.
# Arguments: the build folder, the source folder, the Python interpreter.
set -euo pipefail
build=$1 source=$2 python=${3:-}
work=$(mktemp -d "$build/install_test.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log"
cmake -S "$source/examples/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  >"$work/configure.log" || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/consumer" >"$work/build.log" || { cat "$work/build.log"; exit 1; }
out=$("$work/consumer/peaks" "$source/examples/sunspots.dat")
echo "$out"
grep -q "sunspots, 309 values" <<<"$out"
grep -Eq "^ +0\.09473 +10\.56 +99 %" <<<"$out"   # the 11-year cycle, at its maximum

# The pkg-config line alone: the program finds the library in the prefix
# without a loader cache entry or LD_LIBRARY_PATH.
pc=$(dirname "$(find "$prefix" -name quorvane.pc)")
# shellcheck disable=SC2046
g++ -o "$work/peaks_pc" "$source/examples/consumer/peaks.cc" \
  $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs quorvane)
[ "$(env -u LD_LIBRARY_PATH "$work/peaks_pc" "$source/examples/sunspots.dat")" = "$out" ]

if [ -n "$python" ]; then
  site=$(dirname "$(find "$prefix" -path '*/quorvane/__init__.py')")
  (cd "$work" && env -u PYTHONPATH PYTHONPATH="$(dirname "$site")" "$python" -c '
import sys, quorvane
assert quorvane.__file__.startswith(sys.argv[1]), quorvane.__file__
print(quorvane.spectrum(quorvane.read(sys.argv[2], "single")[0]))' "$prefix" \
    "$source/examples/sunspots.dat")
fi
