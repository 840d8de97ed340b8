#!/usr/bin/env bash
# Configures and builds cmake_client with clang, IPO on, and the tree's
# zov-ar and zov-ranlib as CMAKE_C_COMPILER_AR and CMAKE_C_COMPILER_RANLIB;
# the program must run, the build must have called both front-ends, and
# the library's index must list its bitcode symbol.
#
#   cmake_client_test.sh TREE_FILE SOURCE_DIR CMAKE GENERATOR MAKE_PROGRAM
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
load_tree "$1"
src=$2 cmake=$3 generator=$4 make_program=$5
unset CC CXX

"$cmake" -S "$src" -B build -G "$generator" -DCMAKE_MAKE_PROGRAM="$make_program" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER="$clang" \
  -DCMAKE_C_COMPILER_AR="$root/bin/zov-ar" \
  -DCMAKE_C_COMPILER_RANLIB="$root/bin/zov-ranlib" \
  -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld > configure.log 2>&1 ||
  { cat configure.log; fail "configure"; }
"$cmake" --build build --verbose > build.log 2>&1 || { cat build.log; fail "build"; }

for prog in zov-ar zov-ranlib; do
  grep -qF -e "\"$root/bin/$prog\" " -e "$root/bin/$prog " build.log || { cat build.log; fail "the build did not run $prog"; }
done
lib=$(find build -name libgreet.a)
expect_index "$lib" "zov_greet_answer in greet.c.o"
[ "$(build/hello)" = "answer 42" ] || fail "hello printed '$(build/hello)'"
echo "PASS: cmake client"
