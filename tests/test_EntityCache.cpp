// Finding entities by id, including duplicates and growth of the table.
#include "EntityCache.h"
#include "EntityClass.h"
#include "EntityInstance.h"
#include "stringcache.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(EntityCache, PutGetRemove) {
    CEntityCache cache;
    CEntityClass* c = new CEntityClass("GF");
    CEntityInstance* a = c->newEntity(stringCache("a"));
    EXPECT_EQ(cache.get("a"), nullptr);
    cache.put(a);
    cache.put(a);
    EXPECT_EQ(CEntityCache::m_count, 1);
    EXPECT_EQ(cache.get("a"), a);

    // A second instance with the same id is entered and found first.
    CEntityInstance* a2 = c->newEntity(stringCache("a"));
    cache.put(a2);
    EXPECT_EQ(CEntityCache::m_count, 2);
    EXPECT_EQ(cache.get("a"), a2);
    cache.remove(a2);
    EXPECT_EQ(cache.get("a"), a);
    EXPECT_EQ(CEntityCache::m_count, 1);
}

TEST(EntityCache, RemovingAStrangerIsReported) {
    CEntityCache cache;
    CEntityClass* c = new CEntityClass("GF");
    CEntityInstance* x = c->newEntity(stringCache("x"));
    testing::internal::CaptureStderr();
    cache.remove(x);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "EntityCache: can't remove x\n");
    EXPECT_EQ(CEntityCache::m_count, 0);
}

TEST(EntityCache, GrowthKeepsNewestFirstAmongDuplicates) {
    CEntityCache cache;
    CEntityClass* c = new CEntityClass("GF");
    std::vector<CEntityInstance*> older, newer;
    const int n = 300000; // beyond the starting width, so the table doubles
    for (int i = 0; i < n; ++i) {
        CEntityInstance* e = c->newEntity(stringCache(("e" + std::to_string(i)).c_str()));
        cache.put(e);
        older.push_back(e);
    }
    for (int i = 0; i < n; i += 1000) {
        CEntityInstance* e = c->newEntity(stringCache(("e" + std::to_string(i)).c_str()));
        cache.put(e);
        newer.push_back(e);
    }
    for (int i = 0; i < 300000; ++i) {
        CEntityInstance* want = (i % 1000 == 0) ? newer[i / 1000] : older[i];
        ASSERT_EQ(cache.get(("e" + std::to_string(i)).c_str()), want);
    }
}

} // namespace
