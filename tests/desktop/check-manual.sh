#!/bin/sh
# Every option `vorsk --help` prints has an entry of its own (the line after
# a .TP) in the manual page.
set -eu
program=$1
page=$2
entries=$(awk 'previous == ".TP" { print } { previous = $0 }' "$page")
help=$("$program" --help)
missing=0
for option in $(printf '%s\n' "$help" | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  roff=$(printf '%s' "$option" | sed 's/-/\\-/g')
  if ! printf '%s\n' "$entries" | grep -Fq -- "$roff"; then
    echo "$option is not described in $page"
    missing=1
  fi
done
exit $missing
