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

} // namespace
