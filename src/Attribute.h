// One (attribute id, value) pair. The attribute cache makes exactly one
// CAttribute per distinct pair; every object carrying the pair shares it.
#ifndef LOPWORT_ATTRIBUTE_H
#define LOPWORT_ATTRIBUTE_H

#include "LandscapeObject.h"

class CAttribute : public Cobject {
  public:
    const char* m_idP;
    const char* m_aviP; // null when the attribute was given without a value

    CAttribute(const char* idP, const char* aviP);
};

#endif
