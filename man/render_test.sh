#!/usr/bin/env bash
# Renders one manual page the way man(1) does on a terminal, with every
# groff warning on; any warning fails the page, and so does a placeholder
# that the build left unfilled.
#
#   render_test.sh GROFF PAGE
set -u -o pipefail
groff=$1 page=$2
[ -n "$groff" ] && [ -x "$groff" ] || { echo "SKIP: groff not found (Debian package groff-base)"; exit 77; }

if grep -n '@[A-Za-z_]*@' "$page"; then
  echo "FAIL: unfilled placeholder in $page"
  exit 1
fi
err=$(mktemp "${TMPDIR:-/tmp}/zov-man.XXXXXX")
trap 'rm -f "$err"' EXIT
out=$("$groff" -man -Tutf8 -ww "$page" 2>"$err" | sed 's/.\x08//g') || { cat "$err"; echo "FAIL: groff failed"; exit 1; }
if [ -s "$err" ]; then
  cat "$err"
  echo "FAIL: groff warned on $page"
  exit 1
fi
for section in NAME SYNOPSIS DESCRIPTION OPTIONS ENVIRONMENT FILES "EXIT STATUS" DIAGNOSTICS CAVEATS "REPORTING BUGS" COPYRIGHT "SEE ALSO"; do
  grep -qx "$section" <<<"$out" || { echo "FAIL: $page has no $section section"; exit 1; }
done
echo "PASS: $page"
