// Allowed class pairs of a relation class.
#include "EntityClassPair.h"

CEntityClassPair::CEntityClassPair(CEntityClass* ec1P, CRelationClass* rcP, CEntityClass* ec2P)
    : m_nextP(nullptr), m_entityClass1P(ec1P), m_rcP(rcP), m_entityClass2P(ec2P) {}

int CEntityClassPair::equals(CEntityClass* ec1P, CEntityClass* ec2P) const {
    return (m_entityClass1P == ec1P && m_entityClass2P == ec2P) ? 1 : 0;
}
