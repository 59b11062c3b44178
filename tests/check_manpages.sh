#!/usr/bin/env bash
# The manual pages: each renders without a groff warning, has a NAME line that whatis and
# apropos can index, and mentions every long option its program's --help prints (so a new
# option cannot go undocumented).
#   check_manpages.sh PROGRAM PAGE [PROGRAM PAGE ...]
set -uo pipefail
failed=0
fail() { echo "FAIL: $*"; failed=1; }

while [ $# -ge 2 ]; do
  program=$1 page=$2; shift 2
  name=$(basename "$page"); name=${name%%.1*}

  err=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" 2>&1 >/dev/null)
  rc=$?
  [ "$rc" = 0 ] || fail "man -l $page exited with $rc"
  [ -z "$err" ] || fail "man -l $page warns: $err"

  whatis=$(lexgrog "$page" 2>&1) || fail "lexgrog finds no NAME line in $page: $whatis"
  case "$whatis" in
    *"\"$name - "*) ;;
    *) fail "the NAME line of $page does not name $name: $whatis" ;;
  esac

  # Wide enough that no option is broken across lines.
  text=$(MANWIDTH=250 LC_ALL=C man -l "$page" 2>/dev/null)
  help=$("$program" --help 2>&1)
  options=$(grep -oE -- '--[a-z][a-z-]*[a-z]' <<<"$help" | sort -u)
  [ -n "$options" ] || fail "$program --help printed no options: $help"
  for option in $options; do
    grep -qF -- "$option" <<<"$text" || fail "$page does not mention $option (from $program --help)"
  done
  echo "$page: $(wc -l <<<"$text") lines, options: $(echo $options)"
done
[ $# = 0 ] || fail "usage: check_manpages.sh PROGRAM PAGE [PROGRAM PAGE ...]"
exit $failed
