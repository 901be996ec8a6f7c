// The relation set against the plain set of string triples it replaces:
// the same relations, each once, first-met order kept, and its sorted order
// the set's order, over generated inputs with many repeated names.
#include "relations.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <tuple>
#include <unordered_map>

using CTriple = std::tuple<std::string, std::string, std::string>;

static CTriple triple_of(const CFactRelationRef& r) {
    return {std::string(r.m_verb), std::string(r.m_src), std::string(r.m_dst)};
}

TEST(FactsRelations, AgreesWithASetOfStringTriples) {
    std::mt19937 rng(7);
    const char* verbs[] = {"call", "ref", "contain"};
    for (int round = 0; round < 20; ++round) {
        int names = 1 + static_cast<int>(rng() % 300);
        int adds = static_cast<int>(rng() % 5000);
        auto name = [&] {
            // Long shared prefixes, as mangled names have, and a short one.
            unsigned n = rng() % names;
            return n % 7 == 0 ? std::to_string(n) : "_ZN9namespace5ClassIiE6method" + std::to_string(n);
        };
        CRelationSet set;
        std::set<CTriple> plain;
        std::vector<CTriple> firstMet;
        for (int i = 0; i < adds; ++i) {
            CTriple t{verbs[rng() % 3], name(), name()};
            bool added = set.add(std::get<0>(t), std::get<1>(t), std::get<2>(t));
            ASSERT_EQ(added, plain.insert(t).second);
            if (added)
                firstMet.push_back(t);
        }
        ASSERT_EQ(set.size(), plain.size());
        for (size_t i = 0; i < set.size(); ++i)
            ASSERT_EQ(triple_of(set[i]), firstMet[i]);
        std::vector<CTriple> sorted;
        for (uint32_t i : set.sorted())
            sorted.push_back(triple_of(set[i]));
        ASSERT_EQ(sorted, std::vector<CTriple>(plain.begin(), plain.end()));

        // Dropping some keeps the order of the rest, and finds them again.
        CRelationSet moved = std::move(set);
        moved.keep_if([](const CFactRelationRef& r) { return r.m_src.size() % 2 == 0; });
        std::vector<CTriple> kept;
        for (const CTriple& t : firstMet)
            if (std::get<1>(t).size() % 2 == 0)
                kept.push_back(t);
        ASSERT_EQ(moved.size(), kept.size());
        for (size_t i = 0; i < kept.size(); ++i) {
            ASSERT_EQ(triple_of(moved[i]), kept[i]);
            ASSERT_FALSE(moved.add(std::get<0>(kept[i]), std::get<1>(kept[i]), std::get<2>(kept[i])));
        }
    }
}

// The pool against a map of strings: the same numbers, texts that stay put
// while it grows, the empty text, and texts longer than its blocks.
TEST(FactsStringPool, AgreesWithAMapOfStrings) {
    std::mt19937 rng(11);
    CStringPool pool;
    std::unordered_map<std::string, uint32_t> plain;
    std::vector<std::string_view> views;
    for (int i = 0; i < 60000; ++i) {
        size_t length = rng() % 50 == 0 ? 70000 + rng() % 300000 : rng() % 40;
        std::string text(length, static_cast<char>('a' + rng() % 3));
        if (length > 0)
            text[0] = static_cast<char>('a' + rng() % 26);
        uint32_t expected = static_cast<uint32_t>(plain.size());
        auto added = plain.emplace(text, expected);
        uint32_t id = pool.intern(text);
        ASSERT_EQ(id, added.first->second);
        if (added.second)
            views.push_back(pool.view(id));
    }
    ASSERT_EQ(pool.size(), plain.size());
    for (const auto& p : plain) {
        ASSERT_EQ(views[p.second], p.first); // the first view still holds
        uint32_t found = 0;
        ASSERT_TRUE(pool.find(p.first, found));
        ASSERT_EQ(found, p.second);
    }
    uint32_t found = 0;
    EXPECT_FALSE(pool.find("not interned", found));
}
