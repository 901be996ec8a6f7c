// The attribute cache: one shared CAttribute per distinct (id, value) pair,
// found through an open-addressed table (linear probing) whose slots hold the
// pair's hash beside the attribute, so that a lookup reads an attribute only
// when the hashes agree. The table doubles before it is 3/4 full.
#include "AttributeCache.h"

#include "Attribute.h"
#include "stringcache.h"
#include "util.h"
#include "xmalloc.h"

#include <cstdlib>
#include <cstring>

namespace {

const unsigned kStartWidth = 16384;

struct Slot {
    uint32_t hash; // 0 for an empty slot
    CAttribute* attributeP;
};

Slot* g_tableP = nullptr;
unsigned g_width = 0;
unsigned g_count = 0;

// The block that list entries are taken from, top down.
const unsigned kEntryBlock = 2048;
attributeListT* g_entriesP = nullptr;
unsigned g_entriesLeft = 0;

uint32_t pairHash(const char* idP, const char* aviP) {
    uint32_t h = cacheHash(idP);
    if (aviP != nullptr)
        h = h * 31u + cacheHash(aviP);
    return h != 0 ? h : 1;
}

bool sameText(const char* aP, const char* bP) {
    if (aP == nullptr || bP == nullptr)
        return aP == bP;
    return aP == bP || strcmp(aP, bP) == 0;
}

Slot* newTable(unsigned width) {
    return static_cast<Slot*>(table_alloc(sizeof(Slot) * static_cast<size_t>(width)));
}

// Rehashes into a table of the given width, a larger power of two.
void rehash(unsigned width) {
    g_tableP = table_rehash(g_tableP, g_width, width);
    g_width = width;
}

void grow() {
    if (g_width > 0x7fffffffu)
        outofmemory();
    rehash(g_width * 2);
}

} // namespace

void attributeCacheReserve(size_t pairs) {
    if (pairs > 0x40000000u)
        return;
    unsigned width = g_width > 0 ? g_width : kStartWidth;
    while (width / 4 * 3 < pairs)
        width *= 2;
    if (g_tableP == nullptr)
        g_tableP = newTable(width);
    else if (width > g_width)
        rehash(width);
    g_width = width;
}

attributeListT* getAttributeListEntry() {
    if (g_entriesLeft == 0) {
        g_entriesP = static_cast<attributeListT*>(arena_alloc(sizeof(attributeListT) * kEntryBlock));
        g_entriesLeft = kEntryBlock;
    }
    --g_entriesLeft;
    return &g_entriesP[g_entriesLeft];
}

void attributeCacheReset() {
    table_free(g_tableP, sizeof(Slot) * static_cast<size_t>(g_width));
    g_tableP = nullptr;
    g_width = 0;
    g_count = 0;
    g_entriesP = nullptr;
    g_entriesLeft = 0;
}

void attributeCachePrefetch(const char* idP, const char* aviP) {
    if (g_tableP != nullptr)
        __builtin_prefetch(&g_tableP[pairHash(idP, aviP) & (g_width - 1)]);
}

CAttribute* attributeCache(const char* idP, const char* aviP) {
    if (g_tableP == nullptr) {
        g_width = kStartWidth;
        g_tableP = newTable(g_width);
    }
    uint32_t hash = pairHash(idP, aviP);
    for (unsigned i = hash & (g_width - 1);; i = (i + 1) & (g_width - 1)) {
        Slot& s = g_tableP[i];
        if (s.hash == 0) {
            s.hash = hash;
            s.attributeP = new CAttribute(idP, aviP);
            CAttribute* resultP = s.attributeP;
            if (++g_count > g_width / 4 * 3)
                grow();
            return resultP;
        }
        CAttribute* aP = s.attributeP;
        if (s.hash == hash && sameText(aP->m_idP, idP) && sameText(aP->m_aviP, aviP))
            return aP;
    }
}
