// Relation classes and their allowed class pairs.
#include "RelationClass.h"

#include "EntityClassPair.h"

#include <cstring>

CRelationClass::CRelationClass(const char* idP) : m_entityClassPairListP(nullptr), m_nextP(nullptr) {
    setId(idP);
}

void CRelationClass::putAttribute(const char* idP, const char* valueP) {
    if (strcmp(idP, "class_label") == 0)
        m_labelP = valueP;
    CLandscapeObject::putAttribute(idP, valueP);
}

void CRelationClass::addRelationConstraint(CEntityClassPair* epP) {
    epP->m_nextP = m_entityClassPairListP;
    m_entityClassPairListP = epP;
}

void CRelationClass::addRelationConstraint(CEntityClass* ec1P, CEntityClass* ec2P) {
    for (CEntityClassPair* pairP = m_entityClassPairListP; pairP; pairP = pairP->m_nextP) {
        if (pairP->equals(ec1P, ec2P))
            return;
    }
    addRelationConstraint(new CEntityClassPair(ec1P, this, ec2P));
}
