// A schema class, entity or relation. Schema inheritance is recorded in the
// parent class; the superclass field exists but loading never sets it.
#ifndef LOPWORT_LANDSCAPECLASSOBJECT_H
#define LOPWORT_LANDSCAPECLASSOBJECT_H

#include "LandscapeObject3D.h"

class CLandscapeClassObject : public CLandscapeObject3D {
  public:
    CLandscapeClassObject* m_superclassP;

    CLandscapeClassObject();
    CLandscapeClassObject* getSuperclass() { return m_superclassP; }
    void setSuperclass(CLandscapeClassObject* superclassP) { m_superclassP = superclassP; }
};

#endif
