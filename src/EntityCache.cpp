// The entity cache. Every id is a text, and the string cache already finds a
// text's slot (usually from the few texts just read, at no cost), so the
// entities are filed there: each text's slot holds the list of the entities
// with that id, newest first. An id that was never interned names no entity.
#include "EntityCache.h"

#include "EntityInstance.h"
#include "stringcache.h"

#include <cstdio>

int CEntityCache::m_count = 0;

CEntityCache::CEntityCache() { m_count = 0; }

void CEntityCache::put(CEntityInstance* eP) {
    void** slotP = stringCacheUserSlot(eP->getId(), true);
    CEntry* headP = static_cast<CEntry*>(*slotP);
    for (CEntry* entryP = headP; entryP; entryP = entryP->m_nextP) {
        if (entryP->m_valueP == eP)
            return;
    }
    *slotP = new CEntry(eP, headP);
    ++m_count;
}

CEntityInstance* CEntityCache::get(const char* idP) {
    void** slotP = stringCacheUserSlot(idP, false);
    if (slotP == nullptr || *slotP == nullptr)
        return nullptr;
    return static_cast<CEntry*>(*slotP)->m_valueP;
}

void CEntityCache::remove(CEntityInstance* eP) {
    void** slotP = stringCacheUserSlot(eP->getId(), false);
    CEntry* prevP = nullptr;
    for (CEntry* entryP = slotP ? static_cast<CEntry*>(*slotP) : nullptr; entryP;
         prevP = entryP, entryP = entryP->m_nextP) {
        if (entryP->m_valueP == eP) {
            if (prevP)
                prevP->m_nextP = entryP->m_nextP;
            else
                *slotP = entryP->m_nextP;
            delete entryP;
            --m_count;
            return;
        }
    }
    fprintf(stderr, "EntityCache: can't remove %s\n", eP->getId());
}
