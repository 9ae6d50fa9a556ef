#!/usr/bin/env bash
# no_plotting_test.sh PROGRAM LIBRARY...: each LIBRARY loads no PLplot, neither
# itself nor through another library, while PROGRAM (which draws) does, so
# that the check is known to see PLplot where it is. Skips (77) without ldd.
set -u
if ! command -v ldd >/dev/null; then
  echo "ldd not found: not checked"
  exit 77
fi
loads_plplot() {
  local needed
  if ! needed=$(ldd "$1" 2>&1); then
    echo "ldd $1: $needed" >&2
    return 2
  fi
  grep -qi 'libplplot' <<<"$needed"
}
status=0
loads_plplot "$1"
case $? in
  0) ;;
  1) echo "$1 does not appear to load PLplot: ldd does not show what it loads"; status=1 ;;
  *) status=1 ;;
esac
shift
for library in "$@"; do
  loads_plplot "$library"
  case $? in
    0) echo "$library loads PLplot:"; ldd "$library" | grep -i plplot; status=1 ;;
    1) echo "$library: no PLplot" ;;
    *) status=1 ;;
  esac
done
exit $status
