// A relation class of the schema with the entity-class pairs it was declared
// for. The pairs are recorded but never enforced on relation facts.
#ifndef LOPWORT_RELATIONCLASS_H
#define LOPWORT_RELATIONCLASS_H

#include "LandscapeClassObject.h"

class CEntityClass;
class CEntityClassPair;

class CRelationClass : public CLandscapeClassObject {
  public:
    CEntityClassPair* m_entityClassPairListP;
    CRelationClass* m_nextP;

    explicit CRelationClass(const char* idP);
    void putAttribute(const char* idP, const char* valueP) override;
    CEntityClassPair* getEntityClassPairs() const { return m_entityClassPairListP; }
    void addRelationConstraint(CEntityClassPair* epP);
    void addRelationConstraint(CEntityClass* ec1P, CEntityClass* ec2P);
};

#endif
