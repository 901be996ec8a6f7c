// Attribute storage shared by every fact-base object.
#include "LandscapeObject.h"

#include "Attribute.h"
#include "AttributeCache.h"
#include "LandscapeClassObject.h"
#include "xmalloc.h"

#include <cstring>

// Fact-base objects hold only pointers and integers.
void* Cobject::operator new(size_t size) { return arena_alloc_pointer_aligned(size); }

CLandscapeObject::CLandscapeObject() : m_parentClassP(nullptr), m_attributesP(nullptr) {}

void CLandscapeObject::putAttribute(const char* idP, const char* valueP) {
    CAttribute* attributeP = attributeCache(idP, valueP);
    attributeListT* entryP = getAttributeListEntry();
    entryP->attributeP = attributeP;
    entryP->nextP = m_attributesP;
    m_attributesP = entryP;
}

const char* CLandscapeObject::getAttribute(const char* idP) {
    for (attributeListT* entryP = m_attributesP; entryP; entryP = entryP->nextP) {
        if (strcmp(entryP->attributeP->m_idP, idP) == 0)
            return entryP->attributeP->m_aviP;
    }
    return nullptr;
}

const char* CLandscapeObject::getType() { return m_parentClassP->getId(); }
