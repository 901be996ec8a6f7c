// The string cache: an open-addressed table (linear probing) whose slots hold
// each text's hash and length beside its pointer, so that a lookup touches
// the text itself only when hash and length already agree. Texts live in the
// arena and never move; the table doubles before it is 3/4 full. Each slot
// also holds the entity cache's list of the entities whose id is that text,
// so that finding an entity by an id just read costs no second table.
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
        // The last n bytes: from a word that ends with the text when the
        // text is that long, so that no copy of variable length is needed.
        uint64_t w = 0;
        if (lth >= 8) {
            w = load64(stringP + n - 8) >> (64 - 8 * n);
        } else {
            for (unsigned i = 0; i < n; ++i)
                w |= static_cast<uint64_t>(static_cast<unsigned char>(stringP[i])) << (8 * i);
        }
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
    void* userP; // the entity cache's list for this text
};

Slot* g_tableP = nullptr;
unsigned g_width = 0;
unsigned g_count = 0;
unsigned g_generation = 0; // grows with the table: slot numbers change

// The texts interned lately, each in a place chosen by its address: their
// hashes and, while the table has not grown since, their slots. A reader
// interns a word and soon uses it as a key; this finds it again without
// hashing it anew.
const unsigned kRecent = 256;
struct Recent {
    const char* stringP;
    uint32_t hash;
    unsigned slot;
    unsigned generation;
};
Recent g_recent[kRecent];

unsigned recentIndex(const char* stringP) {
    uintptr_t a = reinterpret_cast<uintptr_t>(stringP);
    return static_cast<unsigned>((a ^ (a >> 8) ^ (a >> 16)) % kRecent);
}

const unsigned kNone = ~0u;

Slot* newTable(unsigned width) {
    return static_cast<Slot*>(table_alloc(sizeof(Slot) * static_cast<size_t>(width)));
}

// Rehashes into a table of the given width, a larger power of two.
void rehash(unsigned width) {
    g_tableP = table_rehash(g_tableP, g_width, width);
    g_width = width;
    ++g_generation;
}

void grow() {
    if (g_width > 0x7fffffffu)
        outofmemory();
    rehash(g_width * 2);
}

unsigned g_reserve = STRING_CACHE_WIDTH;

void ensureTable() {
    if (g_tableP == nullptr) {
        g_width = g_reserve;
        g_tableP = newTable(g_width);
    }
}

void remember(const char* stringP, uint32_t hash, unsigned slot) {
    g_recent[recentIndex(stringP)] = {stringP, hash, slot, g_generation};
}

const Recent* recent(const char* stringP) {
    const Recent& r = g_recent[recentIndex(stringP)];
    return r.stringP == stringP && stringP != nullptr ? &r : nullptr;
}

// The slot of the text, interning it when create is set; kNone when it is
// not interned and create is not set.
unsigned lookup(const char* stringP, unsigned lth, uint32_t hash, bool create) {
    ensureTable();
    for (unsigned i = hash & (g_width - 1);; i = (i + 1) & (g_width - 1)) {
        Slot& s = g_tableP[i];
        if (s.hash == 0) {
            if (!create)
                return kNone;
            s.hash = hash;
            s.lth = lth;
            s.stringP = arena_strdup(stringP, lth);
            s.userP = nullptr;
            if (++g_count <= g_width / 4 * 3)
                return i;
            const char* internedP = s.stringP;
            grow();
            for (i = hash & (g_width - 1); g_tableP[i].stringP != internedP;
                 i = (i + 1) & (g_width - 1)) {
            }
            return i;
        }
        if (s.hash == hash && s.lth == lth &&
            (s.stringP == stringP || memcmp(s.stringP, stringP, lth) == 0))
            return i;
    }
}

} // namespace

uint32_t cacheHash(const char* stringP) {
    if (const Recent* rP = recent(stringP))
        return rP->hash;
    return cacheHash(stringP, static_cast<unsigned>(strlen(stringP)));
}

const char* stringCache(const char* stringP, unsigned lth) {
    uint32_t hash = cacheHash(stringP, lth);
    unsigned slot = lookup(stringP, lth, hash, true);
    const char* resultP = g_tableP[slot].stringP;
    remember(resultP, hash, slot);
    return resultP;
}

void stringCacheReset() {
    table_free(g_tableP, sizeof(Slot) * static_cast<size_t>(g_width));
    g_tableP = nullptr;
    g_width = 0;
    g_count = 0;
    ++g_generation;
    // The remembered texts go with the arena: their addresses may be reused.
    memset(static_cast<void*>(g_recent), 0, sizeof g_recent);
    g_reserve = STRING_CACHE_WIDTH;
}

const char* stringCache(const char* stringP) {
    return stringCache(stringP, static_cast<unsigned>(strlen(stringP)));
}

void stringCacheReserve(size_t texts) {
    if (texts > 0x40000000u)
        return;
    while (g_reserve / 4 * 3 < texts)
        g_reserve *= 2;
    // A table already made for the first few texts (class names) is moved
    // at once, rather than doubled a dozen times while a large file loads.
    if (g_tableP != nullptr && g_width < g_reserve)
        rehash(g_reserve);
}

void stringCachePrefetch(uint32_t hash) {
    ensureTable();
    __builtin_prefetch(&g_tableP[hash & (g_width - 1)]);
}

void stringCachePrefetchText(uint32_t hash) {
    ensureTable();
    for (unsigned i = hash & (g_width - 1);; i = (i + 1) & (g_width - 1)) {
        const Slot& s = g_tableP[i];
        if (s.hash == 0)
            return;
        if (s.hash == hash) {
            __builtin_prefetch(s.stringP);
            return;
        }
    }
}

const char* stringCacheHashed(const char* stringP, unsigned lth, uint32_t hash, void** userPP) {
    unsigned slot = lookup(stringP, lth, hash, true);
    const char* resultP = g_tableP[slot].stringP;
    remember(resultP, hash, slot);
    *userPP = g_tableP[slot].userP;
    return resultP;
}

void** stringCacheUserSlot(const char* stringP, bool create) {
    ensureTable();
    const Recent* rP = recent(stringP);
    if (rP != nullptr && rP->generation == g_generation)
        return &g_tableP[rP->slot].userP;
    unsigned lth = static_cast<unsigned>(strlen(stringP));
    uint32_t hash = rP ? rP->hash : cacheHash(stringP, lth);
    unsigned slot = lookup(stringP, lth, hash, create);
    return slot == kNone ? nullptr : &g_tableP[slot].userP;
}
