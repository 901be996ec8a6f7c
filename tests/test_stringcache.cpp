// Interning and the hash shared by the three caches.
#include "stringcache.h"

#include <cstring>
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

// Texts are kept in blocks of a little under 8 MiB and named by a block and
// an offset, long ones each on their own: many blocks' worth of texts, long
// ones among them, must all read back whole, be found again at the same
// address, and keep what the entity cache files beside them.
TEST(StringCache, TextsAcrossManyBlocksReadBackWhole) {
    std::vector<std::string> texts;
    for (int i = 0; i < 400000; ++i) {
        std::string t = "block/" + std::to_string(i) + std::string(i % 61, 'x');
        if (i % 50000 == 7)
            t += std::string(70000 + i % 3, 'L'); // longer than a block shares
        texts.push_back(t);
    }
    texts.push_back(std::string(64 * 1024 - 1, 'm')); // the longest that shares
    texts.push_back(std::string(9 << 20, 'h'));       // longer than a block
    std::vector<const char*> interned;
    for (const std::string& t : texts)
        interned.push_back(stringCache(t.c_str(), static_cast<unsigned>(t.size())));
    for (size_t i = 0; i < texts.size(); i += 997)
        *stringCacheUserSlot(interned[i], true) = reinterpret_cast<void*>(i * 8 + 8);
    for (size_t i = 0; i < texts.size(); ++i) {
        ASSERT_EQ(strlen(interned[i]), texts[i].size()) << i;
        ASSERT_EQ(memcmp(interned[i], texts[i].data(), texts[i].size()), 0) << i;
        ASSERT_EQ(stringCache(texts[i].c_str()), interned[i]) << i;
        if (i % 997 == 0) {
            ASSERT_EQ(*stringCacheUserSlot(interned[i], false), reinterpret_cast<void*>(i * 8 + 8));
        }
    }
    // A prefix of an interned text, and a text that continues one, are texts
    // of their own.
    const char* prefixP = stringCache(texts[5].c_str(), static_cast<unsigned>(texts[5].size() - 1));
    EXPECT_NE(prefixP, interned[5]);
    EXPECT_EQ(strlen(prefixP), texts[5].size() - 1);
    EXPECT_NE(stringCache((texts[5] + "x").c_str()), interned[5]);
}

} // namespace
