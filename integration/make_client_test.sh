#!/usr/bin/env bash
# Runs make_client's Makefile with AR, ARFLAGS and RANLIB on the command
# line, as a configure script passes them on.  ARFLAGS holds 'S', so ar
# writes no index and the one the archive has must come from zov-ranlib.
#
#   make_client_test.sh TREE_FILE SOURCE_DIR MAKE
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
load_tree "$1"
src=$2 make=$3
[ -n "$make" ] && [ -x "$make" ] || skip "make not found"
unset MAKEFLAGS MFLAGS

"$make" -f "$src/Makefile" srcdir="$src" CC="$clang" \
  AR="$root/bin/zov-ar" ARFLAGS=crS RANLIB="$root/bin/zov-ranlib" > make.log 2>&1 ||
  { cat make.log; fail "make"; }

grep -qxF "$root/bin/zov-ar crS libgreet.a greet.o" make.log || { cat make.log; fail "make did not run zov-ar"; }
expect_index libgreet.a "zov_greet_answer in greet.o"
[ "$(./hello)" = "answer 42" ] || fail "hello printed '$(./hello)'"
echo "PASS: make client"
