// Relation facts.
#include "RelationInstance.h"

#include "EntityInstance.h"
#include "RelationClass.h"

CRelationInstance::CRelationInstance(CRelationClass* rcP, CEntityInstance* srcP,
                                     CEntityInstance* dstP)
    : m_next_srcP(nullptr), m_next_dstP(nullptr), m_srcP(srcP), m_dstP(dstP) {
    setParentClass(rcP);
    m_next_srcP = srcP->m_srcRelListP;
    srcP->m_srcRelListP = this;
    m_next_dstP = dstP->m_dstRelListP;
    dstP->m_dstRelListP = this;
}

CRelationClass* CRelationInstance::getRelationClass() const {
    return static_cast<CRelationClass*>(m_parentClassP);
}
