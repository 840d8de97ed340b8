#!/usr/bin/env bash
# package/zip_test.sh BUILD WINE: the ZIP that CPack makes of the Windows
# build, unpacked under a folder with spaces and non-ASCII letters (as a
# vendor's toolchain lies under C:\Users\<name>\AppData\Roaming\...), must
# run its programs from there (package/zip_tree_check.sh).  The ZIP is made
# in a scratch directory, so nothing is written into the build tree.
set -euo pipefail
build=$1 wine=$2
here=$(dirname "$0")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zov-zip.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

(cd "$build" && cpack -G ZIP -B "$scratch/package" >/dev/null)
zip=$(ls "$scratch"/package/*-Windows-*.zip)
unpacked="$scratch/Zoë Lü/AppData/Roaming/Vendor 工具链/9.5.0"
mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$zip")
tree=$(ls -d "$unpacked"/*/)
bash "$here/zip_tree_check.sh" "${tree%/}" "$build" "$wine"
