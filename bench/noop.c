/* The stand-in tool of the benchmarks: a static program that does nothing
 * but exit with status 0.  On Linux x86-64 and AArch64 it is a bare entry
 * point that makes the exit system call and nothing else, so a benchmark
 * that starts it measures the start itself, not a C library's start-up;
 * elsewhere it is an empty C program. */

#if defined(ZOV_BENCH_BARE) && defined(__x86_64__)
__asm__(".globl _start\n"
        "_start:\n"
        "  mov $231, %eax\n" /* exit_group */
        "  xor %edi, %edi\n"
        "  syscall\n");
#elif defined(ZOV_BENCH_BARE) && defined(__aarch64__)
__asm__(".globl _start\n"
        "_start:\n"
        "  mov x8, #94\n" /* exit_group */
        "  mov x0, #0\n"
        "  svc #0\n");
#else
int main(void) { return 0; }
#endif
