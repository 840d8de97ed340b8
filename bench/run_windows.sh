#!/usr/bin/env bash
# bench/run_windows.sh BUILD [PAIRS]: start-up of the Windows zov-nm.exe
# under Wine, against a program that only starts the tool and waits for it
# (windows_start_only.c), the tool being a program that only exits.  BUILD
# is a Windows build directory (the windows leg's build/windows, with
# ZOV_BUILD_BENCH on).  Uses the caller's WINEPREFIX, or one of its own in
# a temporary directory, removed afterwards.  Figures only: Wine is not
# Windows.
set -euo pipefail
build=$(cd "$1" && pwd)
pairs=${2:-40}
wine=/usr/lib/wine/wine64
target=$(sed -n 's/^ZOV_TARGET:STRING=//p' "$build/CMakeCache.txt")
version=$(sed -n 's/^ZOV_VERSION:STRING=//p' "$build/CMakeCache.txt")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zov-bench-windows.XXXXXX")
own_prefix=false
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=$scratch/wine
  own_prefix=true
fi
export WINEDEBUG=-all
cleanup() {
  if $own_prefix; then /usr/lib/wine/wineserver64 -k 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
$own_prefix && "$wine" wineboot -i >/dev/null 2>&1

tree=$scratch/noop-tree
mkdir -p "$tree/bin" "$tree/lib/zov/$target/$version" "$tree/libexec/zov/$target/$version" \
  "$tree/$target/bin"
cp "$build/frontend/zov-nm.exe" "$tree/bin/"
: >"$tree/libexec/zov/$target/$version/libqel_plugin.dll"
cp "$build/bench/zov_bench_noop.exe" "$tree/$target/bin/nm.exe"
w() { "$wine" winepath -w "$1"; }
"$wine" --version
"$wine" "$build/bench/zov_bench_windows_startup.exe" "$(w "$tree/bin/zov-nm.exe")" \
  "$(w "$build/bench/zov_bench_start_only.exe")" "$(w "$tree/$target/bin/nm.exe")" "$pairs"
