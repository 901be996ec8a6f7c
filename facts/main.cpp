// lopwort-facts: reads a compilation database, parses every unit with clang
// in worker processes, and writes the one TA fact file that lopwort reads.
#include "arguments.h"
#include "cache.h"
#include "compdb.h"
#include "collect.h"
#include "compiler.h"
#include "fragment.h"
#include "guardcheck.h"
#include "merge.h"
#include "parse.h"
#include "pool.h"
#include "spelling.h"
#include "tawriter.h"
#include "unitstep.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <map>
#include <set>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#ifndef LOPWORT_CLANG_PATH
#define LOPWORT_CLANG_PATH "clang"
#endif
#ifndef LOPWORT_CLANG_RESOURCE_DIR
#define LOPWORT_CLANG_RESOURCE_DIR ""
#endif

static const char* g_usage =
    "usage: lopwort-facts [-j N] [-o FILE] [--entry NAME]... [--exported DIR]... [--keep-going]\n"
    "                     [--cache DIR | --no-cache] [--stats] [-q] [-v] compile_commands.json\n"
    "       lopwort-facts --unit FILE[#K] -o FRAGMENT [--exported DIR]... [--cache DIR | --no-cache]\n"
    "                     [-v] compile_commands.json\n"
    "       lopwort-facts --merge [-j N] [-o FILE] [--entry NAME]... [--exported DIR]... [--keep-going]\n"
    "                     [--cache DIR | --no-cache] [--stats] [-v] FRAGMENT...\n";

struct CSettings {
    int m_jobs = 1;
    std::string m_output;
    std::vector<std::string> m_entries;
    std::vector<std::string> m_exported;
    std::string m_database;
    std::vector<std::string> m_fragments; // --merge: the fragments to merge
    std::string m_unit;                   // --unit: the entry's file, with #K for the K-th
    bool m_merge = false;
    std::string m_cacheDir = default_cache_dir();
    bool m_stats = false;
    bool m_verbose = false;
    bool m_quiet = false;
    bool m_keepGoing = false; // write facts although units did not parse
};

static bool parse_jobs(const char* textP, int& jobsR) {
    char* endP = nullptr;
    errno = 0;
    long n = strtol(textP, &endP, 10);
    if (errno != 0 || endP == textP || *endP != '\0' || n < 1 || n > 256)
        return false;
    jobsR = static_cast<int>(n);
    return true;
}

// Returns 0 to go on, or the exit status for main.
static int parse_options(int argc, char** argv, CSettings& settingsR) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                fprintf(stderr, "lopwort-facts: %s needs a value\n%s", name, g_usage);
                return nullptr;
            }
            return argv[++i];
        };
        if (a == "-h" || a == "--help") {
            fputs(g_usage, stdout);
            return -1;
        } else if (a == "-j" || (a.size() > 2 && a.compare(0, 2, "-j") == 0)) {
            const char* v = a == "-j" ? value("-j") : argv[i] + 2;
            if (!v)
                return 1;
            if (!parse_jobs(v, settingsR.m_jobs)) {
                fprintf(stderr, "lopwort-facts: -j needs a number from 1 to 256, not %s\n", v);
                return 1;
            }
        } else if (std::string* targetP = a == "-o"        ? &settingsR.m_output
                                          : a == "--unit"  ? &settingsR.m_unit
                                          : a == "--cache" ? &settingsR.m_cacheDir
                                                           : nullptr) {
            const char* v = value(a.c_str());
            if (!v)
                return 1;
            *targetP = v;
        } else if (a == "--entry") {
            const char* v = value("--entry");
            if (!v)
                return 1;
            settingsR.m_entries.push_back(v);
        } else if (a == "--exported") {
            const char* v = value("--exported");
            if (!v)
                return 1;
            std::string real = real_path(v);
            if (real.empty()) {
                fprintf(stderr, "lopwort-facts: --exported %s: no such directory\n", v);
                return 1;
            }
            settingsR.m_exported.push_back(real);
        } else if (a == "--keep-going") {
            settingsR.m_keepGoing = true;
        } else if (a == "--merge") {
            settingsR.m_merge = true;
        } else if (a == "--no-cache") {
            settingsR.m_cacheDir.clear();
        } else if (a == "-q") {
            settingsR.m_quiet = true;
        } else if (a == "--stats") {
            settingsR.m_stats = true;
        } else if (a == "-v") {
            settingsR.m_verbose = true;
        } else if (a.size() > 1 && a[0] == '-') {
            fprintf(stderr, "lopwort-facts: unknown option %s\n%s", a.c_str(), g_usage);
            return 1;
        } else if (settingsR.m_merge) {
            settingsR.m_fragments.push_back(a);
        } else if (!settingsR.m_database.empty()) {
            fprintf(stderr, "lopwort-facts: more than one database given\n%s", g_usage);
            return 1;
        } else {
            settingsR.m_database = a;
        }
    }
    if (settingsR.m_merge && !settingsR.m_unit.empty()) {
        fprintf(stderr, "lopwort-facts: --unit and --merge are steps of their own\n%s", g_usage);
        return 1;
    }
    if (settingsR.m_merge) {
        // Fragments named before --merge were taken for the database.
        if (!settingsR.m_database.empty())
            settingsR.m_fragments.insert(settingsR.m_fragments.begin(), settingsR.m_database);
        if (settingsR.m_fragments.empty()) {
            fprintf(stderr, "lopwort-facts: --merge needs fragments\n%s", g_usage);
            return 1;
        }
        return 0;
    }
    if (settingsR.m_database.empty()) {
        fprintf(stderr, "lopwort-facts: no compilation database given\n%s", g_usage);
        return 1;
    }
    if (!settingsR.m_unit.empty() && settingsR.m_output.empty()) {
        fprintf(stderr, "lopwort-facts: --unit needs -o FRAGMENT\n%s", g_usage);
        return 1;
    }
    return 0;
}

// The file entity of every entry, named after its source; a source compiled
// more than once (with other options) gets a numbered id per entry.
static std::vector<CMergedUnit> file_entities(const std::vector<CCompileCommand>& commands) {
    std::vector<CMergedUnit> units;
    std::map<std::string, int> seen;
    for (const CCompileCommand& cmd : commands) {
        CMergedUnit u;
        int n = ++seen[cmd.m_path];
        u.m_id = n == 1 ? cmd.m_path : cmd.m_path + "#" + std::to_string(n);
        u.m_label = cmd.m_file;
        u.m_args.push_back(cmd.m_directory);
        u.m_args.push_back(cmd.m_compiler);
        u.m_args.insert(u.m_args.end(), cmd.m_arguments.begin() + 1, cmd.m_arguments.end());
        units.push_back(u);
    }
    return units;
}

// Progress on standard error: on a terminal one line that changes in place,
// elsewhere a line every few seconds.
class CProgress {
  public:
    CProgress(size_t total, bool quiet)
        : m_total(total), m_quiet(quiet || total < 2), m_tty(isatty(2) != 0),
          m_start(std::chrono::steady_clock::now()), m_last(m_start) {}

    void update(size_t done, size_t failed) {
        if (m_quiet)
            return;
        auto now = std::chrono::steady_clock::now();
        double since = std::chrono::duration<double>(now - m_last).count();
        if (!m_tty && since < 5 && done < m_total)
            return;
        m_last = now;
        double elapsed = std::chrono::duration<double>(now - m_start).count();
        double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
        char left[64] = "";
        if (rate > 0 && done < m_total) {
            long seconds = static_cast<long>(static_cast<double>(m_total - done) / rate + 0.5);
            snprintf(left, sizeof left, ", %ld min %02ld s left", seconds / 60, seconds % 60);
        }
        fprintf(stderr, "%slopwort-facts: %zu of %zu units, %.2f units/s%s, %zu failed%s",
                m_tty ? "\r" : "", done, m_total, rate, left, failed, m_tty ? "\033[K" : "\n");
        if (m_tty && done == m_total)
            fputc('\n', stderr);
    }

  private:
    size_t m_total;
    bool m_quiet, m_tty;
    std::chrono::steady_clock::time_point m_start, m_last;
};

// A unit to merge: its fragment, or, for a worker that left none, the unit
// and why.
struct CMergeInput {
    std::string m_fragment;
    const CMergedUnit* m_unitP = nullptr;
    std::string m_failure;
};

struct CRunCounts {
    size_t m_parsed = 0, m_fromCache = 0;
    double m_parseSeconds = 0;
};

// Merges the units in order and writes the facts; the exit status.
static int merge_and_write(const std::vector<CMergeInput>& inputs, const CSettings& settings,
                           const std::string& databaseName, const CRunCounts& counts) {
#ifdef __GLIBC__
    // What reading the database took is free by now but still the
    // process's; the merge is the largest part of the run and starts low.
    malloc_trim(0);
#endif
    CFactBase base;
    struct CText {
        std::string m_path;
        long m_offset = 0, m_size = 0;
        std::string m_key;
    };
    std::vector<CText> texts; // per unit of the base
    std::vector<std::pair<std::string, std::string>> failures; // unit id, first error
    for (const CMergeInput& in : inputs) {
        CFragment fragment;
        std::string error;
        bool read = !in.m_fragment.empty() && read_fragment(in.m_fragment, fragment, error);
        if (!read && in.m_unitP == nullptr) {
            fprintf(stderr, "lopwort-facts: %s\n", error.c_str());
            return 1;
        }
        texts.push_back(CText());
        if (!read) {
            if (!error.empty())
                fprintf(stderr, "lopwort-facts: %s\n", error.c_str());
            failures.push_back({in.m_unitP->m_id,
                                in.m_failure.empty() ? "its facts were lost" : in.m_failure});
            base.add_failed_unit(*in.m_unitP, nullptr);
            continue;
        }
        const CUnitFacts& facts = fragment.m_facts;
        if (!facts.m_failure.empty()) {
            failures.push_back({fragment.m_unit.m_id, facts.m_failure});
            bool known = !facts.m_files.empty() || !facts.m_names.empty();
            base.add_failed_unit(fragment.m_unit, known ? &facts : nullptr);
            continue;
        }
        for (const std::string& w : facts.m_warnings)
            fprintf(stderr, "lopwort-facts: %s: %s\n", fragment.m_unit.m_id.c_str(), w.c_str());
        base.add_unit(fragment.m_unit, &facts);
        texts.back() = {in.m_fragment, fragment.m_textOffset, fragment.m_textSize,
                        fragment.m_textKey};
    }
    for (const auto& f : failures)
        fprintf(stderr, "lopwort-facts: %s: does not parse: %s\n", f.first.c_str(),
                f.second.c_str());
    size_t failed = failures.size(), total = inputs.size();
    if (failed && !settings.m_keepGoing) {
        fprintf(stderr,
                "lopwort-facts: %zu of %zu units did not parse; no facts written "
                "(--keep-going writes facts that keep alive what they could use)\n",
                failed, total);
        return 3;
    }
    CFactsCache cache(settings.m_cacheDir);
    CUnitTexts unitTexts;
    unitTexts.m_open = [&](int u) {
        const CText& t = texts[static_cast<size_t>(u)];
        return open_fragment_text(t.m_path, t.m_offset, t.m_size);
    };
    unitTexts.m_key = [&](int u) { return texts[static_cast<size_t>(u)].m_key; };
    unitTexts.m_cacheP = &cache;
    unitTexts.m_jobs = settings.m_jobs;
    std::vector<std::string> kept = keep_unguardable_functions(
        base, unitTexts,
        [&](int u) { return keep_root_id(base.units()[static_cast<size_t>(u)].m_id); });
    if (settings.m_verbose) {
        // Functions that a macro writes together with other declarations
        // (a test macro's class and body) are counted, not listed: no scan
        // could ever isolate them.
        size_t inMacroLines = 0;
        for (const std::string& id : kept) {
            const CFactEntity e = base.entity(id).m_fact;
            if (e.m_inMacroLine)
                ++inMacroLines;
            else
                fprintf(stderr, "lopwort-facts: kept, no extent of its own: %s:%d %s\n",
                        e.m_file.c_str(), e.m_line, e.m_label.c_str());
        }
        fprintf(stderr,
                "lopwort-facts: %zu functions kept that lopwort could not guard alone, "
                "and %zu written by a macro with other declarations\n",
                kept.size() - inMacroLines, inMacroLines);
    }
    std::vector<std::string> unmatched;
    base.finish(settings.m_entries, !settings.m_exported.empty(), unmatched);
    for (const std::string& name : unmatched)
        fprintf(stderr, "lopwort-facts: --entry %s matches no function\n", name.c_str());

    if (settings.m_output.empty()) {
        bool written = write_ta(base, databaseName, [](const std::string& piece) {
            return fwrite(piece.data(), 1, piece.size(), stdout) == piece.size();
        });
        if (fflush(stdout) != 0 || !written) {
            fprintf(stderr, "lopwort-facts: writing the facts failed\n");
            return 2;
        }
    } else {
        CWholeFile out(settings.m_output);
        write_ta(base, databaseName, [&](const std::string& piece) { return out.write(piece); });
        if (int err = out.commit()) {
            fprintf(stderr, "lopwort-facts: cannot write %s: %s\n", settings.m_output.c_str(),
                    strerror(err));
            return 2;
        }
    }

    if (settings.m_stats) {
        struct rusage self, children;
        getrusage(RUSAGE_SELF, &self);
        getrusage(RUSAGE_CHILDREN, &children);
        fprintf(stderr,
                "lopwort-facts: %zu units (%zu skipped), %zu functions, %.1f s, "
                "%.2f units/s, peak memory %ld MiB (largest worker), %ld MiB (merge); "
                "%zu parsed, %zu from the cache\n",
                total, failed, base.functions(), counts.m_parseSeconds,
                counts.m_parseSeconds > 0 ? static_cast<double>(total) / counts.m_parseSeconds
                                          : 0.0,
                children.ru_maxrss / 1024, self.ru_maxrss / 1024, counts.m_parsed,
                counts.m_fromCache);
    }
    if (failed)
        fprintf(stderr,
                "lopwort-facts: %zu of %zu units did not parse; what they could use is kept "
                "alive\n",
                failed, total);
    return failed ? 3 : 0;
}

// --merge: the fragments in database order, whatever order they are named in.
static int merge_fragments(const CSettings& settings) {
    std::vector<std::pair<size_t, std::string>> order;
    for (const std::string& path : settings.m_fragments) {
        CFragment head;
        std::string error;
        if (!read_fragment(path, head, error, true)) {
            fprintf(stderr, "lopwort-facts: %s\n", error.c_str());
            return 1;
        }
        order.push_back({head.m_index, path});
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<CMergeInput> inputs;
    for (const auto& o : order)
        inputs.push_back({o.second, nullptr, std::string()});
    return merge_and_write(inputs, settings, std::to_string(inputs.size()) + " fragments",
                           CRunCounts());
}

int main(int argc, char** argv) {
    CSettings settings;
    int status = parse_options(argc, argv, settings);
    if (status != 0)
        return status < 0 ? 0 : status;
    if (settings.m_merge)
        return merge_fragments(settings);

    std::vector<CCompileCommand> commands;
    std::vector<std::string> warnings;
    std::string error;
    if (!read_compilation_database(settings.m_database, commands, error, warnings)) {
        fprintf(stderr, "lopwort-facts: %s\n", error.c_str());
        return 1;
    }
    for (const std::string& w : warnings)
        fprintf(stderr, "lopwort-facts: %s\n", w.c_str());
    if (commands.empty()) {
        fprintf(stderr, "lopwort-facts: %s holds no unit to parse\n", settings.m_database.c_str());
        return 1;
    }
    std::vector<CMergedUnit> units = file_entities(commands);

    // --unit: the one entry named, by its file as the database records it
    // or as a path, "#K" choosing the K-th entry of a file listed more
    // than once.
    std::vector<size_t> chosen;
    if (!settings.m_unit.empty()) {
        std::string file = settings.m_unit;
        size_t wanted = 1;
        size_t hash = file.rfind('#');
        if (hash != std::string::npos && hash + 1 < file.size() &&
            file.find_first_not_of("0123456789", hash + 1) == std::string::npos) {
            wanted = strtoul(file.c_str() + hash + 1, nullptr, 10);
            file.erase(hash);
        }
        std::string real = real_path(file);
        size_t seen = 0;
        for (size_t i = 0; i < commands.size() && chosen.empty(); ++i)
            if ((commands[i].m_file == file || commands[i].m_path == file ||
                 (!real.empty() && real_path(commands[i].m_path) == real)) &&
                ++seen == wanted)
                chosen.push_back(i);
        if (chosen.empty()) {
            fprintf(stderr, "lopwort-facts: %s has no entry %s\n", settings.m_database.c_str(),
                    settings.m_unit.c_str());
            return 1;
        }
    } else {
        for (size_t i = 0; i < commands.size(); ++i)
            chosen.push_back(i);
    }

    CUnitStep step{settings.m_exported, CParseSettings(), CFactsCache(settings.m_cacheDir)};
    step.m_parse.m_clangPath = LOPWORT_CLANG_PATH;
    step.m_parse.m_resourceDir = LOPWORT_CLANG_RESOURCE_DIR;
    step.m_parse.m_verbose = settings.m_verbose;

    // Each compiler is asked about its defaults once, here, before the
    // workers are forked, so that they all inherit the answers.
    CCompilerCache compilers;
    std::vector<const CCompilerDefaults*> defaults(commands.size(), nullptr);
    std::set<std::string> reported;
    for (size_t i : chosen) {
        const CCompileCommand& cmd = commands[i];
        CCompilerQuestion question = compiler_question(cmd);
        const CCompilerDefaults& d = compilers.defaults(question);
        defaults[i] = &d;
        std::string key = question.m_compiler + " " + question.m_language;
        for (const std::string& o : question.m_options)
            key += " " + o;
        if (!reported.insert(key).second)
            continue;
        if (!d.m_known && !question.m_language.empty())
            fprintf(stderr, "lopwort-facts: %s: its defaults are unknown (%s); clang's own used\n",
                    key.c_str(), d.m_error.c_str());
        else if (d.m_known && settings.m_verbose)
            fprintf(stderr, "lopwort-facts: %s: default -std=%s, %zu include directories\n",
                    key.c_str(), d.standard().empty() ? "(unknown)" : d.standard().c_str(),
                    d.m_includeDirs.size());
    }

    if (!settings.m_unit.empty()) {
        size_t i = chosen[0];
        EUnitOutcome outcome =
            extract_unit(step, commands[i], i, units[i], defaults[i], settings.m_output);
        if (outcome == Unit_lost)
            return 2;
        if (outcome == Unit_failed) {
            // The fragment names the failure for the merge; say it here too.
            CFragment fragment;
            if (read_fragment(settings.m_output, fragment, error))
                fprintf(stderr, "lopwort-facts: %s: does not parse: %s\n", units[i].m_id.c_str(),
                        fragment.m_facts.m_failure.c_str());
            return 3;
        }
        if (settings.m_verbose)
            fprintf(stderr, "lopwort-facts: %s: %s\n", units[i].m_id.c_str(),
                    outcome == Unit_from_cache ? "from the cache" : "parsed");
        return 0;
    }

    std::string workDir = make_work_dir();
    if (workDir.empty()) {
        fprintf(stderr, "lopwort-facts: cannot make a temporary directory: %s\n",
                strerror(errno));
        return 2;
    }
    auto fragmentPath = [&](size_t i) { return workDir + "/" + std::to_string(i) + ".fragment"; };

    auto started = std::chrono::steady_clock::now();
    std::vector<CMergeInput> inputs(commands.size());
    CRunCounts counts;
    size_t done = 0, failed = 0;
    CProgress progress(commands.size(), settings.m_quiet);
    auto work = [&](size_t i) -> int {
        return extract_unit(step, commands[i], i, units[i], defaults[i], fragmentPath(i));
    };
    auto finished = [&](size_t i, const CJobResult& result) {
        ++done;
        inputs[i].m_unitP = &units[i];
        if (result.m_status != Unit_lost && result.m_signal == 0)
            inputs[i].m_fragment = fragmentPath(i);
        if (result.m_status == Unit_parsed)
            ++counts.m_parsed;
        else if (result.m_status == Unit_from_cache)
            ++counts.m_fromCache;
        else
            ++failed;
        if (result.m_signal != 0)
            inputs[i].m_failure = "the parser ended by signal " + std::to_string(result.m_signal);
        else if (result.m_status != Unit_parsed && result.m_status != Unit_from_cache)
            inputs[i].m_failure = "the parser failed";
        progress.update(done, failed);
    };
    if (!run_in_children(commands.size(), settings.m_jobs, work, finished)) {
        fprintf(stderr, "lopwort-facts: cannot start workers\n");
        return 2;
    }
    counts.m_parseSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    commands = {}; // the units keep what the merge needs of them
    status = merge_and_write(inputs, settings, settings.m_database, counts);
    for (size_t i = 0; i < inputs.size(); ++i)
        unlink(fragmentPath(i).c_str());
    rmdir(workDir.c_str());
    return status;
}
