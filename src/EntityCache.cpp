// The entity cache: a chained hash table keyed on entity ids, new entries at
// the head of their chain. It starts at 262144 chains and doubles, keeping
// the order within each chain, when the entries outnumber the chains.
#include "EntityCache.h"

#include "EntityInstance.h"
#include "stringcache.h"
#include "xmalloc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

CEntry** CEntityCache::m_table = nullptr;
int CEntityCache::m_count = 0;

namespace {

unsigned g_width = 0;

void ensureTable() {
    if (CEntityCache::m_table == nullptr) {
        g_width = ENTITY_CACHE_WIDTH;
        CEntityCache::m_table = static_cast<CEntry**>(xmalloc1(sizeof(CEntry*) * g_width));
        memset(CEntityCache::m_table, 0, sizeof(CEntry*) * g_width);
    }
}

void grow() {
    unsigned width = g_width * 2;
    CEntry** tableP = static_cast<CEntry**>(xmalloc1(sizeof(CEntry*) * width));
    memset(tableP, 0, sizeof(CEntry*) * width);
    CEntry*** tailsP = static_cast<CEntry***>(xmalloc1(sizeof(CEntry**) * width));
    for (unsigned i = 0; i < width; ++i)
        tailsP[i] = &tableP[i];
    for (unsigned i = 0; i < g_width; ++i) {
        CEntry* entryP = CEntityCache::m_table[i];
        while (entryP) {
            CEntry* nextP = entryP->m_nextP;
            unsigned index = cacheHash(entryP->m_valueP->getId()) & (width - 1);
            entryP->m_nextP = nullptr;
            *tailsP[index] = entryP;
            tailsP[index] = &entryP->m_nextP;
            entryP = nextP;
        }
    }
    free(tailsP);
    free(CEntityCache::m_table);
    CEntityCache::m_table = tableP;
    g_width = width;
}

} // namespace

CEntityCache::CEntityCache() { m_count = 0; }

void CEntityCache::put(CEntityInstance* eP) {
    ensureTable();
    unsigned index = cacheHash(eP->getId()) & (g_width - 1);
    for (CEntry* entryP = m_table[index]; entryP; entryP = entryP->m_nextP) {
        if (entryP->m_valueP == eP)
            return;
    }
    m_table[index] = new CEntry(eP, m_table[index]);
    ++m_count;
    if (static_cast<unsigned>(m_count) > g_width)
        grow();
}

CEntityInstance* CEntityCache::get(const char* idP) {
    ensureTable();
    unsigned index = cacheHash(idP) & (g_width - 1);
    for (CEntry* entryP = m_table[index]; entryP; entryP = entryP->m_nextP) {
        const char* entryIdP = entryP->m_valueP->getId();
        if (entryIdP == idP || strcmp(entryIdP, idP) == 0)
            return entryP->m_valueP;
    }
    return nullptr;
}

void CEntityCache::remove(CEntityInstance* eP) {
    ensureTable();
    unsigned index = cacheHash(eP->getId()) & (g_width - 1);
    CEntry* prevP = nullptr;
    for (CEntry* entryP = m_table[index]; entryP; prevP = entryP, entryP = entryP->m_nextP) {
        if (entryP->m_valueP == eP) {
            if (prevP)
                prevP->m_nextP = entryP->m_nextP;
            else
                m_table[index] = entryP->m_nextP;
            delete entryP;
            --m_count;
            return;
        }
    }
    fprintf(stderr, "EntityCache: can't remove %s\n", eP->getId());
}
