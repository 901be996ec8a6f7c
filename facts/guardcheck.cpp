// Reuses lopwort's scanner (boundaries_scan in lopwort_core) on the text of
// the preprocessor run that taught us the file names' spelling: the records
// it makes are exactly those lopwort will look a dead function's line up in.
#include "guardcheck.h"

#include "boundaries.h"
#include "lopwort.h"

#include <cstdio>
#include <map>
#include <unistd.h>
#include <vector>

int keep_unguardable_functions(const std::string& preprocessed, const std::string& directory,
                               const std::string& keepRootId, CUnitFacts& factsR) {
    std::map<std::string, std::vector<const CFactEntity*>> byFile;
    for (const auto& p : factsR.m_entities) {
        const CFactEntity& e = p.second;
        if (e.m_defined && e.m_line > 0 && !e.m_file.empty() &&
            (e.m_class == "GF" || e.m_class == "LF" || e.m_class == "VF"))
            byFile[e.m_file].push_back(&e);
    }
    int kept = 0;
    for (const auto& f : byFile) {
        auto spelled = factsR.m_spellings.find(f.first);
        if (spelled == factsR.m_spellings.end())
            continue;
        FILE* textP = tmpfile();
        if (!textP)
            return kept;
        bool ok = fwrite(preprocessed.data(), 1, preprocessed.size(), textP) ==
                      preprocessed.size() &&
                  fflush(textP) == 0;
        int fd = ok ? dup(fileno(textP)) : -1;
        fclose(textP);
        if (fd < 0 || lseek(fd, 0, SEEK_SET) != 0) {
            if (fd >= 0)
                close(fd);
            return kept;
        }
        g_filenameP = spelled->second.c_str();
        g_debug_flag = 0;
        scan(directory.c_str(), fd);
        g_filenameP = "";
        for (const CFactEntity* eP : f.second) {
            // lopwort takes the first record that holds the function's line;
            // it is the function's own when it starts where the function's
            // text starts and ends on its last line. Positions in the middle
            // of a line cannot be compared (the preprocessor closes up
            // blanks), so a function that does not begin its line is kept.
            int line = eP->m_line, last = eP->m_endLine > 0 ? eP->m_endLine : eP->m_line;
            bool own = false;
            for (int i = 0; i < g_boundaries; ++i) {
                const boundaryT& b = g_boundariesP[i];
                if (b.lineno[0] <= line && b.lineno[1] >= line) {
                    own = eP->m_textColumn > 0 && b.lineno[0] == eP->m_textLine &&
                          b.character[0] == eP->m_textColumn && b.lineno[1] == last;
                    break;
                }
            }
            if (!own) {
                factsR.add_relation("call", keepRootId, eP->m_id);
                ++kept;
            }
        }
    }
    return kept;
}
