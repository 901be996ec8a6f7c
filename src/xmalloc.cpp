// Allocation wrappers and the never-freed arena used by the fact base.
#include "xmalloc.h"

#include "util.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

// Under AddressSanitizer an emptied arena block is poisoned until it is
// handed out again, so that a pointer kept across arena_release_all is
// caught when it is used.
#if defined(__SANITIZE_ADDRESS__)
#define LOPWORT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LOPWORT_ASAN 1
#endif
#endif
#ifdef LOPWORT_ASAN
#include <sanitizer/asan_interface.h>
#define ARENA_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define ARENA_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define ARENA_POISON(p, n) ((void)(p), (void)(n))
#define ARENA_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

void* xmalloc1(unsigned int size) {
    void* p = malloc(size);
    if (p == nullptr)
        outofmemory();
    return p;
}

void* xrealloc1(void* oldP, unsigned int size) {
    void* p = realloc(oldP, size);
    if (p == nullptr)
        outofmemory();
    return p;
}

void xfree1(void** oldPP) {
    free(*oldPP);
    *oldPP = nullptr;
}

char* dupstring(const char* stringP) {
    size_t lth = strlen(stringP) + 1;
    if (lth > 0xffffffffu)
        outofmemory();
    char* p = static_cast<char*>(xmalloc1(static_cast<unsigned int>(lth)));
    memcpy(p, stringP, lth);
    return p;
}

namespace {

// Each block begins with a link to the previous one, so every block stays
// reachable from a global and leak checkers see nothing lost.
struct ArenaBlock {
    ArenaBlock* prevP;
    size_t payload;
};

const size_t kBlockSize = 1 << 20;
const size_t kAlign = alignof(std::max_align_t);

ArenaBlock* g_arenaHeadP = nullptr;
char* g_arenaNextP = nullptr;
size_t g_arenaLeft = 0;

size_t header_size() { return (sizeof(ArenaBlock) + kAlign - 1) & ~(kAlign - 1); }

void* newBlock(size_t payload) {
    size_t header = header_size();
    if (payload > SIZE_MAX - header)
        outofmemory();
    ArenaBlock* blockP = static_cast<ArenaBlock*>(malloc(header + payload));
    if (blockP == nullptr)
        outofmemory();
    blockP->prevP = g_arenaHeadP;
    blockP->payload = payload;
    g_arenaHeadP = blockP;
    return reinterpret_cast<char*>(blockP) + header;
}

} // namespace

void* arena_alloc(size_t size) {
    if (size > SIZE_MAX - kAlign)
        outofmemory();
    size = (size + kAlign - 1) & ~(kAlign - 1);
    if (size > kBlockSize / 4)
        return newBlock(size); // large requests get a block of their own
    // Texts are packed unaligned, so the next object may need padding.
    size_t pad = (kAlign - reinterpret_cast<uintptr_t>(g_arenaNextP) % kAlign) % kAlign;
    if (size + pad > g_arenaLeft) {
        g_arenaNextP = static_cast<char*>(newBlock(kBlockSize));
        g_arenaLeft = kBlockSize;
        pad = 0;
    }
    g_arenaNextP += pad;
    g_arenaLeft -= pad;
    void* p = g_arenaNextP;
    g_arenaNextP += size;
    g_arenaLeft -= size;
    ARENA_UNPOISON(p, size);
    return p;
}

// One block of the standard size is kept, emptied, for what comes next: a
// harness empties the arena after every input and should not have to map
// fresh memory each time.
void arena_release_all() {
    ArenaBlock* keptP = nullptr;
    while (g_arenaHeadP != nullptr) {
        ArenaBlock* prevP = g_arenaHeadP->prevP;
        if (keptP == nullptr && g_arenaHeadP->payload == kBlockSize)
            keptP = g_arenaHeadP;
        else
            free(g_arenaHeadP);
        g_arenaHeadP = prevP;
    }
    g_arenaNextP = nullptr;
    g_arenaLeft = 0;
    if (keptP != nullptr) {
        keptP->prevP = nullptr;
        g_arenaHeadP = keptP;
        g_arenaNextP = reinterpret_cast<char*>(keptP) + header_size();
        g_arenaLeft = kBlockSize;
        ARENA_POISON(g_arenaNextP, g_arenaLeft);
    }
}

char* arena_strdup(const char* stringP, size_t n) {
    char* p;
    if (n + 1 <= g_arenaLeft) {
        // Texts need no alignment: pack them byte by byte.
        p = g_arenaNextP;
        g_arenaNextP += n + 1;
        g_arenaLeft -= n + 1;
    } else {
        p = static_cast<char*>(arena_alloc(n + 1));
    }
    ARENA_UNPOISON(p, n + 1);
    memcpy(p, stringP, n);
    p[n] = '\0';
    return p;
}
