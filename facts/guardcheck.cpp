// Reuses lopwort's scanner (boundaries_scan in lopwort_core) on the text of
// the preprocessor run that taught a worker the file names' spelling: the
// records it makes are exactly those lopwort will look a dead function's
// line up in. It runs in the merge, where the containing unit of each
// function is known, so each file is scanned in the text of every unit
// that holds its functions, all of a unit's files in one pass.
#include "guardcheck.h"

#include "boundaries.h"
#include "fragment.h"
#include "pool.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <unistd.h>
#include <vector>

namespace {

// What the check needs of a defined function: where it is in the base, its
// lines, and where its text begins.
struct CFunctionText {
    size_t m_index = 0;
    int m_line = 0, m_last = 0; // first and last line
    int m_textLine = 0, m_textColumn = 0;
    const std::string* m_fileP = nullptr; // its name, a key of the files' map
    int m_unit = -1;                       // its containing unit
};

// Two entities of one text: instances of one template, the copies of a
// static function that every unit including its header makes, or the
// functions that one macro invocation writes (which the extractor made
// live and die together, or kept).
bool same_text(const CFunctionText& a, const CFunctionText& b) {
    return a.m_textColumn > 0 && a.m_textLine == b.m_textLine &&
           a.m_textColumn == b.m_textColumn && a.m_last == b.m_last;
}

// The defined functions of one file, by first line, for the question which
// of them a record's lines reach.
struct CFileFunctions {
    std::vector<const CFunctionText*> m_byLine;
    std::vector<int> m_reach; // the last line of the functions up to each one

    void finish() {
        std::sort(m_byLine.begin(), m_byLine.end(),
                  [](const CFunctionText* a, const CFunctionText* b) { return a->m_line < b->m_line; });
        m_reach.clear();
        int reach = 0;
        for (const CFunctionText* fP : m_byLine) {
            reach = std::max(reach, fP->m_last);
            m_reach.push_back(reach);
        }
    }

    // Whether a function of another text than self has a line in [first, last].
    bool shared(const CFunctionText& self, int first, int last) const {
        auto end = std::upper_bound(
            m_byLine.begin(), m_byLine.end(), last,
            [](int line, const CFunctionText* fP) { return line < fP->m_line; });
        for (size_t i = static_cast<size_t>(end - m_byLine.begin()); i-- > 0;) {
            if (m_reach[i] < first)
                break;
            const CFunctionText& other = *m_byLine[i];
            if (&other != &self && other.m_last >= first && !same_text(self, other))
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

// One scan to make: a unit's text, for one file.
struct CScanJob {
    int m_unit = -1;
    std::string m_cwd, m_spelled, m_key;
    enum EState { Scan_wanted, Scan_done, Scan_no_text } m_state = Scan_wanted;
    std::vector<CScanRecord> m_records;
};

// The scans of one unit's text, made in one pass over it. Without a text
// (no preprocessor run: lopwort's would fail as well) they have none.
void scan_text(std::vector<CScanJob*>& jobs, const CUnitTexts& texts) {
    int fd = texts.m_open(jobs.front()->m_unit);
    if (fd < 0) {
        for (CScanJob* jobP : jobs)
            jobP->m_state = CScanJob::Scan_no_text;
        return;
    }
    std::vector<std::string> wanted;
    for (const CScanJob* jobP : jobs)
        wanted.push_back(jobP->m_spelled);
    std::vector<std::vector<boundaryT>> records;
    scan_files(jobs.front()->m_cwd.c_str(), fd, wanted, records);
    for (size_t i = 0; i < jobs.size(); ++i) {
        CScanJob& job = *jobs[i];
        job.m_records.clear();
        for (const boundaryT& b : records[i])
            job.m_records.push_back({b.lineno[0], b.lineno[1], b.character[0], b.linestart != 0});
        job.m_state = CScanJob::Scan_done;
    }
}

// Makes every scan: from the cache where it has them, then the rest a
// unit's text at a time, in jobs child processes at once, each leaving the
// records of its scans (or "-" for a unit without a text) in files of a
// temporary directory, then here whatever a child could not do.
void run_scans(std::vector<CScanJob>& scans, const CUnitTexts& texts) {
    std::map<int, std::vector<CScanJob*>> byUnit; // of the scans the cache lacks
    for (CScanJob& job : scans) {
        std::string textKey = texts.m_key ? texts.m_key(job.m_unit) : std::string();
        if (texts.m_cacheP != nullptr && texts.m_cacheP->enabled() && !textKey.empty()) {
            job.m_key = CCacheKey().add("scan 1").add(extractor_identity()).add(textKey)
                            .add(job.m_cwd).add(job.m_spelled).hex() + ".s";
            std::string entry;
            if (texts.m_cacheP->load(job.m_key, entry) && read_scan_entry(entry, job.m_records)) {
                job.m_state = CScanJob::Scan_done;
                continue;
            }
        }
        byUnit[job.m_unit].push_back(&job);
    }
    std::vector<std::vector<CScanJob*>> passes;
    for (auto& unit : byUnit)
        passes.push_back(std::move(unit.second));
    std::string dir = texts.m_jobs > 1 && passes.size() > 1 ? make_work_dir() : std::string();
    if (!dir.empty()) {
        // A few batches per job: a child per text would cost a fork of
        // this process for each, often more than a small text's scan.
        size_t batches = std::min(passes.size(), static_cast<size_t>(texts.m_jobs) * 4);
        auto first = [&](size_t b) { return b * passes.size() / batches; };
        auto file = [&](size_t p, size_t k) {
            return dir + "/" + std::to_string(p) + "." + std::to_string(k);
        };
        run_in_children(
            batches, texts.m_jobs,
            [&](size_t b) {
                for (size_t p = first(b); p < first(b + 1); ++p) {
                    scan_text(passes[p], texts);
                    for (size_t k = 0; k < passes[p].size(); ++k) {
                        const CScanJob& job = *passes[p][k];
                        if (write_whole(file(p, k), job.m_state == CScanJob::Scan_done
                                                        ? scan_entry(job.m_records)
                                                        : "-") != 0)
                            return 1;
                    }
                }
                return 0;
            },
            [&](size_t b, const CJobResult&) {
                // What a child wrote is taken even when it failed later;
                // what it did not write is scanned here.
                for (size_t p = first(b); p < first(b + 1); ++p)
                    for (size_t k = 0; k < passes[p].size(); ++k) {
                        CScanJob& job = *passes[p][k];
                        std::string entry;
                        if (read_whole(file(p, k), entry)) {
                            if (entry == "-")
                                job.m_state = CScanJob::Scan_no_text;
                            else if (read_scan_entry(entry, job.m_records))
                                job.m_state = CScanJob::Scan_done;
                        }
                        unlink(file(p, k).c_str());
                    }
            });
        rmdir(dir.c_str());
    }
    for (std::vector<CScanJob*>& pass : passes) {
        std::vector<CScanJob*> left;
        for (CScanJob* jobP : pass)
            if (jobP->m_state == CScanJob::Scan_wanted)
                left.push_back(jobP);
        if (!left.empty())
            scan_text(left, texts);
        for (CScanJob* jobP : pass)
            if (jobP->m_state == CScanJob::Scan_done && !jobP->m_key.empty())
                texts.m_cacheP->store(jobP->m_key, scan_entry(jobP->m_records));
    }
}

} // namespace

std::vector<std::string> keep_unguardable_functions(CFactBase& base, const CUnitTexts& texts,
                               const std::function<std::string(int)>& keepRoot) {
    std::vector<CFunctionText> functions;
    std::map<std::string, CFileFunctions> files;
    for (size_t i = 0; i < base.entity_count(); ++i) {
        CMergedEntity m = base.entity_at(i);
        const CFactEntity& e = m.m_fact;
        if (!e.m_defined || e.m_line <= 0 || e.m_file.empty() || !e.is_function())
            continue;
        functions.push_back({i, e.m_line, e.m_endLine > 0 ? e.m_endLine : e.m_line, e.m_textLine,
                             e.m_textColumn, &files.try_emplace(e.m_file).first->first, m.m_unit});
    }
    // Pointers into functions, which is complete; the groups in the order
    // of their units and files' names.
    auto before = [](const std::pair<int, const std::string*>& a,
                     const std::pair<int, const std::string*>& b) {
        return a.first != b.first ? a.first < b.first : *a.second < *b.second;
    };
    std::map<std::pair<int, const std::string*>, std::vector<const CFunctionText*>, decltype(before)>
        groups(before);
    for (const CFunctionText& f : functions) {
        files[*f.m_fileP].m_byLine.push_back(&f);
        if (f.m_unit >= 0)
            groups[{f.m_unit, f.m_fileP}].push_back(&f);
    }
    for (auto& f : files)
        f.second.finish();

    std::vector<CScanJob> scans;
    for (const auto& g : groups) {
        CScanJob job;
        job.m_unit = g.first.first;
        job.m_cwd = base.units()[static_cast<size_t>(job.m_unit)].m_args[0];
        job.m_spelled = base.spelled(*g.first.second);
        scans.push_back(std::move(job));
    }
    run_scans(scans, texts);

    std::vector<std::string> kept;
    size_t at = 0;
    for (const auto& g : groups) {
        int unit = g.first.first;
        const CScanJob& job = scans[at++];
        if (job.m_state != CScanJob::Scan_done)
            continue;
        const std::vector<CScanRecord>& records = job.m_records;
        const CFileFunctions& inFile = files[*g.first.second];
        for (const CFunctionText* fP : g.second) {
            const CFunctionText& f = *fP;
            // lopwort takes the first record that holds the function's line;
            // guarding it is right when it starts where the function's text
            // starts, ends on its last line, and holds no other function.
            // Positions in the middle of a line cannot be compared (the
            // preprocessor closes up blanks), so a function that does not
            // begin its line is kept.
            bool own = false;
            for (const CScanRecord& b : records) {
                if (b.m_first <= f.m_line && b.m_last >= f.m_line) {
                    own = f.m_textColumn > 0 && b.m_first == f.m_textLine &&
                          (b.m_column == f.m_textColumn || b.m_lineStart) &&
                          b.m_last == f.m_last && !inFile.shared(f, b.m_first, b.m_last);
                    break;
                }
            }
            if (!own) {
                std::string id = base.entity_at(f.m_index).m_fact.m_id;
                base.add_relation("call", keepRoot(unit), id);
                kept.push_back(id);
            }
        }
    }
    return kept;
}
