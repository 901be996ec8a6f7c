// The string cache: an open-addressed table (linear probing) whose slots hold
// each text's hash and length beside its pointer, so that a lookup touches
// the text itself only when hash and length already agree. Texts live in the
// arena and never move; the table doubles before it is 3/4 full.
//
// Loading hashes each text twice: once to intern it, and again when the
// interned pointer is used as a key (an entity id, an attribute). The last
// few interned pointers remember their hashes, so the second time is a
// pointer comparison. Interned texts never change, so a pointer that matches
// one of them has its hash.
#include "stringcache.h"

#include "util.h"
#include "xmalloc.h"

#include <cstdlib>
#include <cstring>

namespace {

inline uint64_t load64(const char* p) {
    uint64_t w;
    memcpy(&w, p, 8);
    return w;
}

inline uint64_t mix(uint64_t h, uint64_t w) {
    h = (h ^ w) * 0x9e3779b97f4a7c15ull;
    return h ^ (h >> 29);
}

} // namespace

// Eight bytes at a time, each word multiplied in; the tail is read into a
// zeroed word. The length is mixed in so that tails differing only in
// trailing zero bytes cannot collide.
uint32_t cacheHash(const char* stringP, unsigned lth) {
    uint64_t h = 0x243f6a8885a308d3ull ^ lth;
    unsigned n = lth;
    while (n >= 8) {
        h = mix(h, load64(stringP));
        stringP += 8;
        n -= 8;
    }
    if (n > 0) {
        uint64_t w = 0;
        memcpy(&w, stringP, n);
        h = mix(h, w);
    }
    h ^= h >> 32;
    h *= 0xd6e8feb86659fd93ull;
    h ^= h >> 32;
    uint32_t r = static_cast<uint32_t>(h);
    return r != 0 ? r : 1;
}

namespace {

struct Slot {
    uint32_t hash; // 0 for an empty slot
    unsigned lth;
    const char* stringP;
};

Slot* g_tableP = nullptr;
unsigned g_width = 0;
unsigned g_count = 0;

// The most recently interned texts and their hashes.
const unsigned kRecent = 4;
const char* g_recentP[kRecent];
uint32_t g_recentHash[kRecent];
unsigned g_recentNext = 0;

Slot* newTable(unsigned width) {
    return static_cast<Slot*>(table_alloc(sizeof(Slot) * static_cast<size_t>(width)));
}

void grow() {
    if (g_width > 0x7fffffffu)
        outofmemory();
    unsigned width = g_width * 2;
    Slot* tableP = newTable(width);
    for (unsigned i = 0; i < g_width; ++i) {
        const Slot& s = g_tableP[i];
        if (s.hash == 0)
            continue;
        unsigned j = s.hash & (width - 1);
        while (tableP[j].hash != 0)
            j = (j + 1) & (width - 1);
        tableP[j] = s;
    }
    table_free(g_tableP, sizeof(Slot) * static_cast<size_t>(g_width));
    g_tableP = tableP;
    g_width = width;
}

} // namespace

uint32_t cacheHash(const char* stringP) {
    for (unsigned i = 0; i < kRecent; ++i) {
        if (g_recentP[i] == stringP && stringP != nullptr)
            return g_recentHash[i];
    }
    return cacheHash(stringP, static_cast<unsigned>(strlen(stringP)));
}

const char* stringCache(const char* stringP, unsigned lth) {
    if (g_tableP == nullptr) {
        g_width = STRING_CACHE_WIDTH;
        g_tableP = newTable(g_width);
    }
    uint32_t hash = cacheHash(stringP, lth);
    unsigned i = hash & (g_width - 1);
    const char* resultP = nullptr;
    for (;; i = (i + 1) & (g_width - 1)) {
        Slot& s = g_tableP[i];
        if (s.hash == 0) {
            s.hash = hash;
            s.lth = lth;
            s.stringP = resultP = arena_strdup(stringP, lth);
            if (++g_count > g_width / 4 * 3)
                grow();
            break;
        }
        if (s.hash == hash && s.lth == lth && memcmp(s.stringP, stringP, lth) == 0) {
            resultP = s.stringP;
            break;
        }
    }
    g_recentP[g_recentNext] = resultP;
    g_recentHash[g_recentNext] = hash;
    g_recentNext = (g_recentNext + 1) % kRecent;
    return resultP;
}

const char* stringCache(const char* stringP) {
    return stringCache(stringP, static_cast<unsigned>(strlen(stringP)));
}
