// One unit's step: the recorded compiler's preprocessing, the facts from
// the cache or from a parse, and the unit's fragment. The whole run's
// workers and lopwort-facts --unit both take it.
#ifndef LOPWORT_FACTS_UNITSTEP_H
#define LOPWORT_FACTS_UNITSTEP_H

#include "cache.h"
#include "compdb.h"
#include "compiler.h"
#include "merge.h"
#include "parse.h"

#include <string>
#include <vector>

// How one unit's step ended, as its worker's exit status.
enum EUnitOutcome { Unit_parsed = 0, Unit_failed = 2, Unit_lost = 3, Unit_from_cache = 9 };

// What every unit's step needs besides its entry.
struct CUnitStep {
    std::vector<std::string> m_exported; // real paths of --exported directories
    CParseSettings m_parse;
    CFactsCache m_cache;
};

// One unit: the recorded compiler's preprocessing, then the facts from the
// cache when an entry has the same key, else from a parse; the fragment
// goes to fragmentPath. The key holds everything the facts follow from: the
// preprocessed text (the unit's content and that of every file it
// includes), the spellings and real paths of its files, its command, the
// compiler's answers, the options that change its facts, and this build of
// the extractor and of clang.
EUnitOutcome extract_unit(const CUnitStep& step, const CCompileCommand& cmd, size_t index,
                          const CMergedUnit& unit, const CCompilerDefaults* defaultsP,
                          const std::string& fragmentPath);

#endif
