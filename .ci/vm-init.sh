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
# No tmpfs on /tmp: the initramfs is writable already, and the build tree
# it holds may itself lie under /tmp (CI's clone does), which a mount
# there would hide.
echo "zov-vm: $(uname -srm), $(nproc) cpu"

# Here nothing stands between pex_test and the kernel, so none of its
# tests may skip: a skip would mean clone3, vfork or seccomp went untested.
failed=0
while read -r program; do
  echo "zov-vm: running $program"
  if "$program" --gtest_color=no >/tmp/zov-out 2>&1; then
    result=passed
  else
    result=FAILED
  fi
  grep -E '^\[  (SKIPPED|FAILED|PASSED) |^\[==========\] |: Failure$|^Expected|^  Which is|^subprocess check failed' /tmp/zov-out
  if [ "$result" = passed ] && [ "${program##*/}" = pex_test ] &&
     grep -q '^\[  SKIPPED \]' /tmp/zov-out; then
    echo "zov-vm: pex_test skipped tests on a real kernel"
    result=FAILED
  fi
  echo "zov-vm: $result $program"
  [ "$result" = passed ] || failed=$((failed + 1))
done </zov-tests
if [ "$failed" = 0 ]; then
  echo "zov-vm: verdict: all test programs passed"
else
  echo "zov-vm: verdict: $failed test programs failed"
fi
sync
poweroff -f
