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
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Strings kept once each and known by number. Each costs its bytes, packed
// in blocks that never move, a pointer, a length and a slot or two of an
// open-addressed table: about 20 bytes besides its text, where a
// std::string in a hash map costs some 100. A merge holds one for every id,
// label and mangled name of the program.
class CStringPool {
  public:
    CStringPool() = default;
    CStringPool(const CStringPool&) = delete;
    CStringPool& operator=(const CStringPool&) = delete;
    CStringPool(CStringPool&&) = default;
    CStringPool& operator=(CStringPool&&) = default;

    // The number of text, given it when new.
    uint32_t intern(std::string_view text);
    // Whether text is there, and its number when it is.
    bool find(std::string_view text, uint32_t& idR) const;
    std::string_view view(uint32_t id) const { return {m_starts[id], m_lengths[id]}; }
    size_t size() const { return m_starts.size(); }

  private:
    static const size_t kBlockSize = 256 * 1024;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char* m_free = nullptr;
    size_t m_left = 0;
    std::vector<const char*> m_starts;
    std::vector<uint32_t> m_lengths;
    std::vector<uint32_t> m_slots; // number + 1; 0 for an empty slot

    size_t slot_of(std::string_view text) const;
    void grow();
};

struct CFactRelationRef {
    std::string_view m_verb;
    std::string_view m_src;
    std::string_view m_dst;
};

class CRelationSet {
  public:
    CRelationSet() = default;
    // Relations refer to names by number: a copy would be a second pool.
    CRelationSet(const CRelationSet&) = delete;
    CRelationSet& operator=(const CRelationSet&) = delete;
    CRelationSet(CRelationSet&&) = default;
    CRelationSet& operator=(CRelationSet&&) = default;

    // Adds a relation not there yet; false when it is.
    bool add(std::string_view verb, std::string_view src, std::string_view dst) {
        return add_ids(intern(verb), intern(src), intern(dst));
    }
    // The same through the numbers of names.
    bool add_ids(uint32_t verb, uint32_t src, uint32_t dst);
    // The number of a name, given it when new.
    uint32_t intern(std::string_view name) { return m_names.intern(name); }
    bool find(std::string_view name, uint32_t& idR) const { return m_names.find(name, idR); }
    std::string_view name(uint32_t id) const { return m_names.view(id); }
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
        return {name(r.m_verb), name(r.m_src), name(r.m_dst)};
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
    CStringPool m_names;
    std::vector<CIdRelation> m_relations;
    std::vector<uint32_t> m_slots; // relation number + 1; 0 for an empty slot
    // Makes the table anew for the relations there, with room for as many
    // again.
    void index();
};

#endif
