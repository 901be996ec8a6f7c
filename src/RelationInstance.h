// One relation fact: an edge linked at the head of its source's outgoing list
// and its target's incoming list.
#ifndef LOPWORT_RELATIONINSTANCE_H
#define LOPWORT_RELATIONINSTANCE_H

#include "LandscapeObject.h"

class CEntityInstance;
class CRelationClass;

// Relation facts keep no attributes (a relation record's assignments are
// read and dropped), so a relation is a plain object: no table of virtual
// functions and no attribute list, five pointers in all. A large fact base
// holds several relations for every entity.
class CRelationInstance : public Cobject {
  public:
    CRelationClass* m_classP;
    CRelationInstance* m_next_srcP;
    CRelationInstance* m_next_dstP;
    CEntityInstance* m_srcP;
    CEntityInstance* m_dstP;

    CRelationInstance(CRelationClass* rcP, CEntityInstance* srcP, CEntityInstance* dstP);
    CRelationClass* getRelationClass() const { return m_classP; }
};

#endif
