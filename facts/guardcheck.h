// Whether lopwort can guard a function out without taking something else
// with it. lopwort guards the first construct of its scan that holds the
// function's line; where that construct is not the function (a class or
// namespace body its scanner takes for a function body, a declaration that
// begins the same line), guarding would remove live code. Such functions
// are kept alive instead.
#ifndef LOPWORT_FACTS_GUARDCHECK_H
#define LOPWORT_FACTS_GUARDCHECK_H

#include "unitfacts.h"

#include <string>

// Scans the unit's preprocessed text with lopwort's own scanner once for
// every file that holds functions defined in the unit, and makes the keep
// root keepRootId use each function whose line lopwort would not map to
// the function's own extent. Returns the number of functions kept.
int keep_unguardable_functions(const std::string& preprocessed, const std::string& directory,
                               const std::string& keepRootId, CUnitFacts& factsR);

#endif
