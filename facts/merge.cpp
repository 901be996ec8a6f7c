// The merge runs after all workers, over their files in database order, so
// its output does not depend on -j. Entities met in several units (inline
// functions, templates, virtual functions declared in headers) take the
// attributes of their first definition.
#include "merge.h"

#include <algorithm>

void CFactBase::add_unit(const CMergedUnit& unit, const CUnitFacts* factsP) {
    int index = static_cast<int>(m_units.size());
    m_units.push_back(unit);
    m_unitSpellings.emplace_back();
    if (!factsP)
        return;
    m_unitSpellings.back() = factsP->m_spellings;
    m_built.insert(factsP->m_built.begin(), factsP->m_built.end());
    for (const auto& s : factsP->m_spellings)
        if (m_canonical.emplace(s.first, s.second).second)
            m_canonicalUnit.emplace(s.first, index);
    for (const auto& p : factsP->m_entities) {
        const CFactEntity& e = p.second;
        auto found = m_entities.find(e.m_id);
        if (found == m_entities.end()) {
            CMergedEntity m;
            m.m_fact = e;
            m.m_unit = container(index, e.m_file);
            m_entities.emplace(e.m_id, m);
            m_order.push_back(e.m_id);
            continue;
        }
        CMergedEntity& old = found->second;
        bool exported = old.m_fact.m_exported || e.m_exported;
        if (e.m_defined && !old.m_fact.m_defined) {
            old.m_fact = e;
            old.m_unit = container(index, e.m_file);
        } else if (e.m_defined && old.m_fact.m_defined && !e.m_file.empty() &&
                   !spelled_as_canonical(old.m_unit, e.m_file) &&
                   spelled_as_canonical(index, e.m_file)) {
            // A unit that gave no spelling of the file (its preprocessor run
            // failed, say) cannot serve as container; a later one that spells
            // the file as recorded can.
            old.m_unit = index;
        }
        old.m_fact.m_exported = exported;
    }
    for (size_t i = 0; i < factsP->m_relations.size(); ++i) {
        CFactRelationRef r = factsP->m_relations[i];
        m_relations.add(r.m_verb, r.m_src, r.m_dst);
    }
}

void CFactBase::add_failed_unit(const CMergedUnit& unit, const CUnitFacts* usesP) {
    add_unit(unit, nullptr);
    CFailedUses uses{usesP != nullptr, {}, {}};
    if (usesP) {
        uses.m_files = usesP->m_files;
        uses.m_names = usesP->m_names;
    }
    m_failedUses.push_back(std::move(uses));
}

std::string spelled_name(const std::string& label) {
    if (label.find("operator") != std::string::npos)
        return std::string();
    std::string name = label;
    // Trailing template arguments, nested ones included.
    if (!name.empty() && name.back() == '>') {
        int depth = 0;
        size_t i = name.size();
        while (i > 0) {
            char c = name[--i];
            if (c == '>')
                ++depth;
            else if (c == '<' && --depth == 0)
                break;
        }
        name.erase(i);
    }
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c == '<' || c == '(')
            ++depth;
        else if ((c == '>' || c == ')') && depth > 0)
            --depth;
        else if (c == ':' && depth == 0 && i + 1 < name.size() && name[i + 1] == ':')
            start = i + 2;
    }
    name = name.substr(start);
    if (!name.empty() && name[0] == '~')
        name.erase(0, 1);
    return name;
}

// A virtual function runs only on an object of its class or of a derived
// class. A class that no unit builds, and from which no built class
// derives, keeps its table (lopwort walks through it to derived tables) but
// loses its slots, so that lopwort's resolution of a virtual call reaches
// none of its functions. What the compiler needs of the class stays: its
// slots entity, which whatever emits the table or names the type refers to.
void CFactBase::drop_slots_of_unbuilt_classes() {
    auto class_of = [this](const std::string& id) -> std::string {
        auto it = m_entities.find(id);
        return it == m_entities.end() ? std::string() : it->second.m_fact.m_class;
    };
    auto is_address = [](const std::string& id, const char* prefix) {
        return id.compare(0, 3, prefix) == 0;
    };
    std::map<std::string, std::string> tableOfTypeinfo; // "VA:TI" -> TV
    std::map<std::string, std::string> addressOfTable;  // TV -> "VA:TI"
    std::map<std::string, std::vector<std::string>> baseAddresses; // "VA:TI" -> bases' "VA:"
    for (size_t i = 0; i < m_relations.size(); ++i) {
        CFactRelationRef r = relation(i);
        if (r.m_verb != "ref" || !is_address(r.m_dst, "VA:"))
            continue;
        std::string cls = class_of(r.m_src);
        if (cls == "TV") {
            tableOfTypeinfo[r.m_dst] = r.m_src;
            addressOfTable[r.m_src] = r.m_dst;
        } else if (cls == "TI") {
            baseAddresses["VA:" + r.m_src].push_back(r.m_dst);
        }
    }
    std::set<std::string> built;
    std::vector<std::string> work;
    for (const std::string& slots : m_built)
        work.push_back(slots.substr(3));
    while (!work.empty()) {
        std::string table = work.back();
        work.pop_back();
        if (!built.insert(table).second)
            continue;
        for (const std::string& base : baseAddresses[addressOfTable[table]]) {
            auto it = tableOfTypeinfo.find(base);
            if (it != tableOfTypeinfo.end())
                work.push_back(it->second);
        }
    }
    m_relations.keep_if([&](const CFactRelationRef& r) {
        return !is_address(r.m_dst, "FA:") || class_of(r.m_src) != "TV" || built.count(r.m_src);
    });
}

void CFactBase::add_relation(const std::string& verb, const std::string& src,
                             const std::string& dst) {
    if (src != dst)
        m_relations.add(verb, src, dst);
}

// lopwort finds a function's file in the preprocessed text of its container
// by the spelling of the facts: a unit that spells the file otherwise (a
// header reached through "../") cannot serve, but the unit that gave the
// spelling holds the file's text as well.
int CFactBase::container(int unit, const std::string& realPath) const {
    if (realPath.empty() || spelled_as_canonical(unit, realPath))
        return unit;
    auto it = m_canonicalUnit.find(realPath);
    return it != m_canonicalUnit.end() ? it->second : unit;
}

bool CFactBase::spelled_as_canonical(int unit, const std::string& realPath) const {
    if (unit < 0)
        return false;
    auto mine = m_unitSpellings[static_cast<size_t>(unit)].find(realPath);
    auto canonical = m_canonical.find(realPath);
    return mine != m_unitSpellings[static_cast<size_t>(unit)].end() &&
           canonical != m_canonical.end() && mine->second == canonical->second;
}

std::string CFactBase::spelled(const std::string& realPath) const {
    auto it = m_canonical.find(realPath);
    return it != m_canonical.end() ? it->second : realPath;
}

size_t CFactBase::functions() const {
    size_t n = 0;
    for (const std::string& id : m_order) {
        const CFactEntity& e = m_entities.at(id).m_fact;
        if (e.is_function() && e.m_line > 0 && e.m_defined &&
            e.m_label.compare(0, 7, "global ") != 0)
            ++n;
    }
    return n;
}

void CFactBase::finish(const std::vector<std::string>& entries, bool haveExported,
                       std::vector<std::string>& unmatchedR) {
    // Functions that no unit defines are not the project's (or are never
    // defined at all); only virtual ones stay, as lopwort expects a "VF"
    // for every slot and every virtually called declaration.
    std::vector<std::string> kept;
    for (const std::string& id : m_order) {
        const CFactEntity& e = m_entities[id].m_fact;
        if ((e.m_class == "GF" || e.m_class == "LF") && !e.m_defined) {
            m_entities.erase(id);
            continue;
        }
        // A template's text stands as a function only where no unit made
        // an instance of it.
        if (id.compare(0, 2, "P:") == 0 && m_entities.count("T" + id.substr(1))) {
            m_entities.erase(id);
            continue;
        }
        if (e.m_class == "VF" && !e.m_defined) {
            m_entities[id].m_fact.m_line = 0;
            m_entities[id].m_fact.m_endLine = 0;
        }
        kept.push_back(id);
    }
    m_order.clear();
    for (const std::string& id : kept) {
        const CFactEntity& e = m_entities[id].m_fact;
        if (e.m_class == "FA" && !m_entities.count(id.substr(3))) {
            m_entities.erase(id);
            continue;
        }
        m_order.push_back(id);
    }
    // What a unit that did not parse builds is unknown.
    if (m_failedUses.empty())
        drop_slots_of_unbuilt_classes();
    m_relations.keep_if([this](const CFactRelationRef& r) {
        return m_entities.count(r.m_src) && m_entities.count(r.m_dst);
    });

    auto relate = [this](const std::string& verb, const std::string& src, const std::string& dst) {
        if (src != dst)
            m_relations.add(verb, src, dst);
    };

    auto add_root = [this](const std::string& id, const std::string& label) {
        CMergedEntity m;
        m.m_fact.m_id = id;
        m.m_fact.m_class = "GF";
        m.m_fact.m_label = label;
        m.m_fact.m_defined = true;
        m_entities[id] = m;
        m_order.push_back(id);
    };
    if (!entries.empty()) {
        const std::string root = "_GLOBAL__entry_points";
        add_root(root, "global entry points");
        for (const std::string& name : entries) {
            bool matched = false;
            for (const std::string& id : kept) {
                auto it = m_entities.find(id);
                if (it == m_entities.end() || !it->second.m_fact.is_function())
                    continue;
                const CFactEntity& e = it->second.m_fact;
                std::string plain = e.m_label.substr(0, e.m_label.find('('));
                if (e.m_label == name || e.m_mangle == name || plain == name) {
                    relate("call", root, id);
                    matched = true;
                }
            }
            if (!matched)
                unmatchedR.push_back(name);
        }
    }
    if (!m_failedUses.empty()) {
        const std::string root = "_GLOBAL__failed_units";
        add_root(root, "global uses of units that did not parse");
        for (const std::string& id : kept) {
            auto it = m_entities.find(id);
            if (it == m_entities.end() || !it->second.m_fact.is_function())
                continue;
            const CFactEntity& e = it->second.m_fact;
            std::string name = spelled_name(e.m_label);
            for (const CFailedUses& uses : m_failedUses) {
                if (!uses.m_known || name.empty() || uses.m_files.count(e.m_file) ||
                    uses.m_names.count(name)) {
                    relate("call", root, id);
                    break;
                }
            }
        }
    }
    if (haveExported) {
        const std::string root = "_GLOBAL__exported_interface";
        add_root(root, "global exported interface");
        for (const std::string& id : kept) {
            auto it = m_entities.find(id);
            if (it != m_entities.end() && it->second.m_fact.is_function() &&
                it->second.m_fact.m_exported)
                relate("call", root, id);
        }
    }
}
