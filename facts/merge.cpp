// The merge runs after all workers, over their files in database order, so
// its output does not depend on -j. Entities met in several units (inline
// functions, templates, virtual functions declared in headers) take the
// attributes of their first definition.
#include "merge.h"

#include <algorithm>
#include <functional>
#include <stdexcept>

CFactBase::CStoredEntity CFactBase::stored(const CFactEntity& e, int unit) {
    CStoredEntity s;
    s.m_id = m_relations.intern(e.m_id);
    s.m_class = m_relations.intern(e.m_class);
    s.m_label = m_relations.intern(e.m_label);
    s.m_mangle = m_relations.intern(e.m_mangle);
    s.m_file = m_relations.intern(e.m_file);
    s.m_templateKey = m_relations.intern(e.m_templateKey);
    s.m_line = e.m_line;
    s.m_endLine = e.m_endLine;
    s.m_textLine = e.m_textLine;
    s.m_textColumn = e.m_textColumn;
    s.m_unit = unit;
    s.m_defined = e.m_defined;
    s.m_exported = e.m_exported;
    s.m_inMacroLine = e.m_inMacroLine;
    return s;
}

CMergedEntity CFactBase::made_up(const CStoredEntity& s) const {
    CMergedEntity m;
    CFactEntity& e = m.m_fact;
    e.m_id = m_relations.name(s.m_id);
    e.m_class = m_relations.name(s.m_class);
    e.m_label = m_relations.name(s.m_label);
    e.m_mangle = m_relations.name(s.m_mangle);
    e.m_file = m_relations.name(s.m_file);
    e.m_templateKey = m_relations.name(s.m_templateKey);
    e.m_line = s.m_line;
    e.m_endLine = s.m_endLine;
    e.m_textLine = s.m_textLine;
    e.m_textColumn = s.m_textColumn;
    e.m_defined = s.m_defined;
    e.m_exported = s.m_exported;
    e.m_inMacroLine = s.m_inMacroLine;
    m.m_unit = s.m_unit;
    return m;
}

const CFactBase::CStoredEntity* CFactBase::find(std::string_view id) const {
    uint32_t n = 0;
    if (!m_relations.find(id, n) || n >= m_entityOf.size() || m_entityOf[n] == 0)
        return nullptr;
    return &m_stored[m_entityOf[n] - 1];
}

void CFactBase::append(const CStoredEntity& s) {
    if (m_entityOf.size() <= s.m_id)
        m_entityOf.resize(std::max<size_t>(m_relations.name_count(), s.m_id + 1) * 3 / 2, 0);
    m_stored.push_back(s);
    m_entityOf[s.m_id] = static_cast<uint32_t>(m_stored.size());
}

template <class F> void CFactBase::keep_entities_if(F keep) {
    size_t to = 0;
    for (size_t i = 0; i < m_stored.size(); ++i) {
        if (keep(m_stored[i])) {
            m_stored[to] = m_stored[i];
            m_entityOf[m_stored[to].m_id] = static_cast<uint32_t>(to + 1);
            ++to;
        } else {
            m_entityOf[m_stored[i].m_id] = 0;
        }
    }
    m_stored.resize(to);
}

CMergedEntity CFactBase::entity_at(size_t i) const { return made_up(m_stored.at(i)); }

CMergedEntity CFactBase::entity(const std::string& id) const {
    const CStoredEntity* sP = find(id);
    if (sP == nullptr)
        throw std::out_of_range("no entity " + id);
    return made_up(*sP);
}

void CFactBase::add_unit(const CMergedUnit& unit, const CUnitFacts* factsP) {
    int index = static_cast<int>(m_units.size());
    m_units.push_back(unit);
    m_unitSpellings.emplace_back();
    if (!factsP)
        return;
    for (const auto& spelling : factsP->m_spellings)
        m_unitSpellings.back().emplace_back(m_relations.intern(spelling.first),
                                            m_relations.intern(spelling.second));
    std::sort(m_unitSpellings.back().begin(), m_unitSpellings.back().end());
    m_built.insert(factsP->m_built.begin(), factsP->m_built.end());
    for (const auto& s : factsP->m_spellings)
        if (m_canonical.emplace(s.first, s.second).second)
            m_canonicalUnit.emplace(s.first, index);
    for (const auto& p : factsP->m_entities) {
        const CFactEntity& e = p.second;
        CStoredEntity* oldP = find(e.m_id);
        if (oldP == nullptr) {
            append(stored(e, container(index, e.m_file)));
            continue;
        }
        bool exported = oldP->m_exported || e.m_exported;
        if (e.m_defined && !oldP->m_defined) {
            *oldP = stored(e, container(index, e.m_file));
        } else if (e.m_defined && oldP->m_defined && !e.m_file.empty() &&
                   !spelled_as_canonical(oldP->m_unit, e.m_file) &&
                   spelled_as_canonical(index, e.m_file)) {
            // A unit that gave no spelling of the file (its preprocessor run
            // failed, say) cannot serve as container; a later one that spells
            // the file as recorded can.
            oldP->m_unit = index;
        }
        oldP->m_exported = exported;
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
    auto class_of = [this](std::string_view id) -> std::string_view {
        const CStoredEntity* sP = find(id);
        return sP == nullptr ? std::string_view() : m_relations.name(sP->m_class);
    };
    auto is_address = [](std::string_view id, const char* prefix) {
        return id.compare(0, 3, prefix) == 0;
    };
    std::map<std::string, std::string> tableOfTypeinfo; // "VA:TI" -> TV
    std::map<std::string, std::string> addressOfTable;  // TV -> "VA:TI"
    std::map<std::string, std::vector<std::string>> baseAddresses; // "VA:TI" -> bases' "VA:"
    for (size_t i = 0; i < m_relations.size(); ++i) {
        CFactRelationRef r = relation(i);
        if (r.m_verb != "ref" || !is_address(r.m_dst, "VA:"))
            continue;
        std::string_view cls = class_of(r.m_src);
        std::string src(r.m_src), dst(r.m_dst);
        if (cls == "TV") {
            tableOfTypeinfo[dst] = src;
            addressOfTable[src] = dst;
        } else if (cls == "TI") {
            baseAddresses["VA:" + src].push_back(dst);
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
        return !is_address(r.m_dst, "FA:") || class_of(r.m_src) != "TV" ||
               built.count(std::string(r.m_src));
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
    uint32_t real = 0;
    if (!m_relations.find(realPath, real))
        return false;
    const auto& mine = m_unitSpellings[static_cast<size_t>(unit)];
    auto it = std::lower_bound(mine.begin(), mine.end(), std::make_pair(real, uint32_t(0)));
    auto canonical = m_canonical.find(realPath);
    return it != mine.end() && it->first == real && canonical != m_canonical.end() &&
           m_relations.name(it->second) == canonical->second;
}

std::string CFactBase::spelled(const std::string& realPath) const {
    auto it = m_canonical.find(realPath);
    return it != m_canonical.end() ? it->second : realPath;
}

size_t CFactBase::functions() const {
    size_t n = 0;
    for (const CStoredEntity& s : m_stored) {
        if (CFactEntity::is_function_class(m_relations.name(s.m_class)) && s.m_line > 0 &&
            s.m_defined && m_relations.name(s.m_label).compare(0, 7, "global ") != 0)
            ++n;
    }
    return n;
}

void CFactBase::finish(const std::vector<std::string>& entries, bool haveExported,
                       std::vector<std::string>& unmatchedR) {
    // Functions that no unit defines are not the project's (or are never
    // defined at all); only virtual ones stay, as lopwort expects a "VF"
    // for every slot and every virtually called declaration.
    keep_entities_if([this](CStoredEntity& s) {
        std::string_view cls = m_relations.name(s.m_class);
        std::string_view id = m_relations.name(s.m_id);
        if ((cls == "GF" || cls == "LF") && !s.m_defined)
            return false;
        // A template's text stands as a function only where no unit made
        // an instance of it.
        if (id.compare(0, 2, "P:") == 0 && find("T" + std::string(id.substr(1))) != nullptr)
            return false;
        if (cls == "VF" && !s.m_defined)
            s.m_line = s.m_endLine = 0;
        return true;
    });
    keep_entities_if([this](const CStoredEntity& s) {
        std::string_view id = m_relations.name(s.m_id);
        return m_relations.name(s.m_class) != "FA" || find(id.substr(3)) != nullptr;
    });
    size_t kept = m_stored.size(); // the roots follow
    // What a unit that did not parse builds is unknown.
    if (m_failedUses.empty())
        drop_slots_of_unbuilt_classes();
    m_relations.keep_if([this](const CFactRelationRef& r) {
        return find(r.m_src) != nullptr && find(r.m_dst) != nullptr;
    });

    auto relate = [this](const std::string& verb, const std::string& src, const std::string& dst) {
        if (src != dst)
            m_relations.add(verb, src, dst);
    };

    auto add_root = [this](const std::string& id, const std::string& label) {
        CFactEntity e;
        e.m_id = id;
        e.m_class = "GF";
        e.m_label = label;
        e.m_defined = true;
        if (CStoredEntity* sP = find(id))
            *sP = stored(e, -1);
        else
            append(stored(e, -1));
    };
    // The functions kept, made up one at a time.
    auto each_function = [this, kept](const std::function<void(const CFactEntity&)>& f) {
        for (size_t i = 0; i < kept; ++i) {
            CMergedEntity m = made_up(m_stored[i]);
            if (m.m_fact.is_function())
                f(m.m_fact);
        }
    };
    if (!entries.empty()) {
        const std::string root = "_GLOBAL__entry_points";
        add_root(root, "global entry points");
        // The functions each name matches, related name by name.
        std::vector<std::vector<std::string>> matches(entries.size());
        each_function([&](const CFactEntity& e) {
            std::string plain = e.m_label.substr(0, e.m_label.find('('));
            for (size_t k = 0; k < entries.size(); ++k) {
                const std::string& name = entries[k];
                if (e.m_label == name || e.m_mangle == name || plain == name)
                    matches[k].push_back(e.m_id);
            }
        });
        for (size_t k = 0; k < entries.size(); ++k) {
            for (const std::string& id : matches[k])
                relate("call", root, id);
            if (matches[k].empty())
                unmatchedR.push_back(entries[k]);
        }
    }
    if (!m_failedUses.empty()) {
        const std::string root = "_GLOBAL__failed_units";
        add_root(root, "global uses of units that did not parse");
        each_function([&](const CFactEntity& e) {
            std::string name = spelled_name(e.m_label);
            for (const CFailedUses& uses : m_failedUses) {
                if (!uses.m_known || name.empty() || uses.m_files.count(e.m_file) ||
                    uses.m_names.count(name)) {
                    relate("call", root, e.m_id);
                    break;
                }
            }
        });
    }
    if (haveExported) {
        const std::string root = "_GLOBAL__exported_interface";
        add_root(root, "global exported interface");
        each_function([&](const CFactEntity& e) {
            if (e.m_exported)
                relate("call", root, e.m_id);
        });
    }
}
