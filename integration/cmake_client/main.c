#include <stdio.h>
int zov_greet_answer(int);
int main(void) { printf("answer %d\n", zov_greet_answer(2)); return 0; }
