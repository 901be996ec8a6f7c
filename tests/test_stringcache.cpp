// Interning and the hash shared by the three caches.
#include "stringcache.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

TEST(StringCache, ShortIdsSpreadOverTheTable) {
    // Ids that differ only in a few digits must not crowd into few chains,
    // or loading a million of them takes minutes.
    std::set<uint32_t> chains;
    for (int i = 0; i < 16384; ++i)
        chains.insert(cacheHash(("fn" + std::to_string(i)).c_str()) & 16383u);
    EXPECT_GT(chains.size(), 9000u);
    EXPECT_EQ(cacheHash("abc"), cacheHash("abcdef", 3));
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
    // A reservation made after texts are in (a file opened after the class
    // names were interned) moves them, and what was filed beside them.
    *stringCacheUserSlot(first[7], true) = reinterpret_cast<void*>(0x70);
    stringCacheReserve(3000000);
    EXPECT_EQ(*stringCacheUserSlot(first[7], false), reinterpret_cast<void*>(0x70));
    for (int i = 0; i < 100000; ++i)
        ASSERT_EQ(stringCache(("t" + std::to_string(i)).c_str()), first[i]);
}

} // namespace
