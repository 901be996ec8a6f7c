// Allocation wrappers that never hand back null: running out of memory ends
// the process with one fixed message and status, so no caller has to check.
// Also a bump arena for the fact base, whose objects and texts live until exit.
#ifndef LOPWORT_XMALLOC_H
#define LOPWORT_XMALLOC_H

#include "util.h"

#include <cstddef>

// Whether AddressSanitizer is built in (GCC and clang say so differently):
// the arena then poisons what it gives back, and checks that need real
// address-space limits, which the sanitizer's own mappings defeat, know to
// stand aside.
#if defined(__SANITIZE_ADDRESS__)
#define LOPWORT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LOPWORT_ASAN 1
#endif
#endif

void* xmalloc1(unsigned int size);
void* xrealloc1(void* oldP, unsigned int size);
void xfree1(void** oldPP);
char* dupstring(const char* stringP);

// Memory that is never given back. Suitably aligned for any object; ends the
// process through outofmemory() when the system refuses.
void* arena_alloc(size_t size);

// The same for objects made only of pointers and integers, such as those of
// the fact base: aligned for a pointer, which packs a million relations in
// an eighth less room than aligning each for anything.
void* arena_alloc_pointer_aligned(size_t size);

// A whole standard block of the arena, for a store that packs its own
// objects (the string cache keeps its texts so); *sizeP receives its size,
// a little under 8 MiB.
void* arena_alloc_block(size_t* sizeP);

// Interns a copy of n bytes plus a terminating NUL in the arena.
char* arena_strdup(const char* stringP, size_t n);

// Called by a thread other than the arena's, when it would otherwise wait:
// maps and touches one standard block that the arena takes before it maps a
// fresh one, so that the arena's thread does not wait for the first touch
// of fresh memory. Keeps at most `most` blocks ready (and never more than
// a few); false when they are all ready (or the system refuses the memory),
// true when it made one.
bool arena_prepare_spare(size_t most);
// Gives back the prepared blocks the arena has not taken; only when no
// thread prepares any more.
void arena_drop_spares();

// Zeroed memory for a large hash table, in huge pages where the system gives
// them; table_free takes the same size back.
void* table_alloc(size_t size);
void table_free(void* p, size_t size);
// Gives back the memory of bytes [from, to) of a table of that size from
// table_alloc, as far as it covers whole huge pages; they read as zero if
// touched again. Nothing for a small table.
void table_release(void* p, size_t size, size_t from, size_t to);

// Moves the entries of an open-addressed table (linear probing, homes by
// the low bits of a slot's `hash`, 0 in an empty slot) into a fresh table
// of newWidth slots, a larger power of two, and frees the old one. The old
// table is read in order and given back a few huge pages at a time behind
// the reading, while the new one fills in the same order from two fronts
// (an entry's new home is its old one, or that plus the old width): the two
// tables are never both whole in memory, so a table that grows while a
// large file loads needs no more room than it takes afterwards.
template <class Slot> Slot* table_rehash(Slot* oldP, unsigned oldWidth, unsigned newWidth) {
    Slot* newP = static_cast<Slot*>(table_alloc(sizeof(Slot) * static_cast<size_t>(newWidth)));
    const size_t oldSize = sizeof(Slot) * static_cast<size_t>(oldWidth);
    const unsigned step = 1u << 18; // slots read between releases
    for (unsigned from = 0; from < oldWidth; from += step) {
        unsigned to = oldWidth - from > step ? from + step : oldWidth;
        for (unsigned i = from; i < to; ++i) {
            const Slot& s = oldP[i];
            if (s.hash == 0)
                continue;
            unsigned j = s.hash & (newWidth - 1);
            while (newP[j].hash != 0)
                j = (j + 1) & (newWidth - 1);
            newP[j] = s;
        }
        table_release(oldP, oldSize, sizeof(Slot) * static_cast<size_t>(from),
                      sizeof(Slot) * static_cast<size_t>(to));
    }
    table_free(oldP, oldSize);
    return newP;
}

// An allocator for the large working vectors of the analysis (millions of
// entries, grown by doubling): their memory comes from table_alloc, so that
// it arrives in huge pages rather than one small-page fault per 4 KiB.
template <class T> struct TableAllocator {
    typedef T value_type;
    TableAllocator() = default;
    template <class U> TableAllocator(const TableAllocator<U>&) {}
    T* allocate(size_t n) {
        if (n > static_cast<size_t>(-1) / sizeof(T))
            outofmemory();
        return static_cast<T*>(table_alloc(n * sizeof(T)));
    }
    void deallocate(T* p, size_t n) { table_free(p, n * sizeof(T)); }
    template <class U> bool operator==(const TableAllocator<U>&) const { return true; }
    template <class U> bool operator!=(const TableAllocator<U>&) const { return false; }
};

// Gives every block of the arena back. Whatever lives there (fact objects,
// interned texts, the cache tables) must have been forgotten first; only a
// harness that loads many fact bases in one process has a use for it.
void arena_release_all();

#endif
