// Virtual-call resolution: which overriders a virtually called function
// reaches. Not resolved yet: reaching a virtual function reaches nothing more.
#include "lopwort_analysis.h"

CResolution* handle_polymorphism(CEntityInstance* function1P, int depth) {
    (void)function1P;
    (void)depth;
    return nullptr;
}
