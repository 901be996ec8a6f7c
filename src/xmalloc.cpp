// Allocation wrappers and the never-freed arena used by the fact base.
#include "xmalloc.h"

#include "util.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

// Under AddressSanitizer an emptied arena block is poisoned until it is
// handed out again, so that a pointer kept across arena_release_all is
// caught when it is used.
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

const size_t kHugePage = 2u << 20;

// Maps size bytes (a multiple of kHugePage) at a huge-page boundary and asks
// for huge pages there: the fact base is walked in random order, and with
// small pages most of those accesses would also miss the TLB and fault in a
// page of their own. Null when the system refuses the mapping.
void* hugeMap(size_t size) {
    if (size > SIZE_MAX - kHugePage)
        outofmemory();
    size_t span = size + kHugePage;
    void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    uintptr_t start = reinterpret_cast<uintptr_t>(p);
    uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > start)
        munmap(p, aligned - start);
    if (start + span > aligned + size)
        munmap(reinterpret_cast<void*>(aligned + size), start + span - (aligned + size));
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(aligned);
}

size_t roundToHuge(size_t size) {
    if (size > SIZE_MAX - kHugePage)
        outofmemory();
    return (size + kHugePage - 1) & ~(kHugePage - 1);
}

// Each block begins with a link to the previous one, so every block stays
// reachable from a global and leak checkers see nothing lost.
struct ArenaBlock {
    ArenaBlock* prevP;
    size_t mapped;  // bytes mapped for the block, header included
    size_t payload; // bytes after the header
};

const size_t kAlign = alignof(std::max_align_t);
const size_t kHeader = (sizeof(ArenaBlock) + kAlign - 1) & ~(kAlign - 1);
// A standard block with its header fills four huge pages exactly.
const size_t kBlockSize = (8u << 20) - kHeader;

ArenaBlock* g_arenaHeadP = nullptr;
char* g_arenaNextP = nullptr;
size_t g_arenaLeft = 0;

// Standard blocks mapped and touched ahead by another thread. The first
// touch of fresh memory is slow (the kernel clears each page, and on a
// virtual machine the host may have to supply it first): a thread that
// would otherwise wait pays for it instead of the one filling the arena.
// One thread prepares, the arena's thread takes; a slot passes from one to
// the other by an atomic exchange.
const size_t kSpareBlocks = 3;
const size_t kStandardMapped = kHeader + kBlockSize;
std::atomic<void*> g_spares[kSpareBlocks];

void* takeSpare() {
    for (std::atomic<void*>& spare : g_spares) {
        if (spare.load(std::memory_order_relaxed) == nullptr)
            continue;
        if (void* p = spare.exchange(nullptr, std::memory_order_acquire))
            return p;
    }
    return nullptr;
}

void* newBlock(size_t payload) {
    size_t header = kHeader;
    if (payload > SIZE_MAX - header)
        outofmemory();
    size_t mapped = roundToHuge(header + payload);
    void* spareP = mapped == kStandardMapped ? takeSpare() : nullptr;
    ArenaBlock* blockP = static_cast<ArenaBlock*>(spareP ? spareP : hugeMap(mapped));
    if (blockP == nullptr)
        outofmemory();
    blockP->prevP = g_arenaHeadP;
    blockP->mapped = mapped;
    blockP->payload = payload;
    g_arenaHeadP = blockP;
    return reinterpret_cast<char*>(blockP) + header;
}

} // namespace

bool arena_prepare_spare(size_t most) {
    for (size_t i = 0; i < kSpareBlocks && i < most; ++i) {
        std::atomic<void*>& spare = g_spares[i];
        if (spare.load(std::memory_order_relaxed) != nullptr)
            continue;
        char* p = static_cast<char*>(hugeMap(kStandardMapped));
        if (p == nullptr)
            return false; // the arena's thread will find out for itself
        for (size_t at = 0; at < kStandardMapped; at += 4096)
            p[at] = 0;
        spare.store(p, std::memory_order_release);
        return true;
    }
    return false;
}

void arena_drop_spares() {
    while (void* p = takeSpare())
        munmap(p, kStandardMapped);
}

namespace {

void* arenaAligned(size_t size, size_t align) {
    if (size > SIZE_MAX - kAlign)
        outofmemory();
    size = (size + align - 1) & ~(align - 1);
    if (size > kBlockSize / 4)
        return newBlock(size); // large requests get a block of their own
    // Texts are packed unaligned, so the next object may need padding.
    size_t pad = (align - reinterpret_cast<uintptr_t>(g_arenaNextP) % align) % align;
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

} // namespace

void* arena_alloc(size_t size) { return arenaAligned(size, kAlign); }

void* arena_alloc_pointer_aligned(size_t size) { return arenaAligned(size, alignof(void*)); }

void* arena_alloc_block(size_t* sizeP) {
    *sizeP = kBlockSize;
    void* p = newBlock(kBlockSize);
    ARENA_UNPOISON(p, kBlockSize);
    return p;
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

// One block of the standard size is kept, emptied, for what comes next: a
// harness empties the arena after every input and should not have to map
// fresh memory each time.
void arena_release_all() {
    size_t header = (sizeof(ArenaBlock) + kAlign - 1) & ~(kAlign - 1);
    ArenaBlock* keptP = nullptr;
    while (g_arenaHeadP != nullptr) {
        ArenaBlock* prevP = g_arenaHeadP->prevP;
        if (keptP == nullptr && g_arenaHeadP->payload == kBlockSize) {
            keptP = g_arenaHeadP;
        } else {
            // The sanitizer keeps the marks of unmapped memory: a block
            // mapped at this address later would start out poisoned.
            size_t mapped = g_arenaHeadP->mapped;
            ARENA_UNPOISON(g_arenaHeadP, mapped);
            munmap(g_arenaHeadP, mapped);
        }
        g_arenaHeadP = prevP;
    }
    g_arenaNextP = nullptr;
    g_arenaLeft = 0;
    if (keptP != nullptr) {
        keptP->prevP = nullptr;
        g_arenaHeadP = keptP;
        g_arenaNextP = reinterpret_cast<char*>(keptP) + header;
        g_arenaLeft = kBlockSize;
        ARENA_POISON(g_arenaNextP, g_arenaLeft);
    }
}

void* table_alloc(size_t size) {
    if (size < kHugePage) {
        void* p = calloc(1, size);
        if (p == nullptr)
            outofmemory();
        return p;
    }
    void* p = hugeMap(roundToHuge(size)); // fresh anonymous pages read as zero
    if (p == nullptr)
        outofmemory();
    return p;
}

void table_release(void* p, size_t size, size_t from, size_t to) {
    if (p == nullptr || size < kHugePage)
        return;
    // The table starts at a huge-page boundary (hugeMap).
    from = (from + kHugePage - 1) & ~(kHugePage - 1);
    to &= ~(kHugePage - 1);
    if (from < to)
        madvise(static_cast<char*>(p) + from, to - from, MADV_DONTNEED);
}

void table_free(void* p, size_t size) {
    if (p == nullptr)
        return;
    if (size < kHugePage)
        free(p);
    else
        munmap(p, roundToHuge(size));
}
