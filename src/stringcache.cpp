// The string cache: a chained hash table whose nodes come from blocks of 2048
// and whose texts live in the arena. New nodes go to the head of their chain.
// The table starts at 16384 chains and doubles, keeping the order within each
// chain, whenever the texts outnumber the chains.
#include "stringcache.h"

#include "xmalloc.h"

#include <cstdlib>
#include <cstring>

uint32_t cacheHash(const char* stringP, unsigned lth) {
    uint32_t h = 2166136261u;
    for (unsigned i = 0; i < lth; ++i)
        h = (h ^ static_cast<unsigned char>(stringP[i])) * 16777619u;
    h ^= h >> 15;
    h *= 0x2c1b3c6du;
    h ^= h >> 12;
    return h;
}

uint32_t cacheHash(const char* stringP) {
    return cacheHash(stringP, static_cast<unsigned>(strlen(stringP)));
}

namespace {

cacheT** g_tableP = nullptr;
unsigned g_width = 0;
unsigned g_count = 0;

cacheT* g_cacheP = nullptr;
const unsigned g_cache_lth = 2048;
unsigned left = 0;

cacheT** newTable(unsigned width) {
    cacheT** tableP = static_cast<cacheT**>(arena_alloc(sizeof(cacheT*) * width));
    memset(tableP, 0, sizeof(cacheT*) * width);
    return tableP;
}

void grow() {
    unsigned width = g_width * 2;
    cacheT** tableP = newTable(width);
    // Tails of the new chains, so each keeps the relative order of the old one.
    cacheT*** tailsP = static_cast<cacheT***>(xmalloc1(sizeof(cacheT**) * width));
    for (unsigned i = 0; i < width; ++i)
        tailsP[i] = &tableP[i];
    for (unsigned i = 0; i < g_width; ++i) {
        cacheT* nodeP = g_tableP[i];
        while (nodeP) {
            cacheT* nextP = nodeP->nextP;
            unsigned index = cacheHash(nodeP->stringP) & (width - 1);
            nodeP->nextP = nullptr;
            *tailsP[index] = nodeP;
            tailsP[index] = &nodeP->nextP;
            nodeP = nextP;
        }
    }
    free(tailsP);
    g_tableP = tableP; // the old table stays in the arena, unused
    g_width = width;
}

} // namespace

const char* stringCache(const char* stringP, unsigned lth) {
    if (g_tableP == nullptr) {
        g_width = STRING_CACHE_WIDTH;
        g_tableP = newTable(g_width);
    }
    unsigned index = cacheHash(stringP, lth) & (g_width - 1);
    for (cacheT* nodeP = g_tableP[index]; nodeP; nodeP = nodeP->nextP) {
        if (strncmp(nodeP->stringP, stringP, lth) == 0 && nodeP->stringP[lth] == '\0')
            return nodeP->stringP;
    }
    if (left == 0) {
        g_cacheP = static_cast<cacheT*>(arena_alloc(sizeof(cacheT) * g_cache_lth));
        left = g_cache_lth;
    }
    --left;
    cacheT* nodeP = &g_cacheP[left];
    nodeP->stringP = arena_strdup(stringP, lth);
    nodeP->nextP = g_tableP[index];
    g_tableP[index] = nodeP;
    if (++g_count > g_width)
        grow();
    return nodeP->stringP;
}

const char* stringCache(const char* stringP) {
    return stringCache(stringP, static_cast<unsigned>(strlen(stringP)));
}
