# Sourced by .ci/cross.  Lets the kernel start target binaries through
# qemu-user, which the tests need: they run the front-ends, the stand-in
# tool and copies of themselves, and those execs bypass the emulator that
# ctest puts in front of the test binary.
#
# binfmt_qemu_ensure ARCH PROBE registers qemu-ARCH-static only when PROBE
# (a static binary for ARCH) does not already run, and mounts binfmt_misc
# only when it is not mounted.  binfmt_qemu_restore undoes exactly what
# was done, so the machine is left as it was found.

binfmt_dir=/proc/sys/fs/binfmt_misc
binfmt_registered=()
binfmt_mounted=0
binfmt_tmp=

binfmt_qemu_ensure() {
  local arch=$1 probe=$2
  if "$probe" >/dev/null 2>&1; then
    echo "binfmt: $arch binaries already run here; nothing registered"
    return 0
  fi
  if [ ! -e "$binfmt_dir/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt_dir"
    binfmt_mounted=1
  fi
  # Debian's own description of the format (magic and mask); the entry is
  # ours, under our own name.  Flags: F opens the interpreter now, so it
  # works in any mount namespace; P passes argv[0] on, which the
  # interpreter knows from its -binfmt-P name.
  local desc=/usr/share/binfmts/qemu-$arch name=zov-ci-qemu-$arch
  local magic mask interp
  if [ -f "$desc" ]; then
    magic=$(sed -n 's/^magic //p' "$desc")
    mask=$(sed -n 's/^mask //p' "$desc")
  elif [ "$arch" = i386 ]; then
    # Debian describes no i386 format on amd64, where the kernel usually
    # runs such binaries itself; this one's kernel was built without that.
    magic='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  else
    echo "binfmt: no description of $arch binaries in $desc" >&2
    return 1
  fi
  # Started under a name ending in -binfmt-P, Debian's qemu takes the
  # program's path as a path even when it begins with '-'; under any other
  # name it parses it as its own option.  Where Debian has no such name
  # (i386), one is made for the entry's lifetime (F: the kernel keeps the
  # file open, the name only reaches qemu as its argv[0]).
  interp=/usr/libexec/qemu-binfmt/$arch-binfmt-P
  if [ ! -x "$interp" ]; then
    binfmt_tmp=${binfmt_tmp:-$(mktemp -d)}
    ln -sf "$(command -v "qemu-$arch-static")" "$binfmt_tmp/$arch-binfmt-P"
    interp=$binfmt_tmp/$arch-binfmt-P
  fi
  printf ':%s:M:0:%s:%s:%s:PF' "$name" "$magic" "$mask" "$interp" >"$binfmt_dir/register"
  binfmt_registered+=("$name")
  echo "binfmt: registered $name ($interp)"
  "$probe"
}

binfmt_qemu_restore() {
  local name
  for name in "${binfmt_registered[@]}"; do
    [ -e "$binfmt_dir/$name" ] && echo -1 >"$binfmt_dir/$name" && echo "binfmt: unregistered $name"
  done
  binfmt_registered=()
  if [ -n "${binfmt_tmp:-}" ]; then
    rm -rf "$binfmt_tmp"
    binfmt_tmp=
  fi
  if ((binfmt_mounted)); then
    umount "$binfmt_dir" && echo "binfmt: unmounted $binfmt_dir"
    binfmt_mounted=0
  fi
}
