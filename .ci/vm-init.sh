#!/bin/busybox sh
# /init of the AArch64 test machine that .ci/cross boots: a real kernel
# under full-system emulation, so the spawn code's clone3, a true vfork
# (not qemu-user's fork) and seccomp all behave as on hardware.  Runs each
# test program listed in /zov-tests and reports on the console; .ci/cross
# reads the verdict line.  Then powers the machine off.
/bin/busybox mkdir -p /bin /dev /proc /tmp
/bin/busybox --install -s /bin
export PATH=/bin
mount -t devtmpfs devtmpfs /dev
exec </dev/console >/dev/console 2>&1
mount -t proc proc /proc
mount -t tmpfs tmpfs /tmp
echo "zov-vm: $(uname -srm), $(nproc) cpu"

failed=0
while read -r program; do
  echo "zov-vm: running $program"
  if "$program" --gtest_brief=1; then
    echo "zov-vm: passed $program"
  else
    echo "zov-vm: FAILED $program"
    failed=$((failed + 1))
  fi
done </zov-tests
if [ "$failed" = 0 ]; then
  echo "zov-vm: verdict: all test programs passed"
else
  echo "zov-vm: verdict: $failed test programs failed"
fi
sync
poweroff -f
