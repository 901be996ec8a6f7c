// One allowed (source class, relation class, target class) combination.
#ifndef LOPWORT_ENTITYCLASSPAIR_H
#define LOPWORT_ENTITYCLASSPAIR_H

#include "LandscapeObject.h"

class CEntityClass;
class CRelationClass;

class CEntityClassPair : public Cobject {
  public:
    CEntityClassPair* m_nextP;
    CEntityClass* m_entityClass1P;
    CRelationClass* m_rcP;
    CEntityClass* m_entityClass2P;

    CEntityClassPair(CEntityClass* ec1P, CRelationClass* rcP, CEntityClass* ec2P);
    // The relation class is deliberately not compared.
    int equals(CEntityClass* ec1P, CEntityClass* ec2P) const;
};

#endif
