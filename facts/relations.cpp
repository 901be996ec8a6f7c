// The relation set: interned names and an open-addressed table of triples.
#include "relations.h"

#include <algorithm>
#include <tuple>

uint32_t CRelationSet::intern(const std::string& name) {
    auto it = m_nameIds.find(name);
    if (it != m_nameIds.end())
        return it->second;
    uint32_t id = static_cast<uint32_t>(m_names.size());
    m_names.push_back(name);
    m_nameIds.emplace(m_names.back(), id);
    return id;
}

static size_t relation_hash(uint32_t verb, uint32_t src, uint32_t dst) {
    uint64_t h = (static_cast<uint64_t>(src) << 32 | dst) * 0x9e3779b97f4a7c15ull;
    return static_cast<size_t>((h ^ (h >> 29) ^ verb) * 0xff51afd7ed558ccdull >> 16);
}

bool CRelationSet::add_ids(uint32_t verb, uint32_t src, uint32_t dst) {
    CIdRelation r{verb, src, dst};
    if ((m_relations.size() + 1) * 2 > m_slots.size())
        index();
    size_t mask = m_slots.size() - 1;
    for (size_t i = relation_hash(r.m_verb, r.m_src, r.m_dst) & mask;; i = (i + 1) & mask) {
        uint32_t slot = m_slots[i];
        if (slot == 0) {
            m_relations.push_back(r);
            m_slots[i] = static_cast<uint32_t>(m_relations.size());
            return true;
        }
        const CIdRelation& o = m_relations[slot - 1];
        if (o.m_verb == r.m_verb && o.m_src == r.m_src && o.m_dst == r.m_dst)
            return false;
    }
}

void CRelationSet::index() {
    size_t size = 64;
    while (size < (m_relations.size() + 1) * 4)
        size *= 2;
    m_slots.assign(size, 0);
    size_t mask = size - 1;
    for (size_t k = 0; k < m_relations.size(); ++k) {
        const CIdRelation& r = m_relations[k];
        size_t i = relation_hash(r.m_verb, r.m_src, r.m_dst) & mask;
        while (m_slots[i] != 0)
            i = (i + 1) & mask;
        m_slots[i] = static_cast<uint32_t>(k + 1);
    }
}

std::vector<uint32_t> CRelationSet::sorted() const {
    // Each name's rank among all names, so that relations compare as
    // numbers.
    std::vector<uint32_t> byName(m_names.size());
    for (uint32_t i = 0; i < byName.size(); ++i)
        byName[i] = i;
    std::sort(byName.begin(), byName.end(),
              [this](uint32_t a, uint32_t b) { return m_names[a] < m_names[b]; });
    std::vector<uint32_t> rank(m_names.size());
    for (uint32_t i = 0; i < byName.size(); ++i)
        rank[byName[i]] = i;
    std::vector<uint32_t> order(m_relations.size());
    for (uint32_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        const CIdRelation& x = m_relations[a];
        const CIdRelation& y = m_relations[b];
        return std::make_tuple(rank[x.m_verb], rank[x.m_src], rank[x.m_dst]) <
               std::make_tuple(rank[y.m_verb], rank[y.m_src], rank[y.m_dst]);
    });
    return order;
}
