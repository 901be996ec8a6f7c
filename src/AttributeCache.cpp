// The attribute cache: one shared CAttribute per distinct (id, value) pair,
// found through a chained hash table that starts at 16384 chains and doubles,
// order-preserving, when the pairs outnumber the chains.
#include "AttributeCache.h"

#include "Attribute.h"
#include "stringcache.h"
#include "xmalloc.h"

#include <cstdlib>
#include <cstring>

namespace {

const unsigned kStartWidth = 16384;

attributeListT** g_tableP = nullptr;
unsigned g_width = 0;
unsigned g_count = 0;

uint32_t pairHash(const char* idP, const char* aviP) {
    uint32_t h = cacheHash(idP);
    if (aviP != nullptr)
        h = h * 31u + cacheHash(aviP);
    return h;
}

bool sameValue(const char* aP, const char* bP) {
    if (aP == nullptr || bP == nullptr)
        return aP == bP;
    return aP == bP || strcmp(aP, bP) == 0;
}

attributeListT** newTable(unsigned width) {
    attributeListT** tableP =
        static_cast<attributeListT**>(arena_alloc(sizeof(attributeListT*) * width));
    memset(tableP, 0, sizeof(attributeListT*) * width);
    return tableP;
}

void grow() {
    unsigned width = g_width * 2;
    attributeListT** tableP = newTable(width);
    attributeListT*** tailsP =
        static_cast<attributeListT***>(xmalloc1(sizeof(attributeListT**) * width));
    for (unsigned i = 0; i < width; ++i)
        tailsP[i] = &tableP[i];
    for (unsigned i = 0; i < g_width; ++i) {
        attributeListT* entryP = g_tableP[i];
        while (entryP) {
            attributeListT* nextP = entryP->nextP;
            CAttribute* aP = entryP->attributeP;
            unsigned index = pairHash(aP->m_idP, aP->m_aviP) & (width - 1);
            entryP->nextP = nullptr;
            *tailsP[index] = entryP;
            tailsP[index] = &entryP->nextP;
            entryP = nextP;
        }
    }
    free(tailsP);
    g_tableP = tableP;
    g_width = width;
}

} // namespace

attributeListT* getAttributeListEntry() {
    static attributeListT* g_cacheP = nullptr;
    static const unsigned g_cache_lth = 2048;
    static unsigned left = 0;
    if (left == 0) {
        g_cacheP = static_cast<attributeListT*>(arena_alloc(sizeof(attributeListT) * g_cache_lth));
        left = g_cache_lth;
    }
    --left;
    return &g_cacheP[left];
}

CAttribute* attributeCache(const char* idP, const char* aviP) {
    if (g_tableP == nullptr) {
        g_width = kStartWidth;
        g_tableP = newTable(g_width);
    }
    unsigned index = pairHash(idP, aviP) & (g_width - 1);
    for (attributeListT* entryP = g_tableP[index]; entryP; entryP = entryP->nextP) {
        CAttribute* aP = entryP->attributeP;
        if ((aP->m_idP == idP || strcmp(aP->m_idP, idP) == 0) && sameValue(aP->m_aviP, aviP))
            return aP;
    }
    attributeListT* entryP = getAttributeListEntry();
    entryP->nextP = g_tableP[index];
    g_tableP[index] = entryP;
    entryP->attributeP = new CAttribute(idP, aviP);
    CAttribute* resultP = entryP->attributeP;
    if (++g_count > g_width)
        grow();
    return resultP;
}
