// Parsing one unit with clang's front end and collecting its facts. Runs in
// a worker process of its own, so a unit that crashes the parser costs only
// that unit.
#ifndef LOPWORT_FACTS_PARSE_H
#define LOPWORT_FACTS_PARSE_H

#include "collect.h"
#include "compdb.h"
#include "compiler.h"
#include "spelling.h"
#include "unitfacts.h"

#include <string>

struct CParseSettings {
    std::string m_clangPath;   // program name handed to clang's driver
    std::string m_resourceDir; // clang's own headers (stddef.h and friends)
    bool m_verbose = false;
};

// Changes to the unit's directory, parses the unit with its recorded
// arguments and the compiler's defaults (defaultsP may be null) and
// collects its facts, spelling its files as the recorded compiler's
// preprocessing pre spelled them. Returns false with the unit's first error
// when it does not parse; factsR then holds what the unit could use (its
// files and the names it spells).
bool parse_unit(const CCompileCommand& cmd, const CParseSettings& settings,
                const CCompilerDefaults* defaultsP, const CUnitContext& unit,
                const CPreprocessed& pre, CUnitFacts& factsR, std::string& errorR);

#endif
