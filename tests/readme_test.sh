#!/usr/bin/env bash
# Runs every shell and Python block of README.md in order, as a reader
# would from the top of a fresh checkout once the program is built, in a
# scratch copy of the examples and the manual page, so that no result lands
# in the checkout. Fails on the first block that exits non-zero.
# The set-up commands (tools/run, tools/test) are what built the program
# under test, and are left out.
# Arguments: the source folder, the build folder, the Python interpreter.
set -euo pipefail
source=$1 build=$2 python=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$source/examples" "$source/doc" "$work/"
ln -s "$build" "$work/build"

# Block n goes to block_<n>.sh or block_<n>.py.
awk -v dir="$work" '
  /^```(sh|python)$/ { n++; ext = ($0 == "```sh") ? "sh" : "py";
                       file = sprintf("%s/block_%02d.%s", dir, n, ext); next }
  /^```/             { file = ""; next }
  file != ""         { if (ext == "sh" && $0 ~ /^tools\/(run|test)([ \t]|$)/) next;
                       print > file }
' "$source/README.md"

count=0
for block in "$work"/block_*; do
  count=$((count + 1))
  start=$SECONDS
  case $block in
    *.sh) command=(bash -e -o pipefail "$block") ;;
    *.py) command=(env PYTHONPATH=build/python "$python" "$block") ;;
  esac
  if ! (cd "$work" && env -u DISPLAY PYTHONDONTWRITEBYTECODE=1 "${command[@]}" \
          </dev/null >"$block.log" 2>&1); then
    echo "README block failed:"
    cat "$block"
    echo "--- its output:"
    tail -n 40 "$block.log"
    exit 1
  fi
  echo "$(basename "$block"): $((SECONDS - start)) s"
done
# An empty count means the blocks were not found, not that all ran.
[ "$count" -ge 10 ] || { echo "only $count blocks found in README.md"; exit 1; }
echo "$count README blocks ran"
