// Reuses lopwort's scanner (boundaries_scan in lopwort_core) on the text of
// the preprocessor run that taught a worker the file names' spelling: the
// records it makes are exactly those lopwort will look a dead function's
// line up in. It runs in the merge, where the containing unit of each
// function is known, so each file is scanned once.
#include "guardcheck.h"

#include "boundaries.h"
#include "lopwort.h"

#include <cstdio>
#include <fcntl.h>
#include <map>
#include <unistd.h>
#include <vector>

int keep_unguardable_functions(CFactBase& base,
                               const std::function<std::string(int)>& textPath,
                               const std::function<std::string(int)>& keepRoot) {
    std::map<std::pair<int, std::string>, std::vector<std::string>> groups;
    for (const std::string& id : base.order()) {
        const CMergedEntity& m = base.entity(id);
        const CFactEntity& e = m.m_fact;
        if (m.m_unit >= 0 && e.m_defined && e.m_line > 0 && !e.m_file.empty() &&
            (e.m_class == "GF" || e.m_class == "LF" || e.m_class == "VF"))
            groups[{m.m_unit, e.m_file}].push_back(id);
    }
    int kept = 0;
    for (const auto& g : groups) {
        int unit = g.first.first;
        std::string spelled = base.spelled(g.first.second);
        int fd = open(textPath(unit).c_str(), O_RDONLY);
        if (fd < 0)
            continue; // no preprocessor run: lopwort's would fail as well
        g_filenameP = spelled.c_str();
        g_debug_flag = 0;
        scan(base.units()[static_cast<size_t>(unit)].m_args[0].c_str(), fd);
        g_filenameP = "";
        for (const std::string& id : g.second) {
            const CFactEntity& e = base.entity(id).m_fact;
            // lopwort takes the first record that holds the function's line;
            // it is the function's own when it starts where the function's
            // text starts and ends on its last line. Positions in the middle
            // of a line cannot be compared (the preprocessor closes up
            // blanks), so a function that does not begin its line is kept.
            int line = e.m_line, last = e.m_endLine > 0 ? e.m_endLine : e.m_line;
            bool own = false;
            for (int i = 0; i < g_boundaries; ++i) {
                const boundaryT& b = g_boundariesP[i];
                if (b.lineno[0] <= line && b.lineno[1] >= line) {
                    own = e.m_textColumn > 0 && b.lineno[0] == e.m_textLine &&
                          b.character[0] == e.m_textColumn && b.lineno[1] == last;
                    break;
                }
            }
            if (!own) {
                base.add_relation("call", keepRoot(unit), id);
                ++kept;
            }
        }
    }
    return kept;
}
