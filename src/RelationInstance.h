// One relation fact: an edge linked at the head of its source's outgoing list
// and its target's incoming list.
#ifndef LOPWORT_RELATIONINSTANCE_H
#define LOPWORT_RELATIONINSTANCE_H

#include "LandscapeObject.h"

class CEntityInstance;
class CRelationClass;

class CRelationInstance : public CLandscapeObject {
  public:
    CRelationInstance* m_next_srcP;
    CRelationInstance* m_next_dstP;
    CEntityInstance* m_srcP;
    CEntityInstance* m_dstP;

    CRelationInstance(CRelationClass* rcP, CEntityInstance* srcP, CEntityInstance* dstP);
    // Relation facts keep no attributes.
    void putAttribute(const char*, const char*) override {}
    CRelationClass* getRelationClass() const;
};

#endif
