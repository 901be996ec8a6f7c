// Reuses lopwort's scanner (boundaries_scan in lopwort_core) on the text of
// the preprocessor run that taught a worker the file names' spelling: the
// records it makes are exactly those lopwort will look a dead function's
// line up in. It runs in the merge, where the containing unit of each
// function is known, so each file is scanned once per unit that holds its
// functions.
#include "guardcheck.h"

#include "boundaries.h"
#include "lopwort.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <unistd.h>
#include <vector>

namespace {

int last_line(const CFactEntity& e) { return e.m_endLine > 0 ? e.m_endLine : e.m_line; }

// Two entities of one text: instances of one template, the copies of a
// static function that every unit including its header makes, or the
// functions that one macro invocation writes (which the extractor made
// live and die together, or kept).
bool same_text(const CFactEntity& a, const CFactEntity& b) {
    return a.m_textColumn > 0 && a.m_textLine == b.m_textLine &&
           a.m_textColumn == b.m_textColumn && last_line(a) == last_line(b);
}

// The defined functions of one file, by first line, for the question which
// of them a record's lines reach.
struct CFileFunctions {
    std::vector<const CFactEntity*> m_byLine;
    std::vector<int> m_reach; // the last line of the functions up to each one

    void finish() {
        std::sort(m_byLine.begin(), m_byLine.end(),
                  [](const CFactEntity* a, const CFactEntity* b) { return a->m_line < b->m_line; });
        m_reach.clear();
        int reach = 0;
        for (const CFactEntity* eP : m_byLine) {
            reach = std::max(reach, last_line(*eP));
            m_reach.push_back(reach);
        }
    }

    // Whether a function of another text than self has a line in [first, last].
    bool shared(const CFactEntity& self, int first, int last) const {
        auto end = std::upper_bound(
            m_byLine.begin(), m_byLine.end(), last,
            [](int line, const CFactEntity* eP) { return line < eP->m_line; });
        for (size_t i = static_cast<size_t>(end - m_byLine.begin()); i-- > 0;) {
            if (m_reach[i] < first)
                break;
            const CFactEntity& other = *m_byLine[i];
            if (&other != &self && last_line(other) >= first && !same_text(self, other))
                return true;
        }
        return false;
    }
};

// What the check needs of one record of lopwort's scan.
struct CScanRecord {
    int m_first = 0, m_last = 0; // lines
    int m_column = 0;            // of the first character
    bool m_lineStart = false;
};

std::string scan_entry(const std::vector<CScanRecord>& records) {
    std::string out;
    for (const CScanRecord& r : records)
        out += std::to_string(r.m_first) + "\t" + std::to_string(r.m_column) + "\t" +
               std::to_string(r.m_last) + "\t" + (r.m_lineStart ? "1" : "0") + "\n";
    return out;
}

bool read_scan_entry(const std::string& entry, std::vector<CScanRecord>& recordsR) {
    recordsR.clear();
    const char* p = entry.c_str();
    while (*p != '\0') {
        CScanRecord r;
        int lineStart = 0, used = 0;
        if (sscanf(p, "%d\t%d\t%d\t%d\n%n", &r.m_first, &r.m_column, &r.m_last, &lineStart,
                   &used) != 4 ||
            used == 0 || p[used - 1] != '\n')
            return false;
        r.m_lineStart = lineStart != 0;
        recordsR.push_back(r);
        p += used;
    }
    return true;
}

// The records of lopwort's scan of a unit's text, for the file spelled so:
// from the cache when the text is known by a key, else from a scan. False
// when the unit has no text.
bool scan_records(int unit, const std::string& cwd, const std::string& spelled,
                  const std::function<int(int)>& openText, const std::string& textKey,
                  const CFactsCache& cache, std::vector<CScanRecord>& recordsR) {
    std::string key;
    if (cache.enabled() && !textKey.empty()) {
        key = CCacheKey().add("scan 1").add(extractor_identity()).add(textKey).add(cwd)
                  .add(spelled).hex() + ".s";
        std::string entry;
        if (cache.load(key, entry) && read_scan_entry(entry, recordsR))
            return true;
    }
    int fd = openText(unit);
    if (fd < 0)
        return false; // no preprocessor run: lopwort's would fail as well
    g_filenameP = spelled.c_str();
    g_debug_flag = 0;
    scan(cwd.c_str(), fd);
    g_filenameP = "";
    recordsR.clear();
    for (int i = 0; i < g_boundaries; ++i) {
        const boundaryT& b = g_boundariesP[i];
        recordsR.push_back({b.lineno[0], b.lineno[1], b.character[0], b.linestart != 0});
    }
    if (!key.empty())
        cache.store(key, scan_entry(recordsR));
    return true;
}

} // namespace

std::vector<std::string> keep_unguardable_functions(CFactBase& base,
                               const std::function<int(int)>& openText,
                               const std::function<std::string(int)>& keepRoot,
                               const std::function<std::string(int)>& textKey,
                               const CFactsCache& cache) {
    std::map<std::pair<int, std::string>, std::vector<std::string>> groups;
    std::map<std::string, CFileFunctions> files;
    for (const std::string& id : base.order()) {
        const CMergedEntity& m = base.entity(id);
        const CFactEntity& e = m.m_fact;
        if (!e.m_defined || e.m_line <= 0 || e.m_file.empty() || !e.is_function())
            continue;
        files[e.m_file].m_byLine.push_back(&e);
        if (m.m_unit >= 0)
            groups[{m.m_unit, e.m_file}].push_back(id);
    }
    for (auto& f : files)
        f.second.finish();

    std::vector<std::string> kept;
    for (const auto& g : groups) {
        int unit = g.first.first;
        std::string spelled = base.spelled(g.first.second);
        std::vector<CScanRecord> records;
        if (!scan_records(unit, base.units()[static_cast<size_t>(unit)].m_args[0], spelled,
                          openText, textKey(unit), cache, records))
            continue;
        const CFileFunctions& inFile = files[g.first.second];
        for (const std::string& id : g.second) {
            const CFactEntity& e = base.entity(id).m_fact;
            // lopwort takes the first record that holds the function's line;
            // guarding it is right when it starts where the function's text
            // starts, ends on its last line, and holds no other function.
            // Positions in the middle of a line cannot be compared (the
            // preprocessor closes up blanks), so a function that does not
            // begin its line is kept.
            bool own = false;
            for (const CScanRecord& b : records) {
                if (b.m_first <= e.m_line && b.m_last >= e.m_line) {
                    own = e.m_textColumn > 0 && b.m_first == e.m_textLine &&
                          (b.m_column == e.m_textColumn || b.m_lineStart) &&
                          b.m_last == last_line(e) && !inFile.shared(e, b.m_first, b.m_last);
                    break;
                }
            }
            if (!own) {
                base.add_relation("call", keepRoot(unit), id);
                kept.push_back(id);
            }
        }
    }
    return kept;
}
