# Sourced by the real-tool tests.  load_tree reads what tree_setup.sh
# recorded (root, target, clang), moves into a scratch directory that is
# removed on exit, and sets $tools to the tree's copies of the binutils.

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

load_tree() {
  [ -f "$1" ] || skip "no install tree: run integration.tree_setup first"
  local skip=
  . "$1"
  [ -z "$skip" ] || skip "$skip"
  tools=$root/$target/bin
  work=$(mktemp -d "${TMPDIR:-/tmp}/zov-test.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  cd "$work"
  # Nothing from the caller's environment may redirect the tools.
  unset ZOV_EXEC_PREFIX CFLAGS LDFLAGS CPPFLAGS AR RANLIB NM
}

# bitcode NAME.c...: compiles each source with -flto and makes sure the
# object really is LLVM bitcode, which no plugin-less tool can read.
bitcode() {
  local src
  for src; do
    "$clang" -O2 -flto -c "$src" -o "${src%.c}.o" || fail "clang -flto -c $src"
    [ "$(head -c 2 "${src%.c}.o")" = BC ] || fail "${src%.c}.o is not LLVM bitcode"
  done
}

# armap ARCHIVE: the archive's own symbol index, one "symbol in member" a
# line, as read by the tree's nm copy.  That copy loads no plugin, so what it
# prints is what the index holds, not what a plugin would make of the members.
armap() {
  "$tools/nm" --print-armap "$1" 2>/dev/null | sed -n '/^Archive index:$/,/^$/{/ in /p}'
}

# expect_index ARCHIVE "SYMBOL in MEMBER"...
expect_index() {
  local archive=$1 entry index
  shift
  index=$(armap "$archive")
  for entry; do
    grep -qxF "$entry" <<<"$index" ||
      fail "index of $archive lacks '$entry'; it holds: ${index:-nothing}"
  done
}
