// The entity cache. Every id is a text, and the string cache already finds a
// text's slot (usually from the few texts just read, at no cost), so the
// entities are filed there. A slot's pointer is the entity itself while one
// entity has that id, which is nearly always; a second entity with the same
// id turns it into a list of entries, newest first, marked by its low bit
// (entities and entries are pointer-aligned, so that bit is free). An id
// that was never interned names no entity.
#include "EntityCache.h"

#include "EntityInstance.h"
#include "stringcache.h"

#include <cstdint>
#include <cstdio>

int CEntityCache::m_count = 0;

namespace {

bool isList(void* p) { return (reinterpret_cast<uintptr_t>(p) & 1) != 0; }

CEntry* listOf(void* p) {
    return reinterpret_cast<CEntry*>(reinterpret_cast<uintptr_t>(p) & ~uintptr_t(1));
}

void* asList(CEntry* entryP) {
    return reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(entryP) | 1);
}

} // namespace

CEntityCache::CEntityCache() { m_count = 0; }

// The entities are filed in the string cache's slots, which its own reset
// empties; only the count is kept here.
void CEntityCache::reset() { m_count = 0; }

void CEntityCache::put(CEntityInstance* eP) {
    void** slotP = stringCacheUserSlot(eP->getId(), true);
    void* p = *slotP;
    if (p == nullptr) {
        *slotP = eP;
    } else if (!isList(p)) {
        if (p == eP)
            return;
        *slotP = asList(new CEntry(eP, new CEntry(static_cast<CEntityInstance*>(p), nullptr)));
    } else {
        CEntry* headP = listOf(p);
        for (CEntry* entryP = headP; entryP; entryP = entryP->m_nextP) {
            if (entryP->m_valueP == eP)
                return;
        }
        *slotP = asList(new CEntry(eP, headP));
    }
    ++m_count;
}

CEntityInstance* CEntityCache::get(const char* idP) {
    void** slotP = stringCacheUserSlot(idP, false);
    void* p = slotP ? *slotP : nullptr;
    if (p == nullptr || !isList(p))
        return static_cast<CEntityInstance*>(p);
    CEntry* headP = listOf(p);
    return headP ? headP->m_valueP : nullptr;
}

void CEntityCache::remove(CEntityInstance* eP) {
    void** slotP = stringCacheUserSlot(eP->getId(), false);
    void* p = slotP ? *slotP : nullptr;
    if (p != nullptr && p == eP) {
        *slotP = nullptr;
        --m_count;
        return;
    }
    if (p != nullptr && isList(p)) {
        CEntry* prevP = nullptr;
        for (CEntry* entryP = listOf(p); entryP; prevP = entryP, entryP = entryP->m_nextP) {
            if (entryP->m_valueP == eP) {
                if (prevP)
                    prevP->m_nextP = entryP->m_nextP;
                else
                    *slotP = asList(entryP->m_nextP);
                delete entryP;
                --m_count;
                return;
            }
        }
    }
    fprintf(stderr, "EntityCache: can't remove %s\n", eP->getId());
}
