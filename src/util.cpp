// Fatal-error exits shared by every part of the program.
#include "util.h"

#include <cstdio>
#include <cstdlib>

void outofmemory() {
    fputs("Out of memory\n", stderr);
    error_exit(4);
}

void error_exit(int code) {
    fprintf(stderr, "Exit code %d\n", code);
    // exit() rather than _exit(): the report printed so far must be flushed.
    exit(code);
}
