// The unit step. The cache is looked at twice: through the manifest of the
// unit's last preprocessing, which spares the preprocessor when no file
// changed, and through the key of its preprocessed text, which spares the
// parse when the text is the same.
#include "unitstep.h"

#include "arguments.h"
#include "collect.h"
#include "fragment.h"
#include "spelling.h"

#include <cstdio>
#include <set>

// The compiler's answers as they go into a cache key.
static std::string defaults_key(const CCompilerDefaults* defaultsP) {
    if (defaultsP == nullptr || !defaultsP->m_known)
        return "unknown";
    std::string key = defaultsP->m_language + "\n" + defaultsP->m_target + "\n";
    for (const auto& m : defaultsP->m_macros)
        key += m.first + "=" + m.second + "\n";
    for (const std::string& dir : defaultsP->m_includeDirs)
        key += dir + "\n";
    return key;
}

EUnitOutcome extract_unit(const CUnitStep& step, const CCompileCommand& cmd, size_t index,
                          const CMergedUnit& unit, const CCompilerDefaults* defaultsP,
                          const std::string& fragmentPath) {
    CUnitContext context;
    context.m_unitId = unit.m_id;
    context.m_unitLabel = cmd.m_file;
    context.m_mainFile = real_path(cmd.m_path);
    for (const std::string& dir : user_system_directories(cmd)) {
        std::string real = real_path(dir);
        if (!real.empty())
            context.m_projectSystemDirs.push_back(real);
    }
    context.m_exportedDirs = step.m_exported;
    auto write = [&](const CRecordSource& records, const std::string& text, EUnitOutcome outcome,
                     const std::string& textKey = std::string()) {
        std::string error;
        if (write_fragment(fragmentPath, index, unit, records, text, textKey, error))
            return outcome;
        fprintf(stderr, "lopwort-facts: %s\n", error.c_str());
        return Unit_lost;
    };
    CUnitFacts facts;
    if (context.m_mainFile.empty()) {
        facts.m_failure = "no such file";
        return write(records_of_facts(facts), "", Unit_failed);
    }
    // What decides the facts besides the files the unit reads.
    CCacheKey common;
    common.add("unit facts 2").add(extractor_identity()).add(step.m_parse.m_resourceDir);
    common.add(unit.m_id).add(unit.m_label);
    for (const std::string& a : unit.m_args)
        common.add(a);
    common.add(defaults_key(defaultsP)).add(context.m_mainFile);
    for (const std::string& dir : context.m_exportedDirs)
        common.add("exported " + dir);
    for (const std::string& dir : context.m_projectSystemDirs)
        common.add("system " + dir);
    std::string manifestKey = CCacheKey(common).add("manifest").hex() + ".m";

    // The manifest of the last preprocessing: when every file the unit read
    // and every directory searched is as it was, its text and facts are the
    // ones cached, and not even the preprocessor runs.
    std::string manifest;
    if (step.m_cache.enabled() && step.m_cache.load(manifestKey, manifest) &&
        manifest.compare(0, 2, "K\t") == 0 && manifest.find('\n') == 34) {
        std::string factsKey = manifest.substr(2, 32), states = manifest.substr(35);
        bool stable = false;
        std::string records, text;
        if (file_states(state_paths(states), clock_now(), stable) == states &&
            step.m_cache.load(factsKey, records) && step.m_cache.load(factsKey + ".i", text))
            return write(records_of_text(records), text, Unit_from_cache, factsKey);
    }

    long long started = clock_now();
    CPreprocessed pre = preprocess_unit(cmd);
    std::string key;
    // Caches the text and the manifest for a unit whose facts are cached
    // under key.
    auto remember = [&] {
        std::vector<std::string> paths;
        std::set<std::string> dirs;
        for (const auto& s : pre.m_spellings) {
            paths.push_back(s.first);
            dirs.insert(s.first.substr(0, s.first.rfind('/')));
        }
        for (const std::string& dir : include_directories(cmd))
            dirs.insert(dir);
        if (defaultsP != nullptr)
            dirs.insert(defaultsP->m_includeDirs.begin(), defaultsP->m_includeDirs.end());
        paths.insert(paths.end(), dirs.begin(), dirs.end());
        bool stable = false;
        std::string states = file_states(paths, started, stable);
        if (!stable)
            return; // changed while it was read: next time it is read again
        step.m_cache.store(key + ".i", pre.m_text);
        step.m_cache.store(manifestKey, "K\t" + key + "\n" + states);
    };
    if (pre.m_ran && step.m_cache.enabled()) {
        CCacheKey k(common);
        for (const auto& s : pre.m_spellings)
            k.add(s.first).add(s.second);
        k.add(pre.m_text);
        key = k.hex();
        std::string records;
        if (step.m_cache.load(key, records)) {
            remember();
            return write(records_of_text(records), pre.m_text, Unit_from_cache, key);
        }
    }
    std::string message;
    if (!parse_unit(cmd, step.m_parse, defaultsP, context, pre, facts, message)) {
        // The merge names the unit and reads what it could use.
        facts.m_failure = message;
        return write(records_of_facts(facts), "", Unit_failed);
    }
    if (!key.empty()) {
        step.m_cache.store(key, records_of_facts(facts));
        remember();
    }
    return write(records_of_facts(facts), pre.m_ran ? pre.m_text : "", Unit_parsed, key);
}

