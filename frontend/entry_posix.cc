// The programs' entry point on POSIX: the vector the kernel hands over.

#include "frontend/frontend.h"

int main(int argc, char **argv) { return frontend_main(&frontend_this_program, argc, argv); }
