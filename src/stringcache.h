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

// Shift left and XOR each byte, sign-extended, into a 32-bit value.
uint32_t cacheHash(const char* stringP);

// The tables index with cacheHash at their starting width. That hash keeps
// only the last 32 bytes and gives short texts few distinct values (all
// seven-byte ids fall into 2^15 of them), so once a table has doubled it
// indexes with a second, well-mixed hash instead.
struct cacheKeyT {
    uint32_t h;  // cacheHash
    uint32_t h2; // the mixing hash
};
cacheKeyT cacheKey(const char* stringP);
cacheKeyT cacheKey(const char* stringP, unsigned lth);
inline unsigned cacheIndex(cacheKeyT key, unsigned startBits, unsigned width) {
    return (width >> startBits) == 1 ? key.h & (width - 1) : key.h2 & (width - 1);
}

// The starting number of chains; the table doubles when the texts outnumber it.
const unsigned STRING_CACHE_WIDTH = 16384;

const char* stringCache(const char* stringP);
// The same for a text of known length that need not be NUL-terminated; it
// must hold no NUL byte within those lth bytes.
const char* stringCache(const char* stringP, unsigned lth);

// Chain index of a text in the string table at its starting width.
unsigned stringCacheIndex(const char* stringP);

// Forgets every text, for a process that loads many fact bases and gives the
// arena back between them (a fuzzing harness); the program itself never does.
void stringCacheReset();

#endif
