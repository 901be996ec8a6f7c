// lopwort-facts: reads a compilation database, parses every unit with clang
// in worker processes, and writes the one TA fact file that lopwort reads.
#include "arguments.h"
#include "compdb.h"
#include "collect.h"
#include "compiler.h"
#include "guardcheck.h"
#include "merge.h"
#include "parse.h"
#include "pool.h"
#include "spelling.h"
#include "tawriter.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    "                     [--stats] [-v] compile_commands.json\n";

struct CSettings {
    int m_jobs = 1;
    std::string m_output;
    std::vector<std::string> m_entries;
    std::vector<std::string> m_exported;
    std::string m_database;
    bool m_stats = false;
    bool m_verbose = false;
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
        } else if (a == "-o") {
            const char* v = value("-o");
            if (!v)
                return 1;
            settingsR.m_output = v;
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
        } else if (a == "--stats") {
            settingsR.m_stats = true;
        } else if (a == "-v") {
            settingsR.m_verbose = true;
        } else if (a.size() > 1 && a[0] == '-') {
            fprintf(stderr, "lopwort-facts: unknown option %s\n%s", a.c_str(), g_usage);
            return 1;
        } else if (!settingsR.m_database.empty()) {
            fprintf(stderr, "lopwort-facts: more than one database given\n%s", g_usage);
            return 1;
        } else {
            settingsR.m_database = a;
        }
    }
    if (settingsR.m_database.empty()) {
        fprintf(stderr, "lopwort-facts: no compilation database given\n%s", g_usage);
        return 1;
    }
    return 0;
}

static std::string make_work_dir() {
    const char* baseP = getenv("TMPDIR");
    std::string tmpl = std::string(baseP && *baseP ? baseP : "/tmp") + "/lopwort-facts-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        return std::string();
    return buf.data();
}

int main(int argc, char** argv) {
    CSettings settings;
    int status = parse_options(argc, argv, settings);
    if (status != 0)
        return status < 0 ? 0 : status;

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

    // The unit's file entity is named after its source; a source compiled
    // more than once (with other options) gets a numbered id per entry.
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

    std::string workDir = make_work_dir();
    if (workDir.empty()) {
        fprintf(stderr, "lopwort-facts: cannot make a temporary directory: %s\n",
                strerror(errno));
        return 2;
    }
    auto factsPath = [&](size_t i) { return workDir + "/" + std::to_string(i) + ".facts"; };
    auto textPath = [&](size_t i) { return workDir + "/" + std::to_string(i) + ".i"; };

    CParseSettings parseSettings;
    parseSettings.m_clangPath = LOPWORT_CLANG_PATH;
    parseSettings.m_resourceDir = LOPWORT_CLANG_RESOURCE_DIR;
    parseSettings.m_verbose = settings.m_verbose;

    // Each compiler is asked about its defaults once, here, before the
    // workers are forked, so that they all inherit the answers.
    CCompilerCache compilers;
    std::vector<const CCompilerDefaults*> defaults;
    std::set<std::string> reported;
    for (const CCompileCommand& cmd : commands) {
        CCompilerQuestion question = compiler_question(cmd);
        const CCompilerDefaults& d = compilers.defaults(question);
        defaults.push_back(&d);
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

    auto started = std::chrono::steady_clock::now();
    auto work = [&](size_t i) -> int {
        const CCompileCommand& cmd = commands[i];
        CUnitContext unit;
        unit.m_unitId = units[i].m_id;
        unit.m_unitLabel = cmd.m_file;
        unit.m_mainFile = real_path(cmd.m_path);
        for (const std::string& dir : user_system_directories(cmd)) {
            std::string real = real_path(dir);
            if (!real.empty())
                unit.m_projectSystemDirs.push_back(real);
        }
        unit.m_exportedDirs = settings.m_exported;
        CUnitFacts facts;
        std::string message;
        if (unit.m_mainFile.empty()) {
            facts.m_failure = "no such file";
            return write_unit_facts(facts, factsPath(i)) ? 2 : 3;
        }
        if (!parse_unit(cmd, parseSettings, defaults[i], unit, textPath(i), facts, message)) {
            // The merge names the unit and reads what it could use.
            facts.m_failure = message;
            return write_unit_facts(facts, factsPath(i)) ? 2 : 3;
        }
        if (!write_unit_facts(facts, factsPath(i))) {
            fprintf(stderr, "lopwort-facts: cannot write %s\n", factsPath(i).c_str());
            return 3;
        }
        return 0;
    };
    std::vector<bool> parsed(commands.size(), false);
    std::vector<std::string> failures(commands.size());
    size_t done = 0, failed = 0;
    bool progress = commands.size() > 1;
    auto finished = [&](size_t i, const CJobResult& result) {
        ++done;
        if (result.m_status == 0) {
            parsed[i] = true;
        } else {
            ++failed;
            failures[i] = result.m_signal != 0
                              ? "the parser ended by signal " + std::to_string(result.m_signal)
                              : "the parser failed";
        }
        if (progress)
            fprintf(stderr, "lopwort-facts: %zu of %zu units done\n", done, commands.size());
    };
    if (!run_in_children(commands.size(), settings.m_jobs, work, finished)) {
        fprintf(stderr, "lopwort-facts: cannot start workers\n");
        return 2;
    }
    double parseSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    CFactBase base;
    for (size_t i = 0; i < commands.size(); ++i) {
        CUnitFacts facts;
        bool read = read_unit_facts(factsPath(i), facts, error);
        unlink(factsPath(i).c_str());
        if (!parsed[i]) {
            if (read && !facts.m_failure.empty())
                failures[i] = facts.m_failure;
            bool known = read && (!facts.m_files.empty() || !facts.m_names.empty());
            base.add_failed_unit(units[i], known ? &facts : nullptr);
            continue;
        }
        if (!read) {
            fprintf(stderr, "lopwort-facts: %s\n", error.c_str());
            failures[i] = "its facts were lost";
            parsed[i] = false;
            base.add_failed_unit(units[i], nullptr);
            ++failed;
        } else {
            for (const std::string& w : facts.m_warnings)
                fprintf(stderr, "lopwort-facts: %s: %s\n", commands[i].m_path.c_str(), w.c_str());
            base.add_unit(units[i], &facts);
        }
    }
    for (size_t i = 0; i < commands.size(); ++i)
        if (!parsed[i])
            fprintf(stderr, "lopwort-facts: %s: does not parse: %s\n", commands[i].m_path.c_str(),
                    failures[i].c_str());
    if (failed && !settings.m_keepGoing) {
        for (size_t i = 0; i < commands.size(); ++i)
            unlink(textPath(i).c_str());
        rmdir(workDir.c_str());
        fprintf(stderr,
                "lopwort-facts: %zu of %zu units did not parse; no facts written "
                "(--keep-going writes facts that keep alive what they could use)\n",
                failed, commands.size());
        return 3;
    }
    std::vector<std::string> kept = keep_unguardable_functions(
        base, [&](int u) { return textPath(static_cast<size_t>(u)); },
        [&](int u) { return keep_root_id(units[static_cast<size_t>(u)].m_id); });
    if (settings.m_verbose) {
        // Functions that a macro writes together with other declarations
        // (a test macro's class and body) are counted, not listed: no scan
        // could ever isolate them.
        size_t inMacroLines = 0;
        for (const std::string& id : kept) {
            const CFactEntity& e = base.entity(id).m_fact;
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
    for (size_t i = 0; i < commands.size(); ++i)
        unlink(textPath(i).c_str());
    rmdir(workDir.c_str());
    std::vector<std::string> unmatched;
    base.finish(settings.m_entries, !settings.m_exported.empty(), unmatched);
    for (const std::string& name : unmatched)
        fprintf(stderr, "lopwort-facts: --entry %s matches no function\n", name.c_str());

    std::string text = write_ta(base, settings.m_database);
    FILE* outP = settings.m_output.empty() ? stdout : fopen(settings.m_output.c_str(), "wb");
    if (!outP) {
        fprintf(stderr, "lopwort-facts: cannot write %s: %s\n", settings.m_output.c_str(),
                strerror(errno));
        return 2;
    }
    bool written = fwrite(text.data(), 1, text.size(), outP) == text.size();
    written = (outP == stdout ? fflush(outP) == 0 : fclose(outP) == 0) && written;
    if (!written) {
        fprintf(stderr, "lopwort-facts: writing the facts failed\n");
        return 2;
    }

    if (settings.m_stats) {
        struct rusage self, children;
        getrusage(RUSAGE_SELF, &self);
        getrusage(RUSAGE_CHILDREN, &children);
        fprintf(stderr,
                "lopwort-facts: %zu units (%zu skipped), %zu functions, %.1f s, "
                "%.2f units/s, peak memory %ld MiB (largest worker), %ld MiB (merge)\n",
                commands.size(), failed, base.functions(), parseSeconds,
                parseSeconds > 0 ? static_cast<double>(commands.size()) / parseSeconds : 0.0,
                children.ru_maxrss / 1024, self.ru_maxrss / 1024);
    }
    if (failed)
        fprintf(stderr,
                "lopwort-facts: %zu of %zu units did not parse; what they could use is kept "
                "alive\n",
                failed, commands.size());
    return failed ? 3 : 0;
}
