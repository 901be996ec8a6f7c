// Finds an entity by its id while a fact file loads. One program-wide table;
// among several entities with one id, the one entered last is found.
#ifndef LOPWORT_ENTITYCACHE_H
#define LOPWORT_ENTITYCACHE_H

#include "LandscapeObject.h"

#include <cstdint>

class CEntityInstance;

// One entered instance; m_nextP leads to the instance entered before it
// under the same id.
class CEntry : public Cobject {
  public:
    CEntry* m_nextP;
    CEntityInstance* m_valueP;

    CEntry(CEntityInstance* valueP, CEntry* nextP) : m_nextP(nextP), m_valueP(valueP) {}
};

// One slot of the table: an id's hash and its entries, newest first. A slot
// whose hash is 0 is empty; one whose entries were all removed keeps its
// hash, so that the ids placed after it are still found.
struct CEntitySlot {
    uint32_t m_hash;
    CEntry* m_headP;
};

// The starting number of slots; the table doubles before it is 3/4 full.
const unsigned ENTITY_CACHE_WIDTH = 262144;

class CEntityCache : public Cobject {
  public:
    static CEntitySlot* m_table;
    static int m_count;

    CEntityCache();
    void put(CEntityInstance* eP);
    CEntityInstance* get(const char* idP);
    void remove(CEntityInstance* eP);
};

#endif
