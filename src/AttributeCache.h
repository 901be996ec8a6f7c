// Interning of (attribute id, value) pairs, and the block allocator of
// attribute list entries that both the cache and the objects' lists use.
#ifndef LOPWORT_ATTRIBUTECACHE_H
#define LOPWORT_ATTRIBUTECACHE_H

#include "LandscapeObject.h"

#include <cstddef>

class CAttribute;

// Callers pass interned texts; nothing is copied. aviP may be null.
CAttribute* attributeCache(const char* idP, const char* aviP);
attributeListT* getAttributeListEntry();
// Asks for the table slot of a pair ahead of attributeCache, for a reader
// that has several pairs in hand.
void attributeCachePrefetch(const char* idP, const char* aviP);

// Makes room for about that many pairs at once, as stringCacheReserve does
// for texts.
void attributeCacheReserve(size_t pairs);

// Forgets every pair and list entry, like stringCacheReset.
void attributeCacheReset();

#endif
