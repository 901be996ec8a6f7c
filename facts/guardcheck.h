// Whether lopwort can guard a function out without taking something else
// with it. lopwort guards the first construct of its scan that holds the
// function's line; where that construct is not the function (a class or
// namespace body its scanner takes for a function body, a declaration that
// begins the same line), guarding would remove live code. Such functions
// are kept alive instead.
#ifndef LOPWORT_FACTS_GUARDCHECK_H
#define LOPWORT_FACTS_GUARDCHECK_H

#include "merge.h"

#include <functional>
#include <string>
#include <vector>

// For every file that holds functions, scans the preprocessed text of the
// unit that contains them (the text lopwort's own run will produce) with
// lopwort's scanner, and makes that unit's keep root use each function
// whose line lopwort would map to another construct. textPath gives the
// file holding a unit's preprocessed text; keepRoot the id of its root.
// Returns the ids of the functions kept.
std::vector<std::string> keep_unguardable_functions(CFactBase& base,
                               const std::function<std::string(int)>& textPath,
                               const std::function<std::string(int)>& keepRoot);

#endif
