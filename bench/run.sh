#!/usr/bin/env bash
# Runs every benchmark and prints the figures.  See bench/README.md.
#
# Usage: bench/run.sh [build-dir]
#   build-dir: a build with the benchmarks in it (default: build/default,
#   which `cmake --workflow --preset test` makes).  Needs valgrind and
#   strace for the instruction and system call counts; without them those
#   two are skipped.
set -euo pipefail

build=${1:-build/default}
layout=$build/bench/layout.sh
if [[ ! -f $layout ]]; then
  echo "run.sh: $layout not found; build first (cmake --workflow --preset test)" >&2
  exit 1
fi
# shellcheck source=/dev/null
. "$layout"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zov_bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

section() { printf '\n== %s\n' "$1"; }

section "Machine"
echo "cores:    $(nproc)"
echo "cpu:      $(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | sed 's/.*: //' || uname -m)"
echo "kernel:   $(uname -sr)"
echo "compiler: $("$compiler" --version | head -n1)"
echo "build:    $build_type, static programs $static_programs"

# 1. The front-end's own work, in instructions: zov-nm with the stand-in
# tool (whose instructions are not counted: --trace-children=no) against
# the empty static C program.  Both lie in the same directory under names
# of the same length and are started with the same environment (this
# script's, counted below) and no arguments.
section "1. Instructions per run (callgrind), zov-nm against an empty static C program"
if command -v valgrind > /dev/null; then
  count() {
    valgrind --tool=callgrind --trace-children=no --callgrind-out-file="$scratch/cg" "$1" 2>&1 |
      sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
  }
  frontend=$(count "$noop_frontend")
  empty=$(count "$noop_empty")
  echo "environment: $(env | wc -l) variables, $(env | wc -c) bytes"
  printf '%-40s %8d\n' "zov-nm (stand-in tool, relocated tree)" "$frontend" \
    "empty static C program (zov-00)" "$empty"
  printf '%-40s %8d   (target: at most 3000)\n' "difference" $((frontend - empty))
else
  echo "valgrind not found: skipped"
fi

# 2. Wall time against the tool run directly.
section "2. Wall time: zov-nm lib.a against nm --plugin <plugin> lib.a"
if [[ -n $host_nm ]]; then
  "$frontend_bench" wall "$host_frontend" "$host_nm" "$host_plugin" "$archive" --pairs 80
  "$frontend_bench" wall "$host_frontend" "$host_nm" "$host_plugin" "$archive" --pairs 80 --any-cpu
  echo "(target: median ratio at most 1.40)"
else
  echo "no host nm found at configure time: skipped"
fi

# 3. System calls of one run, the tool's included.  Counted from the full
# trace: strace -c leaves out exit_group, which never returns.
section "3. System calls per run (strace -f), zov-nm with the stand-in tool"
if command -v strace > /dev/null; then
  # Prints the calls of each process in order (the first line is the
  # program's; a vfork child's calls before its exec are its own line),
  # then the total.
  calls_of() {
    strace -f -o "$scratch/trace" "$1"
    awk '{ pid = $1; call = $2; sub(/\(.*/, "", call)
           if (call ~ /^(<\.\.\.|\+\+\+|---)/) next
           if (!(pid in seen)) { seen[pid] = ++n; order[n] = pid }
           calls[pid] = calls[pid] " " call; count[pid]++; total++ }
         END { for (i = 1; i <= n; i++)
                 printf "%s (%d):%s\n", i == 1 ? "program" : "child", count[order[i]], calls[order[i]]
               printf "total: %d\n", total }' "$scratch/trace"
  }
  calls_of "$noop_frontend" | fold -s -w 100
  echo "empty static C program alone: $(calls_of "$noop_empty" | sed -n 's/^total: //p')"
else
  echo "strace not found: skipped"
fi

# 4. The engine's cost of starting a child.
section "4. Starting a child: pex_run_once against the platform's ways"
"$spawn_bench" "$noop" --runs 500 --memory-gib 4 --fork-runs-large 10
echo "(targets: pex_run_once / posix_spawn at most 0.80 at both sizes; 4 GiB / 0 GiB at most 1.10)"

# 5. Peak resident memory.
section "5. Peak resident memory"
"$frontend_bench" rss "$noop_frontend"
"$frontend_bench" rss "$noop_empty"
"$frontend_bench" rss "$noop"
if [[ -n $host_nm ]]; then
  "$frontend_bench" rss "$host_frontend" "$archive"
  "$frontend_bench" rss "$host_nm" --plugin "$host_plugin" "$archive"
fi
