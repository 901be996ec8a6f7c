// Interning of every text read from a fact file, so that equal texts share
// one copy and are compared and held by pointer. Also the hash that all
// three caches of the fact base use.
#ifndef LOPWORT_STRINGCACHE_H
#define LOPWORT_STRINGCACHE_H

#include <cstddef>
#include <cstdint>

// The hash of all three caches. It mixes every byte into every bit of the
// result, so that short ids that differ in a digit or two still spread over
// the whole table (a shift-and-XOR hash leaves all seven-byte ids to 2^15
// values, and a million of them in a few thousand chains). Never 0, so the
// open-addressed tables can mark empty slots with it.
uint32_t cacheHash(const char* stringP);
uint32_t cacheHash(const char* stringP, unsigned lth);

// The starting number of slots; the table doubles before it is 3/4 full.
const unsigned STRING_CACHE_WIDTH = 16384;

const char* stringCache(const char* stringP);
// The same for a text of known length that need not be NUL-terminated; it
// must hold no NUL byte within those lth bytes.
const char* stringCache(const char* stringP, unsigned lth);

// Makes room for about that many texts at once, so that a large input does
// not pay for doubling the table step by step; a wrong guess costs only room
// or later doubling.
void stringCacheReserve(size_t texts);

// For a reader that takes many texts at once: it hashes them all (cacheHash
// with the length), asks for their slots with stringCachePrefetch, so that
// the table's misses overlap, then for the texts (stringCachePrefetchText),
// and then interns each with its hash. *userPP
// receives the text's entity-cache pointer (below), for asking ahead for the
// entity too.
void stringCachePrefetch(uint32_t hash);
// Once the slots have arrived: asks for the text that a hash leads to, which
// interning compares with.
void stringCachePrefetchText(uint32_t hash);
const char* stringCacheHashed(const char* stringP, unsigned lth, uint32_t hash, void** userPP);

// Each interned text carries one pointer for the entity cache, which files
// entities under the text of their id there rather than in a table of its
// own. Returns the address of that pointer, interning the text first when
// create is set; null when the text is not interned and create is not set.
// The address is good until the next text is interned.
void** stringCacheUserSlot(const char* stringP, bool create);

// Forgets every text, for a process that loads many fact bases and gives the
// arena back between them (a fuzzing harness); the program itself never does.
void stringCacheReset();

#endif
