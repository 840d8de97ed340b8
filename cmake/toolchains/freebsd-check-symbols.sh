#!/usr/bin/env bash
# freebsd-check-symbols.sh <libc-symbols.tsv> <output> <object or library>...
#
# The link step of the FreeBSD header-only toolchain (freebsd-headers.cmake):
# a program made of these objects and static libraries would link against
# FreeBSD 14's libc and nothing else.  Every symbol that one of them leaves
# undefined, and none of them defines, must be one that libc exports in
# FreeBSD 14.0 (version nodes FBSD_1.0 to FBSD_1.7), and none may be a C++
# runtime symbol: the programs need nothing but the C library.  Each symbol
# that fails is named, with the objects that want it.  On success <output>
# lists the libc symbols the program uses.
#
# Whole libraries are checked, every member, not only those a linker would
# pull in: a member that a change starts to use must already be sound.
set -euo pipefail

symbols=$1 output=$2
shift 2
program=$(basename "$output")

files=()
for arg in "$@"; do
  case $arg in
    -lc) ;;
    -l*) echo "$program: links $arg: the programs may link nothing but libc" >&2; exit 1 ;;
    -*) ;;  # link flags (-static, ...) change nothing here
    *) files+=("$arg") ;;
  esac
done
if ((${#files[@]} == 0)); then
  echo "$program: no objects to check" >&2
  exit 1
fi

# POSIX format with the file (and archive member) in front of each line:
# "<file>: <name> <type> ...".  U, w and v are undefined (w and v weak).
rm -f "$output.tmp"
table=$(nm -g -P -A "${files[@]}")

# FreeBSD: environ is defined by the start files (crt1.o), not by libc, so
# no Symbol.map lists it.
start_files='environ'

awk -v program="$program" -v start_files="$start_files" -v output="$output.tmp" '
  FNR == NR {  # libc-symbols.tsv: symbol, version node, library, map
    if ($0 ~ /^#/) next
    split($0, f, "\t")
    # (Read before written: an assignment may make the element first.)
    seen = (f[1] in node) ? node[f[1]] " " : ""
    node[f[1]] = seen f[2]
    listed++
    next
  }
  {
    file = $1; sub(/:$/, "", file)
    name = $2; type = $3
    if (type == "U" || type == "w" || type == "v") wanted[name] = wanted[name] " " file
    else defined[name] = 1
  }
  END {
    if (listed == 0) { print program ": no symbols in the libc list" > "/dev/stderr"; exit 1 }
    n = split(start_files, s, " ")
    for (i = 1; i <= n; i++) from_start_files[s[i]] = 1
    bad = 0; used = 0
    for (name in wanted) {
      if (name in defined) continue
      why = ""
      if (name ~ /^(_Z|__cxa_|__gxx_|_Unwind_|__dynamic_cast)/)
        why = "a C++ runtime symbol"
      else if (name in from_start_files)
        ;
      else if (!(name in node))
        why = "not exported by FreeBSD 14'"'"'s libc"
      else if (node[name] !~ /(^| )FBSD_1\.[0-7]( |$)/)
        why = "not in FreeBSD 14.0'"'"'s libc (only " node[name] ")"
      if (why != "") {
        printf "%s: %s: %s, wanted by%s\n", program, name, why, wanted[name] > "/dev/stderr"
        bad++
      } else {
        print name > output
        used++
      }
    }
    if (bad) exit 1
    if (used == 0) { print program ": no undefined symbols found" > "/dev/stderr"; exit 1 }
  }
' "$symbols" - <<<"$table"

sort -o "$output" "$output.tmp"
rm -f "$output.tmp"
