#!/usr/bin/env bash
# Makes the DEB as `cmake --workflow --preset package` does (the release
# preset, configured in a scratch build directory of its own, which is
# kept, so later runs only rebuild what changed) and runs lintian on it.
# Any error or warning fails; lintian's notes on what it overrode, and why,
# are printed.  Extra arguments are cache settings for the scratch build
# (-DZOV_DEB_REVISION=1, a program prefix, ...).
#
#   lintian_test.sh SOURCE_DIR WORK_DIR CMAKE CPACK [-DVAR=VALUE...]
set -u -o pipefail
src=$1 work=$2 cmake=$3 cpack=$4
shift 4

command -v lintian >/dev/null || { echo "SKIP: lintian not found (Debian package lintian)"; exit 77; }
command -v dpkg-deb >/dev/null || { echo "SKIP: dpkg-deb not found (Debian package dpkg)"; exit 77; }

build=$work/build out=$work/out
log=$work/build.log
mkdir -p "$work"
# The scratch build must not take this test run's own settings: the
# release preset alone decides (as in the package workflow), with the
# compilers found as a packager's machine would find them.
unset CC CXX CFLAGS CXXFLAGS LDFLAGS
(cd "$src" && "$cmake" --preset release -B "$build" "$@") >"$log" 2>&1 &&
  "$cmake" --build "$build" --parallel 2 >>"$log" 2>&1 || { cat "$log"; echo "FAIL: the release build failed"; exit 1; }
rm -rf "$out"
"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$out" >>"$log" 2>&1 || { cat "$log"; echo "FAIL: cpack -G DEB failed"; exit 1; }
debs=("$out"/*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || { cat "$log"; echo "FAIL: cpack made no single DEB"; exit 1; }

echo "lintian $(lintian --version | sed 's/^Lintian v//') on ${debs[0]##*/}:"
# Running as root (CI's container) only earns a remark on standard error.
quiet_root() { grep -v '^running with root privileges' || true; }
lintian --fail-on error,warning "${debs[0]}" 2>&1 | quiet_root
status=${PIPESTATUS[0]}
# What was overridden, and why (an own run: shown overrides count as
# failures of the first).
lintian --show-overrides "${debs[0]}" 2>&1 | grep '^[NO]: ' | quiet_root
if [ "$status" != 0 ]; then
  echo "FAIL: lintian reported errors or warnings (status $status)"
  exit 1
fi
echo "PASS: no lintian error or warning"
