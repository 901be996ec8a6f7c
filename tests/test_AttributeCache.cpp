// Shared attribute pairs and attribute lists.
#include "Attribute.h"
#include "AttributeCache.h"
#include "stringcache.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(AttributeCache, OnePairOneAttribute) {
    const char* id = stringCache("label");
    CAttribute* a = attributeCache(id, stringCache("f"));
    EXPECT_EQ(attributeCache(id, stringCache("f")), a);
    EXPECT_NE(attributeCache(id, stringCache("g")), a);
    // A null value and an empty value are different pairs.
    CAttribute* none = attributeCache(id, nullptr);
    CAttribute* empty = attributeCache(id, stringCache(""));
    EXPECT_NE(none, empty);
    EXPECT_EQ(none->m_aviP, nullptr);
    EXPECT_EQ(attributeCache(id, nullptr), none);
    EXPECT_EQ(attributeCache(id, stringCache("")), empty);
}

TEST(AttributeCache, GrowthKeepsPairsShared) {
    const char* id = stringCache("mangle");
    std::vector<CAttribute*> made;
    for (int i = 0; i < 60000; ++i)
        made.push_back(attributeCache(id, stringCache(("_Z" + std::to_string(i)).c_str())));
    for (int i = 0; i < 60000; ++i)
        ASSERT_EQ(attributeCache(id, stringCache(("_Z" + std::to_string(i)).c_str())), made[i]);
    attributeCacheReserve(2000000); // after pairs are in: they move with the table
    for (int i = 0; i < 60000; ++i)
        ASSERT_EQ(attributeCache(id, stringCache(("_Z" + std::to_string(i)).c_str())), made[i]);
}

TEST(AttributeCache, ListEntriesAreDistinctAcrossBlocks) {
    std::vector<attributeListT*> entries;
    for (int i = 0; i < 5000; ++i)
        entries.push_back(getAttributeListEntry());
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(std::adjacent_find(entries.begin(), entries.end()), entries.end());
}

} // namespace
