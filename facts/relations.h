// A set of relations between named entities, each kept once, in the order
// first met. Ids are long (a mangled name is often a hundred bytes or more)
// and each is in many relations, so a relation is three numbers of names
// kept once each, and an open-addressed table of relation numbers finds
// duplicates. A large unit has hundreds of thousands of relations; held as
// strings they cost several times the records they become.
#ifndef LOPWORT_FACTS_RELATIONS_H
#define LOPWORT_FACTS_RELATIONS_H

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct CFactRelationRef {
    const std::string& m_verb;
    const std::string& m_src;
    const std::string& m_dst;
};

class CRelationSet {
  public:
    CRelationSet() = default;
    // The name table refers to its own strings: a copy would refer to the
    // original's. Moving keeps the strings where they are.
    CRelationSet(const CRelationSet&) = delete;
    CRelationSet& operator=(const CRelationSet&) = delete;
    CRelationSet(CRelationSet&&) = default;
    CRelationSet& operator=(CRelationSet&&) = default;

    // Adds a relation not there yet; false when it is.
    bool add(const std::string& verb, const std::string& src, const std::string& dst) {
        return add_ids(intern(verb), intern(src), intern(dst));
    }
    // The same through the numbers of names.
    bool add_ids(uint32_t verb, uint32_t src, uint32_t dst);
    // The number of a name, given it when new.
    uint32_t intern(const std::string& name);
    const std::string& name(uint32_t id) const { return m_names[id]; }
    size_t name_count() const { return m_names.size(); }
    // The names' numbers of relation i: verb, source, destination.
    std::array<uint32_t, 3> ids(size_t i) const {
        const CIdRelation& r = m_relations[i];
        return {r.m_verb, r.m_src, r.m_dst};
    }
    size_t size() const { return m_relations.size(); }
    bool empty() const { return m_relations.empty(); }
    CFactRelationRef operator[](size_t i) const {
        const CIdRelation& r = m_relations[i];
        return {m_names[r.m_verb], m_names[r.m_src], m_names[r.m_dst]};
    }
    // Keeps, in order, the relations for which keep(relation) is true.
    template <class F> void keep_if(F keep) {
        size_t to = 0;
        for (size_t i = 0; i < m_relations.size(); ++i)
            if (keep((*this)[i]))
                m_relations[to++] = m_relations[i];
        m_relations.resize(to);
        index();
    }
    // The relation numbers in the order of their names: verb, source,
    // destination.
    std::vector<uint32_t> sorted() const;

  private:
    struct CIdRelation {
        uint32_t m_verb, m_src, m_dst;
    };
    std::deque<std::string> m_names; // a deque: the views of the others stay valid
    std::unordered_map<std::string_view, uint32_t> m_nameIds;
    std::vector<CIdRelation> m_relations;
    std::vector<uint32_t> m_slots; // relation number + 1; 0 for an empty slot
    // Makes the table anew for the relations there, with room for as many
    // again.
    void index();
};

#endif
