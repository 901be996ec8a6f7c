// The allocation wrappers, the never-freed arena and the out-of-memory exit.
#include "util.h"
#include "xmalloc.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>

#if defined(__SANITIZE_ADDRESS__)
#define LOPWORT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LOPWORT_ASAN 1
#endif
#endif

namespace {

[[maybe_unused]] void allocateBeyondLimit() {
    struct rlimit rl;
    rl.rlim_cur = rl.rlim_max = 256u << 20;
    setrlimit(RLIMIT_AS, &rl);
    xmalloc1(1u << 30);
}

TEST(Xmalloc, FreeClearsTheVariableAndToleratesNull) {
    void* p = xmalloc1(16);
    xfree1(&p);
    EXPECT_EQ(p, nullptr);
    xfree1(&p);
    EXPECT_EQ(p, nullptr);
}

TEST(Xmalloc, DupstringCopiesIntoAFreshBuffer) {
    const char* empty = "";
    char* copy = dupstring(empty);
    ASSERT_NE(copy, empty);
    EXPECT_EQ(copy[0], '\0');
    void* p = copy;
    xfree1(&p);
    char* c2 = dupstring("abc");
    EXPECT_STREQ(c2, "abc");
    p = c2;
    xfree1(&p);
}

TEST(Xmalloc, ReallocKeepsContents) {
    char* p = static_cast<char*>(xrealloc1(nullptr, 4));
    memcpy(p, "abc", 4);
    p = static_cast<char*>(xrealloc1(p, 1 << 20));
    EXPECT_STREQ(p, "abc");
    void* v = p;
    xfree1(&v);
}

TEST(Xmalloc, ArenaObjectsStayAlignedAfterPackedTexts) {
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

TEST(XmallocDeathTest, ExhaustionPrintsOutOfMemoryAndExitsWith4) {
#ifdef LOPWORT_ASAN
    GTEST_SKIP() << "address-space limits do not work under AddressSanitizer";
#else
    EXPECT_EXIT(allocateBeyondLimit(), ::testing::ExitedWithCode(4),
                "^Out of memory\nExit code 4\n$");
#endif
}

TEST(XmallocDeathTest, ErrorExitNamesItsStatus) {
    EXPECT_EXIT(error_exit(3), ::testing::ExitedWithCode(3), "^Exit code 3\n$");
}

} // namespace
