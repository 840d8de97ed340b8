#!/usr/bin/env bash
# Makes and lists a real archive through the front-ends of a sample install
# tree, printing each command as it runs.
#
#   demo.sh BIN_DIR C_COMPILER [WORK_DIR [--lto]]
#
# BIN_DIR is the bin directory of an install tree that holds zov-ar, zov-nm
# and zov-ranlib, the plugin and the target's ar, nm and ranlib.  Without
# WORK_DIR the objects and the archive go to a temporary directory that is
# removed again.  With --lto the compiler is clang, the tree's plugin is
# LLVM's gold plugin, and the objects are bitcode that the tools can read
# only through it; the archive is then linked with lld and the program run.
# ZOV_DEMO_PROGRAM_PREFIX is the build's ZOV_PROGRAM_PREFIX, the programs'
# names then being <prefix>zov-ar and so on.
set -euo pipefail

if (($# < 2)); then
  echo "usage: $0 BIN_DIR C_COMPILER [WORK_DIR]" >&2
  exit 2
fi
bin=$(cd "$1" && pwd)
cc=$2
lto=false
if (($# >= 4)) && [ "$4" = --lto ]; then lto=true; fi
if (($# >= 3)); then
  work=$3
  mkdir -p "$work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/zov-demo.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
cd "$work"

# The front-ends are found by bare name along PATH, and find the plugin
# and the tools from where they lie: nothing here names the tree again.
export PATH="$bin:$PATH"
export ZOV_SAMPLE_PLUGIN_TRACE=1
unset ZOV_EXEC_PREFIX

p=${ZOV_DEMO_PROGRAM_PREFIX:-}

run() {
  printf '$ %s\n' "$*"
  "$@"
}

cat >a.c <<'C'
int demo_answer(void) { return 42; }
C
cat >main.c <<'C'
#include <stdio.h>
extern int demo_twice(void);
int main(void) { printf("demo_twice() = %d\n", demo_twice()); return demo_twice() == 84 ? 0 : 1; }
C
cat >b.c <<'C'
extern int demo_answer(void);
int demo_twice(void) { return 2 * demo_answer(); }
C
rm -f libdemo.a

if $lto; then
  unset ZOV_SAMPLE_PLUGIN_TRACE
  run "$cc" -flto -O2 -c a.c b.c main.c
  echo "# the objects are LLVM bitcode (magic: $(od -An -tx1 -N4 a.o | tr -d ' ')), readable only through the plugin"
else
  run "$cc" -c a.c b.c
fi
run "${p}zov-ar" rcs libdemo.a a.o b.o
run "${p}zov-ar" t libdemo.a
run "${p}zov-nm" libdemo.a
run "${p}zov-ranlib" libdemo.a
run "${p}zov-nm" -s libdemo.a
if $lto; then
  run "$cc" -flto -fuse-ld=lld -O2 main.o libdemo.a -o demo
  run ./demo
fi
echo "demo: libdemo.a made, listed and indexed through the front-ends in $bin"
