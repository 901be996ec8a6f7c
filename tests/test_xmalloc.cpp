// The never-freed arena. Exhaustion and its exit status are seen through the
// program in test_TaInput.cpp.
#include "xmalloc.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>

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

} // namespace
