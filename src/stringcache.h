// Interning of every text read from a fact file, so that equal texts share
// one copy and are compared and held by pointer. Also the hash that all
// three caches of the fact base use.
#ifndef LOPWORT_STRINGCACHE_H
#define LOPWORT_STRINGCACHE_H

#include <cstdint>

typedef struct cacheS {
    struct cacheS* nextP;
    char* stringP;
} cacheT;

// The hash of all three caches. It mixes every byte into every bit of the
// result, so that short ids that differ in a digit or two still spread over
// the whole table (a shift-and-XOR hash leaves all seven-byte ids to 2^15
// values, and a million of them in a few thousand chains).
uint32_t cacheHash(const char* stringP);
uint32_t cacheHash(const char* stringP, unsigned lth);

// The starting number of chains; the table doubles when the texts outnumber it.
const unsigned STRING_CACHE_WIDTH = 16384;

const char* stringCache(const char* stringP);
// The same for a text of known length that need not be NUL-terminated; it
// must hold no NUL byte within those lth bytes.
const char* stringCache(const char* stringP, unsigned lth);


#endif
