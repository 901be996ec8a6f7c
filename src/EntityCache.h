// Finds an entity by its id while a fact file loads. One program-wide table;
// among several entities with one id, the one entered last is found.
#ifndef LOPWORT_ENTITYCACHE_H
#define LOPWORT_ENTITYCACHE_H

#include "LandscapeObject.h"

class CEntityInstance;

class CEntry : public Cobject {
  public:
    CEntry* m_nextP;
    CEntityInstance* m_valueP;

    CEntry(CEntityInstance* valueP, CEntry* nextP) : m_nextP(nextP), m_valueP(valueP) {}
};

// The starting number of chains; the table doubles when entries outnumber it.
const unsigned ENTITY_CACHE_WIDTH = 262144;

class CEntityCache : public Cobject {
  public:
    static CEntry** m_table;
    static int m_count;

    CEntityCache();
    void put(CEntityInstance* eP);
    CEntityInstance* get(const char* idP);
    void remove(CEntityInstance* eP);
};

#endif
