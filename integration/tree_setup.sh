#!/usr/bin/env bash
# Lays out a compiler install tree for the real-tool tests in a fresh
# temporary directory and records its path in TREE_FILE:
#
#   <root>/bin/zov-ar, zov-nm, zov-ranlib          the host front-ends
#   <root>/lib/zov/<target>/<version>/             present, so the tool
#                                                  directory's "../" resolve
#   <root>/libexec/zov/<target>/<version>/libqel_plugin.so -> LLVM gold plugin
#   <root>/<target>/bin/ar, nm, ranlib             copies of the host binutils
#
# The tools are copies, not links: binutils looks for bfd plugins beside its
# own binary, and a copy in this tree finds none there, so any plugin the
# tests see must have come through the front-end's --plugin.
#
# Exits 77 (skipped) when clang, lld, the plugin or the host binutils are
# missing.
set -eu
tree_file=$1 host_bindir=$2 target=$3 version=$4 plugin=$5 clang=$6

# The tests that need the tree skip too, and tell the same reason.
skip() {
  printf 'skip=%q\n' "$*" > "$tree_file"
  echo "SKIP: $*"
  exit 77
}

rm -f "$tree_file"
[ -n "$clang" ] && [ -x "$clang" ] || skip "clang not found (Debian package clang)"
command -v ld.lld >/dev/null || skip "ld.lld not found (Debian package lld)"
[ -n "$plugin" ] && [ -r "$plugin" ] ||
  skip "LLVM gold plugin not found (Debian package llvm-14-linker-tools)"
for tool in ar nm ranlib; do
  command -v "$target-$tool" >/dev/null || skip "$target-$tool not found (Debian package binutils)"
done

root=$(mktemp -d "${TMPDIR:-/tmp}/zov-tree.XXXXXX")
trap 'rm -rf "$root"' ERR
mkdir -p "$root/bin" "$root/lib/zov/$target/$version" \
         "$root/libexec/zov/$target/$version" "$root/$target/bin"
for tool in ar nm ranlib; do
  cp "$host_bindir/zov-$tool" "$root/bin/zov-$tool"
  cp "$(command -v "$target-$tool")" "$root/$target/bin/$tool"
done
ln -s "$plugin" "$root/libexec/zov/$target/$version/libqel_plugin.so"

# Read by the tests with ".": where the tree is and how to use it.
printf 'root=%q\ntarget=%q\nclang=%q\n' "$root" "$target" "$clang" > "$tree_file"
trap - ERR
echo "install tree: $root"
find "$root" | sort | sed "s|^$root|  <root>|"
