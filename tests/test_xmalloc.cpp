// The never-freed arena. Exhaustion and its exit status are seen through the
// program in test_TaInput.cpp.
#include "xmalloc.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

TEST(Arena, ObjectsStayAlignedAfterPackedTexts) {
    for (int i = 0; i < 5000; ++i) {
        char* s = arena_strdup("abcdefgh", static_cast<size_t>(i % 7));
        EXPECT_EQ(strlen(s), static_cast<size_t>(i % 7));
        void* o = arena_alloc(24);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(o) % alignof(std::max_align_t), 0u);
    }
    // Requests larger than a block are served whole.
    char* big = static_cast<char*>(arena_alloc(5 << 20));
    big[(5 << 20) - 1] = 'x';
}

// Another thread prepares blocks while this one fills the arena: every
// object must still be its own (no block handed out twice, none lost half
// filled), and the spares left over are given back.
TEST(Arena, BlocksPreparedByAnotherThreadAreEachTakenOnce) {
    std::atomic<bool> done{false};
    std::thread preparer([&] {
        while (!done.load())
            if (!arena_prepare_spare(3))
                std::this_thread::yield();
    });
    std::vector<uint64_t*> objects;
    for (uint64_t i = 0; i < 1000000; ++i) {
        auto* p = static_cast<uint64_t*>(arena_alloc_pointer_aligned(64));
        p[0] = i;
        p[7] = ~i;
        objects.push_back(p);
    }
    done.store(true);
    preparer.join();
    for (uint64_t i = 0; i < objects.size(); ++i) {
        ASSERT_EQ(objects[i][0], i);
        ASSERT_EQ(objects[i][7], ~i);
    }
    arena_drop_spares();
    // Without spares the arena maps its own blocks again.
    auto* p = static_cast<char*>(arena_alloc(8u << 20 >> 2));
    p[0] = 'x';
}

// A table grown by table_rehash, which gives the old table back piece by
// piece as it reads it, against the same entries looked up by probing: every
// entry is found in the grown table, once, including those whose chain ran
// past the end of the old one and wrapped round to its start.
TEST(Tables, RehashKeepsEveryEntryFindable) {
    struct Slot {
        uint32_t hash;
        uint32_t value;
    };
    const unsigned width = 1u << 19; // 4 MiB: whole huge pages are given back
    Slot* tableP = static_cast<Slot*>(table_alloc(sizeof(Slot) * width));
    uint32_t x = 12345;
    std::vector<Slot> entries;
    for (unsigned n = 0; n < width / 4 * 3; ++n) {
        x = x * 1664525u + 1013904223u;
        // A tenth land on the table's last few homes, so that chains wrap.
        uint32_t hash = n % 10 == 0 ? (x | (width - 8)) : x;
        if (hash == 0)
            hash = 1;
        unsigned i = hash & (width - 1);
        while (tableP[i].hash != 0)
            i = (i + 1) & (width - 1);
        tableP[i] = {hash, n};
        entries.push_back(tableP[i]);
    }
    const unsigned grown = width * 2;
    tableP = table_rehash(tableP, width, grown);
    unsigned filled = 0;
    for (unsigned i = 0; i < grown; ++i)
        filled += tableP[i].hash != 0;
    EXPECT_EQ(filled, entries.size());
    for (const Slot& e : entries) {
        unsigned i = e.hash & (grown - 1);
        while (tableP[i].hash != 0 && tableP[i].value != e.value)
            i = (i + 1) & (grown - 1);
        ASSERT_EQ(tableP[i].hash, e.hash) << e.value;
    }
    table_free(tableP, sizeof(Slot) * grown);
}

} // namespace
