#!/usr/bin/env bash
# package/zip_tree_check.sh TREE BUILD WINE: the unpacked ZIP's zov-nm.exe and
# zov-ar.exe, given a compiler's files around them (the version directory,
# the plugin, the stand-in tool as nm.exe and ar.exe), must run the tool
# with the plugin's path and the arguments, wherever the tree lies.
set -euo pipefail
tree=$1 build=$2 wine=$3
target=mips64-unknown-freebsd14.0 version=9.5.0
for dir in "lib/zov/$target/$version" "libexec/zov/$target/$version" "$target/bin"; do
  mkdir -p "$tree/$dir"
done
: >"$tree/libexec/zov/$target/$version/libqel_plugin.dll"
for tool in ar nm; do
  cp "$build/testing/zov_stand_in_tool.exe" "$tree/$target/bin/$tool.exe"
done
record=$(mktemp)
trap 'rm -f "$record"' EXIT
record_for_wine=$("$wine" winepath -w "$record")
for tool in ar nm; do
  ZOV_STAND_IN_RECORD=$record_for_wine "$wine" "$tree/bin/zov-$tool.exe" t 'lib Zoë.a' >/dev/null
  got=$(tr -d '\r' <"$record")
  case $tool in ar) first=-t ;; nm) first=t ;; esac
  plugin_line=$(sed -n 3p <<<"$got")
  if [ "$(sed -n 2p <<<"$got")" != "arg:--plugin" ] || [[ $plugin_line != *'\\bin\\../libexec/zov/'$target/$version/libqel_plugin.dll ]] ||
     [ "$(sed -n 4,5p <<<"$got")" != "arg:$first"$'\n'"arg:lib Zoë.a" ] || [[ $(sed -n 1p <<<"$got") != *"/bin/$tool.exe" ]]; then
    echo "Windows ZIP: zov-$tool.exe unpacked at $tree ran its tool with:" >&2
    echo "$got" >&2
    exit 1
  fi
  echo "Windows ZIP: zov-$tool.exe ran $(sed -n 1p <<<"$got" | sed 's/^arg://; s/\\\\/\\/g')"
done
