#!/bin/sh
# Gives one fuzz target a short run, for CTest.
#
# Usage: run_fuzzer.sh FUZZER SEED_DIR [LIBFUZZER_OPTION...]
#
# libFuzzer adds every new input it finds to its first corpus directory, so
# it works on a copy of the seeds in a fresh temporary directory: the seeds
# in the repository stay as they are, and nothing is left behind.  A failing
# input is printed in base64 before the directory goes.
set -eu

fuzzer=$1
seeds=$2
shift 2

work=$(mktemp -d "${TMPDIR:-/tmp}/zov-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir "$work/corpus" "$work/artifacts"
cp "$seeds"/* "$work/corpus/"

status=0
"$fuzzer" -artifact_prefix="$work/artifacts/" "$@" "$work/corpus" || status=$?

if [ "$status" -ne 0 ]; then
  for input in "$work"/artifacts/*; do
    [ -f "$input" ] || continue
    echo "---- failing input ${input##*/}; to reproduce:"
    echo "base64 -d > input <<'EOF'"
    base64 "$input"
    echo "EOF"
    echo "$fuzzer input"
  done
fi
exit "$status"
