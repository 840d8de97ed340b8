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
echo "build:    $build_type, static programs $static_programs, C libraries: $libcs (shipped: $shipped_libc)"

# Each figure of the front-end is given per C library the programs were
# built with (libcs in layout.sh: glibc, and musl where the build has it),
# each zov-nm in a tree of its own, beside the empty program of its C library.
# The shipped one is marked.
libc_label() { [[ $1 == "$shipped_libc" ]] && echo "$1 (shipped)" || echo "$1"; }

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
  echo "environment: $(env | wc -l) variables, $(env | wc -c) bytes"
  printf '%-16s %10s %10s %10s\n' "" "zov-nm" "empty" "difference"
  for libc in $libcs; do
    frontend_of=noop_frontend_$libc empty_of=noop_empty_$libc
    frontend=$(count "${!frontend_of}")
    empty=$(count "${!empty_of}")
    printf '%-16s %10d %10d %10d\n' "$(libc_label "$libc")" "$frontend" "$empty" $((frontend - empty))
  done
  echo "(targets: difference at most 3000; the shipped zov-nm at most 8000 in all)"
else
  echo "valgrind not found: skipped"
fi

# 2. Wall time against the tool run directly, pinned to one CPU and not.
section "2. Wall time: zov-nm lib.a against nm --plugin <plugin> lib.a"
if [[ -n $host_nm ]]; then
  for libc in $libcs; do
    frontend_of=host_frontend_$libc
    echo "-- $(libc_label "$libc")"
    "$frontend_bench" wall "${!frontend_of}" "$host_nm" "$host_plugin" "$archive" --pairs 80
    "$frontend_bench" wall "${!frontend_of}" "$host_nm" "$host_plugin" "$archive" --pairs 80 --any-cpu
  done
  echo "(target: median ratio pinned at most 1.25 for the shipped programs)"
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
  for libc in $libcs; do
    frontend_of=noop_frontend_$libc empty_of=noop_empty_$libc
    echo "-- $(libc_label "$libc")"
    calls_of "${!frontend_of}" | fold -s -w 100
    echo "empty static C program alone: $(calls_of "${!empty_of}" | sed -n 's/^total: //p')"
  done
else
  echo "strace not found: skipped"
fi

# 4. The engine's cost of starting a child.
section "4. Starting a child: pex_run_once against the platform's ways"
"$spawn_bench" "$noop" --runs 500 --memory-gib 4 --fork-runs-large 10
echo "(targets: pex_run_once / posix_spawn at most 0.80 at both sizes; 4 GiB / 0 GiB at most 1.10)"

# 4b. A long PATH: the search list built from it.
section "4b. Building the search list from a long PATH"
"$path_bench"
echo "(target: the time per entry flat across the sizes)"

# 5. Peak resident memory.
section "5. Peak resident memory"
for libc in $libcs; do
  frontend_of=noop_frontend_$libc empty_of=noop_empty_$libc
  echo "-- $(libc_label "$libc")"
  "$frontend_bench" rss "${!frontend_of}"
  "$frontend_bench" rss "${!empty_of}"
done
"$frontend_bench" rss "$noop"
if [[ -n $host_nm ]]; then
  "$frontend_bench" rss "$host_frontend" "$archive"
  "$frontend_bench" rss "$host_nm" --plugin "$host_plugin" "$archive"
fi

# 6. Sizes of the programs as built (with their debugging information) and
# stripped.
section "6. Size in bytes: zov-nm and the empty program, as built and stripped"
printf '%-16s %12s %12s %12s %12s\n' "" "zov-nm" "stripped" "empty" "stripped"
for libc in $libcs; do
  frontend_of=noop_frontend_$libc empty_of=noop_empty_$libc
  sizes=()
  for program in "${!frontend_of}" "${!empty_of}"; do
    strip -o "$scratch/stripped" "$program" 2> /dev/null || cp "$program" "$scratch/stripped"
    sizes+=("$(wc -c < "$program")" "$(wc -c < "$scratch/stripped")")
  done
  printf '%-16s %12d %12d %12d %12d\n' "$(libc_label "$libc")" "${sizes[@]}"
done
