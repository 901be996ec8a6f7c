// Entry point of the lopwort executable.
#include "lopwort.h"

int main(int argc, const char** argv) { return lopwort_main(argc, argv); }
