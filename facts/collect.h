// Turning one parsed translation unit into facts: which functions the
// project defines here, what each of them uses, the virtual tables and type
// information of its classes, and the two per-unit roots.
#ifndef LOPWORT_FACTS_COLLECT_H
#define LOPWORT_FACTS_COLLECT_H

#include "unitfacts.h"

#include <map>
#include <string>
#include <vector>

namespace clang {
class ASTContext;
}

struct CUnitContext {
    std::string m_unitId;    // id of the unit's file entity; prefix of its internal ids
    std::string m_unitLabel; // the source file as recorded
    std::string m_mainFile;  // real path of the unit's source file
    // Files under these real-path directories count as the project's even
    // when they were included as system headers (recorded -isystem options).
    std::vector<std::string> m_projectSystemDirs;
    // Real-path directories of --exported: functions declared in headers
    // there are marked exported.
    std::vector<std::string> m_exportedDirs;
};

// The ids of the unit's two roots: the function that runs its dynamic
// initialisers, and the one that keeps alive what must stay in any case.
std::string ctor_root_id(const std::string& unitId);
std::string keep_root_id(const std::string& unitId);

void collect_unit_facts(clang::ASTContext& ctx, const CUnitContext& unit, CUnitFacts& factsR);

#endif
