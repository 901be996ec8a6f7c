// Finds an entity by its id while a fact file loads. One program-wide index;
// among several entities with one id, the one entered last is found.
#ifndef LOPWORT_ENTITYCACHE_H
#define LOPWORT_ENTITYCACHE_H

#include "LandscapeObject.h"

class CEntityInstance;

// One entered instance; m_nextP leads to the instance entered before it
// under the same id.
class CEntry : public Cobject {
  public:
    CEntry* m_nextP;
    CEntityInstance* m_valueP;

    CEntry(CEntityInstance* valueP, CEntry* nextP) : m_nextP(nextP), m_valueP(valueP) {}
};

class CEntityCache : public Cobject {
  public:
    static int m_count;

    CEntityCache();
    void put(CEntityInstance* eP);
    CEntityInstance* get(const char* idP);
    void remove(CEntityInstance* eP);

    // Forgets every entity, like stringCacheReset.
    static void reset();
};

#endif
