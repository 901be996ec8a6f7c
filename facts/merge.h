// Uniting the facts of all units into one fact base for lopwort: one entity
// per id, one spelling per file, one containing unit per function, and the
// program-wide roots of --entry and --exported.
#ifndef LOPWORT_FACTS_MERGE_H
#define LOPWORT_FACTS_MERGE_H

#include "unitfacts.h"

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct CMergedUnit {
    std::string m_id;
    std::string m_label;
    std::vector<std::string> m_args; // directory, compiler, recorded arguments
};

struct CMergedEntity {
    CFactEntity m_fact;
    int m_unit = -1; // index of the containing unit, -1 for none
};

class CFactBase {
  public:
    CFactBase() = default;
    // Relations refer to the names of their own base.
    CFactBase(const CFactBase&) = delete;
    CFactBase& operator=(const CFactBase&) = delete;

    // Units must be added in database order so that the first unit to spell
    // a file decides its spelling whatever order the workers finished in.
    void add_unit(const CMergedUnit& unit, const CUnitFacts* factsP);

    // A unit that did not parse: its file entity, and a root that keeps
    // alive every function it could use: those defined in the files it
    // includes, those whose name it spells, and every operator (called
    // without its name). Without usesP, what it could use is unknown and
    // every function stays alive.
    void add_failed_unit(const CMergedUnit& unit, const CUnitFacts* usesP);

    // Drops what no unit defines and adds the roots for entry points and
    // exported headers. Entry names
    // that match nothing are returned in unmatchedR.
    void finish(const std::vector<std::string>& entries, bool haveExported,
                std::vector<std::string>& unmatchedR);

    const std::vector<CMergedUnit>& units() const { return m_units; }
    // The entities in the order first met, each once, made up from what the
    // base keeps of them.
    size_t entity_count() const { return m_stored.size(); }
    CMergedEntity entity_at(size_t i) const;
    // The entity of an id; std::out_of_range when there is none.
    CMergedEntity entity(const std::string& id) const;
    // The relations in the order first met, each once.
    size_t relation_count() const { return m_relations.size(); }
    CFactRelationRef relation(size_t i) const { return m_relations[i]; }
    void add_relation(const std::string& verb, const std::string& src, const std::string& dst);
    // The file text lopwort must see for a real path.
    std::string spelled(const std::string& realPath) const;

    // Counts for the closing summary.
    size_t functions() const;

  private:
    bool spelled_as_canonical(int unit, const std::string& realPath) const;
    int container(int unit, const std::string& realPath) const;

    std::vector<CMergedUnit> m_units;
    // Each unit's spellings: numbers of real path and spelling, by the real path's.
    std::vector<std::vector<std::pair<uint32_t, uint32_t>>> m_unitSpellings;
    std::map<std::string, std::string> m_canonical;
    std::map<std::string, int> m_canonicalUnit; // the unit that first spelled each file
    // An entity as the base keeps it: its texts by their numbers in the
    // relation set's pool, where the ids already are. A program's entities
    // held as strings would cost several times the fact file.
    struct CStoredEntity {
        uint32_t m_id, m_class, m_label, m_mangle, m_file, m_templateKey;
        int m_line, m_endLine, m_textLine, m_textColumn;
        int m_unit;
        bool m_defined, m_exported, m_inMacroLine;
    };
    std::deque<CStoredEntity> m_stored; // grows without a copy twice its size
    std::vector<uint32_t> m_entityOf; // by the number of an id: index in m_stored + 1, 0 for none
    CRelationSet m_relations;
    struct CFailedUses {
        bool m_known;
        std::set<std::string> m_files, m_names;
    };
    std::vector<CFailedUses> m_failedUses;
    std::set<std::string> m_built; // slots entities of classes some unit builds

    void drop_slots_of_unbuilt_classes();
    CStoredEntity stored(const CFactEntity& e, int unit);
    CMergedEntity made_up(const CStoredEntity& s) const;
    const CStoredEntity* find(std::string_view id) const;
    CStoredEntity* find(std::string_view id) {
        return const_cast<CStoredEntity*>(static_cast<const CFactBase*>(this)->find(id));
    }
    void append(const CStoredEntity& s);
    // Keeps, in order, the entities for which keep(entity) is true.
    template <class F> void keep_entities_if(F keep);
};

// The name a failed unit would spell to use a function: its label less
// qualifiers, template arguments and a destructor's "~" ("ns::C<int>::~C"
// gives "C"). Empty for operators and conversions, which are used without
// their name.
std::string spelled_name(const std::string& label);

#endif
