// Interning and the hash shared by the three caches.
#include "stringcache.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(StringCache, HashMatchesWorkedValues) {
    EXPECT_EQ(stringCacheIndex("abc"), 291u);
    EXPECT_EQ(stringCacheIndex("main"), 592u);
    EXPECT_EQ(stringCacheIndex("contain"), 4440u);
    EXPECT_EQ(stringCacheIndex(""), 0u);
    // High bytes are sign-extended, which sets every higher bit.
    EXPECT_EQ(stringCacheIndex("\xE9"), 16361u);
    EXPECT_EQ(cacheHash("\xE9") & 262143u, 262121u);
}

TEST(StringCache, EqualTextsShareOneCopy) {
    std::string a = "hello";
    const char* p1 = stringCache(a.c_str());
    EXPECT_NE(p1, a.c_str());
    EXPECT_EQ(stringCache("hello"), p1);
    EXPECT_EQ(stringCache("hello world", 5), p1);
    EXPECT_NE(stringCache("hell"), p1);
    const char* e = stringCache("");
    EXPECT_STREQ(e, "");
    EXPECT_EQ(stringCache(""), e);
}

TEST(StringCache, GrowthKeepsEveryInternedAddress) {
    // Far beyond the starting width, so the table doubles several times and
    // node blocks of 2048 are used up many times over.
    std::vector<const char*> first;
    for (int i = 0; i < 100000; ++i)
        first.push_back(stringCache(("t" + std::to_string(i)).c_str()));
    for (int i = 0; i < 100000; ++i) {
        ASSERT_STREQ(first[i], ("t" + std::to_string(i)).c_str());
        ASSERT_EQ(stringCache(("t" + std::to_string(i)).c_str()), first[i]);
    }
}

} // namespace
