// The root classes of the fact base: Cobject, and CLandscapeObject, anything
// that belongs to a class and carries attributes. Attribute lists are singly
// linked, newest entry first, so the assignment read last hides older ones.
#ifndef LOPWORT_LANDSCAPEOBJECT_H
#define LOPWORT_LANDSCAPEOBJECT_H

#include <cstddef>

class CAttribute;
class CLandscapeClassObject;

// Fact-base objects are never freed, so they are carved from the arena.
class Cobject {
  public:
    static void* operator new(size_t size);
    static void operator delete(void*) {}
};

typedef struct attributeListS {
    struct attributeListS* nextP;
    CAttribute* attributeP;
} attributeListT;

class CLandscapeObject : public Cobject {
  public:
    CLandscapeClassObject* m_parentClassP;
    attributeListT* m_attributesP;

    CLandscapeObject();
    CLandscapeClassObject* getParentClass() const { return m_parentClassP; }
    void setParentClass(CLandscapeClassObject* parentClassP) { m_parentClassP = parentClassP; }
    virtual void putAttribute(const char* idP, const char* valueP);
    const char* getAttribute(const char* idP);
    const char* getType();
};

#endif
