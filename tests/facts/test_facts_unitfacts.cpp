// The record format between a worker and the merge: facts written as
// records and read back give the same records, whatever bytes their fields
// hold, and the pieces the writer hands on join into the whole.
#include "unitfacts.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

static std::string all_records(const CUnitFacts& facts, size_t* piecesP = nullptr) {
    std::string out;
    unit_facts_records(facts, [&](const std::string& piece) {
        EXPECT_FALSE(piece.empty());
        EXPECT_EQ(piece.back(), '\n'); // pieces end between records
        out += piece;
        if (piecesP)
            ++*piecesP;
    });
    return out;
}

static CUnitFacts read_back(const std::string& records) {
    CUnitFacts facts;
    CRecordReader reader(facts);
    size_t at = 0;
    while (at < records.size()) {
        size_t end = records.find('\n', at);
        EXPECT_NE(end, std::string::npos);
        EXPECT_TRUE(reader.read(record_fields(records.substr(at, end - at))));
        at = end + 1;
    }
    return facts;
}

TEST(FactsUnitFacts, RecordsReadBackAsWritten) {
    std::mt19937 rng(3);
    // Fields with the escaped bytes, runs of them, and a backslash at the end.
    auto field = [&] {
        static const char kBytes[] = {'a', 'Z', '\\', '\t', '\n', ' ', ':', '\x7f', '\xc3'};
        std::string s;
        for (unsigned n = rng() % 12; n > 0; --n)
            s += kBytes[rng() % sizeof kBytes];
        return s;
    };
    for (int round = 0; round < 50; ++round) {
        CUnitFacts facts;
        for (int i = rng() % 40; i > 0; --i) {
            CFactEntity e;
            e.m_id = field() + std::to_string(i);
            e.m_class = "GF";
            e.m_label = field();
            e.m_mangle = field();
            e.m_file = field();
            e.m_line = static_cast<int>(rng() % 1000);
            e.m_defined = rng() % 2;
            e.m_inMacroLine = rng() % 2;
            e.m_templateKey = field();
            facts.add_entity(e);
            facts.add_relation(field(), e.m_id, field());
        }
        facts.m_spellings[field()] = field();
        facts.m_warnings.push_back(field());
        facts.m_names.insert(field());
        CUnitFacts back = read_back(all_records(facts));
        ASSERT_EQ(back.m_entities.size(), facts.m_entities.size());
        for (const auto& p : facts.m_entities) {
            const CFactEntity& e = p.second;
            const CFactEntity& b = back.m_entities.at(p.first);
            ASSERT_EQ(std::tie(b.m_id, b.m_label, b.m_mangle, b.m_file, b.m_templateKey),
                      std::tie(e.m_id, e.m_label, e.m_mangle, e.m_file, e.m_templateKey));
            ASSERT_EQ(std::tie(b.m_line, b.m_defined, b.m_inMacroLine),
                      std::tie(e.m_line, e.m_defined, e.m_inMacroLine));
        }
        ASSERT_EQ(back.m_relations.size(), facts.m_relations.size());
        for (size_t i = 0; i < facts.m_relations.size(); ++i) {
            CFactRelationRef r = facts.m_relations[i];
            ASSERT_FALSE(back.m_relations.add(r.m_verb, r.m_src, r.m_dst));
        }
        ASSERT_EQ(back.m_spellings, facts.m_spellings);
        ASSERT_EQ(back.m_warnings, facts.m_warnings);
        ASSERT_EQ(back.m_names, facts.m_names);
    }
}

TEST(FactsUnitFacts, LargeFactsGoOutInPieces) {
    CUnitFacts facts;
    for (int i = 0; i < 20000; ++i)
        facts.add_relation("call", "_ZN5outer5inner8functionEv" + std::to_string(i), "x");
    size_t pieces = 0;
    std::string records = all_records(facts, &pieces);
    EXPECT_GT(pieces, 5u);
    EXPECT_EQ(read_back(records).m_relations.size(), 20000u);
}

TEST(FactsUnitFacts, RelationsMustNameNamesGivenBefore) {
    const char* const refused[] = {
        "R\t0\t0\t0",            // no name given yet
        "n\tcall\nR\t0\t0\t1",   // one name given
        "n\tcall\nR\t0\t-0\t0",  // not plain digits
        "n\tcall\nR\t0\t0x0\t0",
        "n\tcall\nR\t0\t\t0",
        "n\tcall\nR\t0\t00000000000\t0", // longer than any number of names
        "n\tcall\nR\t0\t4294967296\t0",
        "n\tcall\nR\t0\t0",      // a field missing
        "n\tcall\tx",            // a field too many
    };
    for (const char* text : refused) {
        CUnitFacts facts;
        CRecordReader reader(facts);
        std::string records = text;
        bool all = true;
        size_t at = 0;
        while (at <= records.size()) {
            size_t end = std::min(records.find('\n', at), records.size());
            all = all && reader.read(record_fields(records.substr(at, end - at)));
            at = end + 1;
        }
        EXPECT_FALSE(all) << text;
    }
    CUnitFacts facts;
    CRecordReader reader(facts);
    for (const char* line : {"n\tcall", "n\tf", "n\tg", "R\t0\t1\t2", "R\t0\t2\t1", "R\t0\t1\t2"})
        ASSERT_TRUE(reader.read(record_fields(line))) << line;
    ASSERT_EQ(facts.m_relations.size(), 2u);
    EXPECT_EQ(facts.m_relations[1].m_src, "g");
}
