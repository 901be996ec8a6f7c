// Relation facts.
#include "RelationInstance.h"

#include "EntityInstance.h"

CRelationInstance::CRelationInstance(CRelationClass* rcP, CEntityInstance* srcP,
                                     CEntityInstance* dstP)
    : m_classP(rcP), m_next_srcP(srcP->m_srcRelListP), m_next_dstP(dstP->m_dstRelListP),
      m_srcP(srcP), m_dstP(dstP) {
    srcP->m_srcRelListP = this;
    dstP->m_dstRelListP = this;
}
