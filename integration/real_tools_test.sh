#!/usr/bin/env bash
# The front-ends with real binutils and LLVM's gold plugin, on clang -flto
# objects.  Each mode runs the front-end and, as its negative control, the
# same tool copy without a plugin, which must see no bitcode symbol: that is
# what shows the plugin came from the front-end.
#
#   real_tools_test.sh TREE_FILE ar|ranlib|nm|link|lookup
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
load_tree "$1"
mode=$2
zov=$root/bin

cat > alpha.c <<'EOF'
int zov_alpha(int x) { return 3 * x; }
EOF
cat > beta.c <<'EOF'
int zov_beta = 4;
EOF
cat > main.c <<'EOF'
#include <stdio.h>
int zov_alpha(int);
extern int zov_beta;
int main(void) { printf("zov %d\n", zov_alpha(zov_beta)); return 0; }
EOF
bitcode alpha.c beta.c

case $mode in
ar)
  # "rcs" reaches ar as "-rcs" (zov-ar's dash rule); both forms must work.
  "$zov/zov-ar" rcs lib.a alpha.o || fail "zov-ar rcs"
  "$zov/zov-ar" -rs lib.a beta.o || fail "zov-ar -rs"
  expect_index lib.a "zov_alpha in alpha.o" "zov_beta in beta.o"

  "$tools/ar" rcs plain.a alpha.o beta.o
  [ -z "$(armap plain.a)" ] || fail "ar without plugin indexed bitcode: $(armap plain.a)"
  ;;

ranlib)
  "$tools/ar" rcS lib.a alpha.o beta.o
  [ -z "$(armap lib.a)" ] || fail "ar S wrote an index"
  "$tools/ranlib" lib.a
  [ -z "$(armap lib.a)" ] || fail "ranlib without plugin indexed bitcode: $(armap lib.a)"

  "$zov/zov-ranlib" lib.a || fail "zov-ranlib"
  expect_index lib.a "zov_alpha in alpha.o" "zov_beta in beta.o"
  ;;

nm)
  out=$("$zov/zov-nm" alpha.o beta.o) || fail "zov-nm"
  grep -Eq '^[0-9a-f]* *T zov_alpha$' <<<"$out" || fail "zov-nm: no text symbol zov_alpha in: $out"
  grep -Eq '^[0-9a-f]* *[A-Z] zov_beta$' <<<"$out" || fail "zov-nm: no zov_beta in: $out"
  # nm's own BSD format must be asked for by its long name.
  "$zov/zov-nm" --format=bsd alpha.o | grep -q ' T zov_alpha$' || fail "zov-nm --format=bsd"

  if "$tools/nm" alpha.o > plain.out 2>&1 || grep -q zov_alpha plain.out; then
    fail "nm without plugin read the bitcode: $(cat plain.out)"
  fi
  ;;

link)
  # lld takes archives with or without an index; GNU ld refuses one without,
  # so linking with it too shows the index is the one the link needs.
  "$clang" -O2 -flto -c main.c -o main.o
  "$zov/zov-ar" rcs lib.a alpha.o beta.o || fail "zov-ar"
  "$tools/ar" rcs plain.a alpha.o beta.o
  for linker in lld bfd; do
    [ $linker = lld ] || command -v ld.$linker >/dev/null || continue
    "$clang" -flto -fuse-ld=$linker main.o lib.a -o prog-$linker || fail "$linker: link against lib.a"
    [ "$(./prog-$linker)" = "zov 12" ] || fail "$linker: prog printed '$(./prog-$linker)'"
  done
  if command -v ld.bfd >/dev/null &&
     "$clang" -flto -fuse-ld=bfd main.o plain.a -o plain-prog 2>/dev/null; then
    fail "GNU ld linked an archive made without the plugin"
  fi
  ;;

lookup)
  # The other ways to the plugin and the tool, with the real tools: by bare
  # name along PATH, a front-end away from any tree pointed at them with -B,
  # and a tree without its tool directory, whose tool comes from PATH under
  # the target-prefixed name.
  mkdir away bdir pathdir
  cp "$zov/zov-nm" away/zov-nm
  ln -s "$root/libexec/zov/$target"/*/libqel_plugin.so bdir/libqel_plugin.so
  cp "$tools/nm" bdir/nm
  cp "$tools/nm" "pathdir/$target-nm"
  mkdir -p bare/bin
  cp -R "$root/lib" "$root/libexec" bare/
  cp "$zov/zov-nm" bare/bin/zov-nm

  while IFS='|' read -r what cmd; do
    out=$(eval "$cmd" 2>&1) || fail "$what: '$cmd' failed: $out"
    grep -q ' T zov_alpha$' <<<"$out" || fail "$what: '$cmd' printed: $out"
  done <<EOF
bare name along PATH|PATH="$zov:\$PATH" zov-nm alpha.o
away from the tree, with -B|away/zov-nm -B "$work/bdir" alpha.o
tool along PATH|PATH="$work/pathdir:\$PATH" bare/bin/zov-nm alpha.o
EOF
  ;;

*)
  fail "unknown mode $mode"
  ;;
esac
echo "PASS: $mode"
