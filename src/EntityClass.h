// An entity class of the schema, with the list of the entities created in it
// (newest first). An entity whose class changes later stays in this list.
#ifndef LOPWORT_ENTITYCLASS_H
#define LOPWORT_ENTITYCLASS_H

#include "LandscapeClassObject.h"

#include <cstddef>

class CEntityInstance;

class CEntityClass : public CLandscapeClassObject {
  public:
    CEntityClass* m_nextP;
    CEntityInstance* m_entityInstancesP;
    size_t m_instances; // the length of that list, for sizing work over it

    explicit CEntityClass(const char* idP);
    void putAttribute(const char* idP, const char* valueP) override;
    CEntityInstance* newEntity(const char* idP);
};

#endif
