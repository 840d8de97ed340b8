/* The yardstick of the front-ends' instruction count: an empty C program,
 * linked statically like them. */
int main(void) { return 0; }
