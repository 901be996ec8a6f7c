// Whether lopwort can guard a function out without taking something else
// with it. lopwort guards the first construct of its scan that holds the
// function's line; where that construct is not the function (a class or
// namespace body its scanner takes for a function body, a declaration that
// begins the same line), guarding would remove live code. Such functions
// are kept alive instead.
#ifndef LOPWORT_FACTS_GUARDCHECK_H
#define LOPWORT_FACTS_GUARDCHECK_H

#include "cache.h"
#include "merge.h"

#include <functional>
#include <string>
#include <vector>

// How the check reaches the units' texts.
struct CUnitTexts {
    // Opens a unit's preprocessed text, positioned at its start and running
    // to the end of the file; -1 when there is none. The scan closes it.
    std::function<int(int)> m_open;
    // A key naming a unit's text, or empty: with a cache, the records of a
    // scan are kept under it and the file's name, so that an unchanged
    // text is not scanned again.
    std::function<std::string(int)> m_key;
    const CFactsCache* m_cacheP = nullptr;
    int m_jobs = 1; // scans at once, in child processes
};

// For every file that holds functions, scans the preprocessed text of the
// unit that contains them (the text lopwort's own run will produce) with
// lopwort's scanner, and makes that unit's keep root use each function
// whose line lopwort would map to another construct. keepRoot gives the id
// of a unit's root. Returns the ids of the functions kept.
std::vector<std::string> keep_unguardable_functions(CFactBase& base, const CUnitTexts& texts,
                               const std::function<std::string(int)>& keepRoot);

#endif
