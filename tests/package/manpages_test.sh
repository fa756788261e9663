#!/usr/bin/env bash
# Every manual page renders without a warning, through groff with all warnings
# on and through man as a reader would open it.
#   manpages_test.sh PAGE...
set -uo pipefail
command -v groff >/dev/null 2>&1 || { echo "SKIP: groff is missing"; exit 77; }
failures=0
for page in "$@"; do
  name=$(basename "$page")
  warnings=$(groff -ww -z -man -Tutf8 "$page" 2>&1)
  if [ -n "$warnings" ]; then echo "FAIL: groff on $name:"; echo "$warnings"; failures=$((failures + 1)); fi
  if command -v man >/dev/null 2>&1; then
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then echo "FAIL: man -l $name:"; echo "$warnings"; failures=$((failures + 1)); fi
  fi
  # The page's own name and section, as the file names them.
  title=$(sed -n 's/^\.TH \([^ ]*\) \([0-9]\) .*/\1.\2/p' "$page" | tr 'A-Z' 'a-z')
  [ "$title" = "$name" ] || { echo "FAIL: $name calls itself $title"; failures=$((failures + 1)); }
done
[ $failures -eq 0 ] && echo "$# pages render without a warning"
exit $((failures != 0))
