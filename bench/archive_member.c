/* A member of the small archive that the wall-time benchmark lists. */
int bench_counter;
static const char bench_greeting[] = "hello";

int bench_add(int a, int b) { return a + b; }
const char *bench_greet(void) { return bench_greeting; }
void bench_count(void) { bench_counter++; }
