// Entity classes: "class_label" names the class for display.
#include "EntityClass.h"

#include "EntityInstance.h"

#include <cstring>

CEntityClass::CEntityClass(const char* idP)
    : m_nextP(nullptr), m_entityInstancesP(nullptr), m_instances(0) {
    setId(idP);
}

void CEntityClass::putAttribute(const char* idP, const char* valueP) {
    if (strcmp(idP, "class_label") == 0)
        m_labelP = valueP;
    CLandscapeObject::putAttribute(idP, valueP);
}

CEntityInstance* CEntityClass::newEntity(const char* idP) { return new CEntityInstance(this, idP); }
