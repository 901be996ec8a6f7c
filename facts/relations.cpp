// The relation set: interned names and an open-addressed table of triples.
#include "relations.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <tuple>

// The slot that holds text, or the empty slot where it would go.
size_t CStringPool::slot_of(std::string_view text) const {
    size_t mask = m_slots.size() - 1;
    for (size_t i = std::hash<std::string_view>()(text) & mask;; i = (i + 1) & mask) {
        uint32_t slot = m_slots[i];
        if (slot == 0 || view(slot - 1) == text)
            return i;
    }
}

bool CStringPool::find(std::string_view text, uint32_t& idR) const {
    if (m_slots.empty())
        return false;
    uint32_t slot = m_slots[slot_of(text)];
    if (slot == 0)
        return false;
    idR = slot - 1;
    return true;
}

// Twice the room, at most half full.
void CStringPool::grow() {
    size_t size = m_slots.empty() ? 1024 : m_slots.size() * 2;
    m_slots.assign(size, 0);
    for (uint32_t id = 0; id < m_starts.size(); ++id)
        m_slots[slot_of(view(id))] = id + 1;
}

uint32_t CStringPool::intern(std::string_view text) {
    if ((m_starts.size() + 1) * 2 > m_slots.size())
        grow();
    size_t at = slot_of(text);
    if (m_slots[at] != 0)
        return m_slots[at] - 1;
    if (text.size() > UINT32_MAX || m_starts.size() >= UINT32_MAX - 1)
        throw std::length_error("string pool");
    char* placeP = m_free;
    bool own = false;
    if (text.size() > m_left) {
        own = text.size() >= kBlockSize / 4;
        // A long text gets a block of its own; the one being filled goes on.
        m_blocks.emplace_back(new char[own ? text.size() : kBlockSize]);
        placeP = m_blocks.back().get();
        if (!own) {
            m_free = placeP;
            m_left = kBlockSize;
        }
    }
    if (!own && !text.empty()) {
        m_free += text.size();
        m_left -= text.size();
    }
    if (!text.empty())
        std::memcpy(placeP, text.data(), text.size());
    m_starts.push_back(placeP);
    m_lengths.push_back(static_cast<uint32_t>(text.size()));
    m_slots[at] = static_cast<uint32_t>(m_starts.size());
    return static_cast<uint32_t>(m_starts.size() - 1);
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
              [this](uint32_t a, uint32_t b) { return name(a) < name(b); });
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
