// A fact-base object with an id and a display label: classes and entities.
#ifndef LOPWORT_LANDSCAPEOBJECT3D_H
#define LOPWORT_LANDSCAPEOBJECT3D_H

#include "LandscapeObject.h"

class CLandscapeObject3D : public CLandscapeObject {
  public:
    const char* m_idP;
    const char* m_labelP;

    CLandscapeObject3D();
    const char* getId() const { return m_idP; }
    void setId(const char* idP) { m_idP = idP; }
    int hasId(const char* idP) const;
    const char* getLabel() const { return m_labelP; }
};

#endif
