// The preprocessor run and the boundary scanner for one source file at a time.
#include "boundaries.h"

boundaryT* g_boundariesP = nullptr;
int g_boundaries = 0;
int g_boundaries_max = 0;

char** g_argsPP = nullptr;
int g_args = 0;
int g_max_args = -1;

int establish_boundaries(CEntityInstance* eP) {
    (void)eP;
    return 0;
}
