// The string cache: an open-addressed table (linear probing) whose slots hold
// each text's hash beside a 32-bit reference to it, so that a lookup touches
// the text itself only when the hashes already agree. Texts live in arena
// blocks of their own and never move; the table doubles before it is 3/4
// full. Each slot also holds the entity cache's list of the entities whose
// id is that text, so that finding an entity by an id just read costs no
// second table. A slot is 16 bytes: a large fact file interns millions of
// texts, and the table is among the largest things loading makes.
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
#include <vector>

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
    uint32_t ref;  // where the text is: see textOf
    void* userP;   // the entity cache's list for this text
};

// A reference names a text by its block (8 bits) and its offset there (23
// bits), or, with the top bit set, by its index among the outsiders: texts
// too long to share a block, and every text once the blocks are used up
// (2 GiB of them), each kept wherever the arena puts it.
const unsigned kOffsetBits = 23;
const uint32_t kOutsider = 0x80000000u;
const size_t kMaxBlocks = 256;
const size_t kLongText = 64 * 1024;
std::vector<char*> g_blocks;
std::vector<const char*> g_outsiders;
char* g_textNextP = nullptr;
size_t g_textLeft = 0;

inline const char* textOf(uint32_t ref) {
    if (ref & kOutsider)
        return g_outsiders[ref & ~kOutsider];
    return g_blocks[ref >> kOffsetBits] + (ref & ((1u << kOffsetBits) - 1));
}

// Keeps a copy of the text (lth bytes, then a NUL); returns its reference.
uint32_t storeText(const char* stringP, unsigned lth) {
    size_t need = static_cast<size_t>(lth) + 1;
    if (need > g_textLeft && need <= kLongText && g_blocks.size() < kMaxBlocks) {
        size_t size = 0;
        g_textNextP = static_cast<char*>(arena_alloc_block(&size));
        g_textLeft = size < (size_t(1) << kOffsetBits) ? size : (size_t(1) << kOffsetBits);
        g_blocks.push_back(g_textNextP);
    }
    if (need > g_textLeft) {
        if (g_outsiders.size() >= kOutsider)
            outofmemory();
        g_outsiders.push_back(arena_strdup(stringP, lth));
        return kOutsider | static_cast<uint32_t>(g_outsiders.size() - 1);
    }
    char* blockP = g_blocks.back();
    uint32_t ref = static_cast<uint32_t>((g_blocks.size() - 1) << kOffsetBits) |
                   static_cast<uint32_t>(g_textNextP - blockP);
    memcpy(g_textNextP, stringP, lth);
    g_textNextP[lth] = '\0';
    g_textNextP += need;
    g_textLeft -= need;
    return ref;
}

// Whether the interned text is the lth bytes at stringP (which hold no NUL):
// strncmp stops at the end of a shorter interned text.
inline bool sameText(const char* internedP, const char* stringP, unsigned lth) {
    return internedP == stringP ||
           (strncmp(internedP, stringP, lth) == 0 && internedP[lth] == '\0');
}

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
            s.ref = storeText(stringP, lth);
            s.userP = nullptr;
            if (++g_count <= g_width / 4 * 3)
                return i;
            uint32_t ref = s.ref;
            grow();
            for (i = hash & (g_width - 1); g_tableP[i].ref != ref || g_tableP[i].hash != hash;
                 i = (i + 1) & (g_width - 1)) {
            }
            return i;
        }
        if (s.hash == hash && sameText(textOf(s.ref), stringP, lth))
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
    const char* resultP = textOf(g_tableP[slot].ref);
    remember(resultP, hash, slot);
    return resultP;
}

void stringCacheReset() {
    table_free(g_tableP, sizeof(Slot) * static_cast<size_t>(g_width));
    g_tableP = nullptr;
    g_width = 0;
    g_count = 0;
    ++g_generation;
    g_blocks.clear();
    g_outsiders.clear();
    g_textNextP = nullptr;
    g_textLeft = 0;
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
            __builtin_prefetch(textOf(s.ref));
            return;
        }
    }
}

const char* stringCacheHashed(const char* stringP, unsigned lth, uint32_t hash, void** userPP) {
    unsigned slot = lookup(stringP, lth, hash, true);
    const char* resultP = textOf(g_tableP[slot].ref);
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
