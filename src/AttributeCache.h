// Interning of (attribute id, value) pairs, and the block allocator of
// attribute list entries that both the cache and the objects' lists use.
#ifndef LOPWORT_ATTRIBUTECACHE_H
#define LOPWORT_ATTRIBUTECACHE_H

#include "LandscapeObject.h"

class CAttribute;

// Callers pass interned texts; nothing is copied. aviP may be null.
CAttribute* attributeCache(const char* idP, const char* aviP);
attributeListT* getAttributeListEntry();

#endif
