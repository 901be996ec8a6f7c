// The entity cache: an open-addressed table (linear probing) with one slot
// per distinct id, holding the id's hash and the list of instances entered
// under it, newest first. A lookup compares hashes in the table and reads an
// instance only when they agree; only then is its id compared.
#include "EntityCache.h"

#include "EntityInstance.h"
#include "stringcache.h"
#include "util.h"
#include "xmalloc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

CEntitySlot* CEntityCache::m_table = nullptr;
int CEntityCache::m_count = 0;

namespace {

unsigned g_width = 0;
unsigned g_used = 0; // slots with a hash, emptied ones included

CEntitySlot* newTable(unsigned width) {
    return static_cast<CEntitySlot*>(table_alloc(sizeof(CEntitySlot) * static_cast<size_t>(width)));
}

void ensureTable() {
    if (CEntityCache::m_table == nullptr) {
        g_width = ENTITY_CACHE_WIDTH;
        CEntityCache::m_table = newTable(g_width);
    }
}

// Doubles the table, leaving out the slots whose entries were all removed.
void grow() {
    if (g_width > 0x7fffffffu)
        outofmemory();
    unsigned width = g_width * 2;
    CEntitySlot* tableP = newTable(width);
    g_used = 0;
    for (unsigned i = 0; i < g_width; ++i) {
        const CEntitySlot& s = CEntityCache::m_table[i];
        if (s.m_headP == nullptr)
            continue;
        unsigned j = s.m_hash & (width - 1);
        while (tableP[j].m_hash != 0)
            j = (j + 1) & (width - 1);
        tableP[j] = s;
        ++g_used;
    }
    table_free(CEntityCache::m_table, sizeof(CEntitySlot) * static_cast<size_t>(g_width));
    CEntityCache::m_table = tableP;
    g_width = width;
}

bool sameId(const char* aP, const char* bP) { return aP == bP || strcmp(aP, bP) == 0; }

// The slot that holds idP's instances, or null.
CEntitySlot* find(const char* idP, uint32_t hash) {
    for (unsigned i = hash & (g_width - 1);; i = (i + 1) & (g_width - 1)) {
        CEntitySlot* sP = &CEntityCache::m_table[i];
        if (sP->m_hash == 0)
            return nullptr;
        if (sP->m_hash == hash && sP->m_headP != nullptr &&
            sameId(sP->m_headP->m_valueP->getId(), idP))
            return sP;
    }
}

} // namespace

CEntityCache::CEntityCache() { m_count = 0; }

void CEntityCache::put(CEntityInstance* eP) {
    ensureTable();
    const char* idP = eP->getId();
    uint32_t hash = cacheHash(idP);
    CEntitySlot* sP = find(idP, hash);
    if (sP != nullptr) {
        for (CEntry* entryP = sP->m_headP; entryP; entryP = entryP->m_nextP) {
            if (entryP->m_valueP == eP)
                return;
        }
        sP->m_headP = new CEntry(eP, sP->m_headP);
        ++m_count;
        return;
    }
    unsigned i = hash & (g_width - 1);
    while (m_table[i].m_hash != 0)
        i = (i + 1) & (g_width - 1);
    m_table[i].m_hash = hash;
    m_table[i].m_headP = new CEntry(eP, nullptr);
    ++m_count;
    if (++g_used > g_width / 4 * 3)
        grow();
}

CEntityInstance* CEntityCache::get(const char* idP) {
    ensureTable();
    CEntitySlot* sP = find(idP, cacheHash(idP));
    return sP ? sP->m_headP->m_valueP : nullptr;
}

void CEntityCache::remove(CEntityInstance* eP) {
    ensureTable();
    CEntitySlot* sP = find(eP->getId(), cacheHash(eP->getId()));
    CEntry* prevP = nullptr;
    for (CEntry* entryP = sP ? sP->m_headP : nullptr; entryP;
         prevP = entryP, entryP = entryP->m_nextP) {
        if (entryP->m_valueP == eP) {
            if (prevP)
                prevP->m_nextP = entryP->m_nextP;
            else
                sP->m_headP = entryP->m_nextP;
            delete entryP;
            --m_count;
            return;
        }
    }
    fprintf(stderr, "EntityCache: can't remove %s\n", eP->getId());
}
