// Consolidation against a plain insertion version on random fact sets, the
// reachability search: roots, stops, the address rule, trace and depth, and
// the overriders that virtual calls reach by their mangled names.
#include "cli.h"

#include "EntityClass.h"
#include "EntityInstance.h"
#include "RelationClass.h"
#include "RelationInstance.h"
#include "lopwort.h"
#include "lopwort_analysis.h"
#include "stringcache.h"

#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A fact graph built straight on the object model.
struct Graph {
    CEntityClass* classes = nullptr; // newest first, like the fact base's list
    std::map<std::string, CEntityClass*> byName;
    CRelationClass* contain = new CRelationClass("contain");
    CRelationClass* call = new CRelationClass("call");
    CRelationClass* cvf = new CRelationClass("CVF");
    int next = 0;

    CEntityClass* cls(const std::string& name) {
        auto it = byName.find(name);
        if (it != byName.end())
            return it->second;
        CEntityClass* c = new CEntityClass(stringCache(name.c_str()));
        c->m_nextP = classes;
        classes = c;
        byName[name] = c;
        return c;
    }
    CEntityInstance* add(const std::string& type, const char* label, const char* file = nullptr,
                         int line = NO_LINENO, const char* mangle = nullptr) {
        std::string id = "e" + std::to_string(next++);
        CEntityInstance* e = cls(type)->newEntity(stringCache(id.c_str()));
        if (label)
            e->putAttribute("label", stringCache(label));
        if (file)
            e->putAttribute("file", stringCache(file));
        if (line != NO_LINENO)
            e->m_lineno = line;
        if (mangle)
            e->putAttribute("mangle", stringCache(mangle));
        return e;
    }
    CRelationInstance* rel(CEntityInstance* a, CEntityInstance* b, CRelationClass* c = nullptr) {
        return new CRelationInstance(c ? c : call, a, b);
    }
};

std::vector<CEntityInstance*> ordered() {
    std::vector<CEntityInstance*> v;
    for (CEntityInstance* e = g_headP; e; e = e->m_nextInOrderP)
        v.push_back(e);
    return v;
}

// The list built as the straightforward definition says: each entity placed
// by walking from the head, merged into the first equal one it passes.
void consolidateByInsertion(CEntityClass* classList) {
    g_headP = nullptr;
    for (CEntityClass* c = classList; c; c = c->m_nextP) {
        const char* id = c->getId();
        if (strcmp(id, "GF") && strcmp(id, "LF") && strcmp(id, "VF"))
            continue;
        for (CEntityInstance* e = c->m_entityInstancesP; e; e = e->m_nextInClassP) {
            if (e->m_fullpathP == nullptr || strcmp(e->m_fullpathP, ".") == 0) {
                char* cur = nullptr;
                e->buildPath(&cur, 0);
                char* buf = new char[reinterpret_cast<uintptr_t>(cur) + 1]();
                e->m_fullpathP = buf;
                e->buildPath(&buf, 1);
            }
            CEntityInstance** link = &g_headP;
            bool merged = false;
            while (*link) {
                CEntityInstance* l = *link;
                int cmp = strcmp(e->m_fullpathP, l->m_fullpathP);
                if (cmp < 0 || (cmp == 0 && e->m_lineno < l->m_lineno))
                    break;
                if (cmp == 0 && e->m_lineno == l->m_lineno && same(e, l)) {
                    for (CRelationInstance *r = e->m_srcRelListP, *n; r; r = n) {
                        n = r->m_next_srcP;
                        r->m_srcP = l;
                        r->m_next_srcP = l->m_srcRelListP;
                        l->m_srcRelListP = r;
                    }
                    for (CRelationInstance *r = e->m_dstRelListP, *n; r; r = n) {
                        n = r->m_next_dstP;
                        r->m_dstP = l;
                        r->m_next_dstP = l->m_dstRelListP;
                        l->m_dstRelListP = r;
                    }
                    e->m_srcRelListP = e->m_dstRelListP = nullptr;
                    e->m_visited = 2;
                    merged = true;
                    break;
                }
                link = &l->m_nextInOrderP;
            }
            if (!merged) {
                e->m_nextInOrderP = *link;
                *link = e;
            }
        }
    }
}

// Everything the two methods may differ in, as text.
std::string describe(Graph& g, const std::vector<CEntityInstance*>& all,
                     const std::vector<CRelationInstance*>& rels) {
    std::map<const void*, int> index;
    for (size_t i = 0; i < all.size(); ++i)
        index[all[i]] = static_cast<int>(i);
    for (size_t i = 0; i < rels.size(); ++i)
        index[rels[i]] = static_cast<int>(i);
    (void)g;
    std::string s = "order:";
    for (CEntityInstance* e : ordered())
        s += " " + std::to_string(index[e]);
    for (size_t i = 0; i < all.size(); ++i) {
        CEntityInstance* e = all[i];
        s += "\n" + std::to_string(i) + " v" + std::to_string(e->m_visited) + " path=" +
             (e->m_fullpathP ? e->m_fullpathP : "-") + " out:";
        for (CRelationInstance* r = e->m_srcRelListP; r; r = r->m_next_srcP)
            s += " " + std::to_string(index[r]) + ">" + std::to_string(index[r->m_dstP]);
        s += " in:";
        for (CRelationInstance* r = e->m_dstRelListP; r; r = r->m_next_dstP)
            s += " " + std::to_string(index[r]) + "<" + std::to_string(index[r->m_srcP]);
    }
    return s;
}

std::string randomRun(unsigned seed, bool byInsertion) {
    std::mt19937 rng(seed);
    auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    Graph g;
    const char* types[] = {"GF", "LF", "VF", "FA", "file"};
    const char* files[] = {"a.c", "B.c", "a.c", ".", nullptr, "z/y.c"};
    const char* labels[] = {"f", "g", "f", nullptr, "main"};
    std::vector<CEntityInstance*> all;
    std::vector<CRelationInstance*> rels;
    int n = 5 + pick(60);
    for (int i = 0; i < n; ++i) {
        int line = pick(5) == 0 ? NO_LINENO : pick(4);
        all.push_back(g.add(types[pick(5)], labels[pick(5)], files[pick(6)], line));
    }
    int m = pick(3 * n);
    for (int i = 0; i < m; ++i)
        rels.push_back(g.rel(all[pick(n)], all[pick(n)], pick(4) == 0 ? g.contain : g.call));
    if (byInsertion)
        consolidateByInsertion(g.classes);
    else
        consolidate_classes(g.classes);
    return describe(g, all, rels);
}

TEST(Consolidate, SortingMatchesInsertionOnRandomFactSets) {
    for (unsigned seed = 1; seed <= 400; ++seed)
        ASSERT_EQ(randomRun(seed, false), randomRun(seed, true)) << "seed " << seed;
}

TEST(Consolidate, LargeRunsOfOneLineMatchInsertion) {
    // Many functions sharing a path and having no line.
    std::string described[2];
    for (int pass = 0; pass < 2; ++pass) {
        Graph g;
        std::vector<CEntityInstance*> all;
        std::vector<CRelationInstance*> rels;
        const char* labels[] = {"a", "b", "c", nullptr};
        for (int i = 0; i < 200; ++i)
            all.push_back(g.add(i % 3 ? "GF" : "LF", labels[i % 4], "x.c"));
        for (int i = 0; i < 300; ++i)
            rels.push_back(g.rel(all[(i * 7) % 200], all[(i * 13) % 200]));
        pass ? consolidateByInsertion(g.classes) : consolidate_classes(g.classes);
        EXPECT_EQ(ordered().size(), 8u);
        described[pass] = describe(g, all, rels);
    }
    EXPECT_EQ(described[0], described[1]);
}

TEST(Consolidate, MergeMovesRelationsInFrontInReverse) {
    Graph g;
    CEntityInstance* l = g.add("GF", "f", "a.c", 3);
    CEntityInstance* e = g.add("GF", "f", "a.c", 3);
    CEntityInstance* a = g.add("GF", "a", "a.c", 1);
    CEntityInstance* b = g.add("GF", "b", "a.c", 2);
    // Instance lists run newest first, so b, a, e, l are met in that order and
    // e (met before l) survives.
    CRelationInstance* la = g.rel(l, a);
    CRelationInstance* lb = g.rel(l, b);
    CRelationInstance* ex = g.rel(e, a);
    CRelationInstance* ey = g.rel(e, b);
    CRelationInstance* self = g.rel(l, l);
    consolidate_classes(g.classes);
    EXPECT_EQ(ordered(), (std::vector<CEntityInstance*>{a, b, e}));
    EXPECT_EQ(l->m_visited, 2);
    EXPECT_EQ(l->m_srcRelListP, nullptr);
    std::vector<CRelationInstance*> out;
    for (CRelationInstance* r = e->m_srcRelListP; r; r = r->m_next_srcP)
        out.push_back(r);
    EXPECT_EQ(out, (std::vector<CRelationInstance*>{la, lb, self, ey, ex}));
    EXPECT_EQ(self->m_srcP, e);
    EXPECT_EQ(self->m_dstP, e);
}

TEST(Consolidate, PathsOrderAndBuiltPaths) {
    Graph g;
    CEntityInstance* src = g.add("dir", "src");
    CEntityInstance* ac = g.add("file", "a.c");
    g.rel(src, ac, g.contain);
    CEntityInstance* built = g.add("GF", "f", ".", 5);
    g.rel(ac, built, g.contain);
    CEntityInstance* orphan = g.add("GF", "o", nullptr, 1);
    CEntityInstance* upper = g.add("GF", "u", "B.c", 1);
    CEntityInstance* noLine = g.add("GF", "n", "src/a.c");
    CEntityInstance* other = g.add("LF", "f", "src/a.c", 5);
    consolidate_classes(g.classes);
    EXPECT_STREQ(built->m_fullpathP, "src/a.c");
    EXPECT_STREQ(orphan->m_fullpathP, "");
    EXPECT_EQ(ordered(), (std::vector<CEntityInstance*>{orphan, upper, other, built, noLine}));
}

TEST(DepthSearch, RootsAndWhatTheyReach) {
    Graph g;
    CEntityInstance* mainF = g.add("GF", "main", "m.c", 1);
    CEntityInstance* mainL = g.add("LF", "main", "m.c", 2);
    CEntityInstance* ctor = g.add("LF", "\"global constructors keyed to x.c", "x.c", 1);
    CEntityInstance* stat = g.add("VF", "__static_initialization", "x.c", 2);
    CEntityInstance* a = g.add("GF", "a", "a.c", 1);
    CEntityInstance* b = g.add("GF", "b", "a.c", 2);
    CEntityInstance* viaAddress = g.add("GF", "cb", "a.c", 3);
    CEntityInstance* fa = g.add("FA", "cb");
    CEntityInstance* contained = g.add("GF", "inner", "a.c", 4);
    CEntityInstance* vtable = g.add("TV", "vt", nullptr, NO_LINENO, "_ZTV1A");
    CEntityInstance* slot = g.add("GF", "slot", "a.c", 5);
    CEntityInstance* fromCtor = g.add("GF", "init", "a.c", 6);
    g.rel(mainF, a);
    g.rel(a, b);
    g.rel(b, a); // a cycle
    g.rel(b, fa);
    g.rel(viaAddress, fa, g.contain);
    g.rel(a, contained, g.contain);
    g.rel(b, vtable);
    g.rel(vtable, slot);
    g.rel(ctor, fromCtor);
    consolidate_classes(g.classes);
    // The untraced walk, then the traced one from scratch: the same marks.
    for (int traced = 0; traced < 2; ++traced) {
        for (CEntityInstance* e = g_headP; e; e = e->m_nextInOrderP)
            e->m_visited = 0;
        for (CEntityInstance* e : {fa, vtable, slot})
            e->m_visited = 0;
        g_tree_flag = traced;
        testing::internal::CaptureStderr();
        depth_search();
        testing::internal::GetCapturedStderr();
        g_tree_flag = 0;
        for (CEntityInstance* e : {mainF, a, b, fa, viaAddress, ctor, stat, fromCtor})
            EXPECT_EQ(e->m_visited, 1) << e->getLabel() << (traced ? " traced" : "");
        for (CEntityInstance* e : {mainL, contained, vtable, slot})
            EXPECT_EQ(e->m_visited, 0) << e->getLabel() << (traced ? " traced" : "");
    }
}

TEST(DepthSearch, TraceIsAPreorderIndentedByDepth) {
    Graph g;
    CEntityInstance* m = g.add("GF", "main", "m.c", 1);
    CEntityInstance* a = g.add("GF", "a", "m.c", 2);
    CEntityInstance* b = g.add("GF", "b", nullptr, NO_LINENO);
    CEntityInstance* c = g.add("GF", nullptr, "m.c", 3);
    g.rel(m, c);
    g.rel(m, a); // newest first: a is walked before c
    g.rel(a, b);
    g.rel(b, m);
    consolidate_classes(g.classes);
    g_tree_flag = 1;
    testing::internal::CaptureStderr();
    depth_search();
    std::string err = testing::internal::GetCapturedStderr();
    g_tree_flag = 0;
    char expect[512];
    snprintf(expect, sizeof expect,
             "%p (GF) main 1:m.c\n%p   (GF) a 2:m.c\n%p     (GF) b:\n%p   (GF) (null) 3:m.c\n",
             static_cast<void*>(m), static_cast<void*>(a), static_cast<void*>(b),
             static_cast<void*>(c));
    EXPECT_EQ(err, expect);
}

TEST(DepthSearch, MillionDeepCallChain) {
    Graph g;
    const int n = 1000000;
    CEntityInstance* prev = g.add("GF", "main", "m.c", 0);
    CEntityInstance* first = prev;
    for (int i = 1; i < n; ++i) {
        CEntityInstance* e = g.add("GF", "f", "m.c", i);
        g.rel(prev, e);
        prev = e;
    }
    consolidate_classes(g.classes);
    depth_search();
    EXPECT_EQ(first->m_visited, 1);
    EXPECT_EQ(prev->m_visited, 1);
    // The ordered walk (a trace's, here without one) is as deep as the chain.
    for (CEntityInstance* e = g_headP; e; e = e->m_nextInOrderP)
        e->m_visited = 0;
    CSearch(g.classes, nullptr).visit(first, 0);
    EXPECT_EQ(prev->m_visited, 1);
}

// Generated programs (classes, virtual calls, templates, statics, dead
// trees): the untraced walk, in its own order, must find dead exactly what
// the traced depth-first walk finds.
TEST(DepthSearch, UntracedAndTracedWalksAgreeOnGeneratedPrograms) {
    std::string dir = makeTempDir();
    std::string facts = dir + "/gen.ta";
    struct Shape {
        const char* name;
        const char* seed;
        const char* n;
    } shapes[] = {{"program", "1", "1500"}, {"program", "2", "1500"}, {"program", "3", "1500"},
                  {"hierarchy", "1", "300"}};
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(std::string(shape.name) + " " + shape.seed + " " + shape.n);
        RunResult gen = runProgram(LOPWORT_GEN_FACTS_BIN,
                                   {"--seed", shape.seed, "--shape", shape.name, shape.n, facts});
        ASSERT_EQ(gen.status, 0) << gen.err;
        RunResult plain = runLopwort({"-p", "/proj", facts});
        RunResult traced = runLopwort({"-T", "-p", "/proj", facts});
        ASSERT_EQ(plain.status, 0) << plain.err;
        EXPECT_EQ(traced.status, 0);
        EXPECT_NE(plain.out.find(" functions are dead"), std::string::npos);
        EXPECT_EQ(plain.out, traced.out);
    }
    unlink(facts.c_str());
    rmdir(dir.c_str());
}

// A base class whose virtual function main calls virtually, and one derived
// class whose table holds the functions given, linked as the fact extractor
// links them. The names are written as compilers write them: a base and its
// overrider abbreviate their parameters differently.
struct Override {
    const char* base;
    const char* baseTable;
    const char* derivedTable;
    std::vector<const char*> overriders;
    std::vector<const char*> others; // in the derived table, but no overriders
};

const Override kOverrides[] = {
    // parameters of the namespaced base class, or of the class enclosing it
    {"_ZNK2ns5Shape6equalsERKS0_",
     "_ZTVN2ns5ShapeE",
     "_ZTVN2ns6CircleE",
     {"_ZNK2ns6Circle6equalsERKNS_5ShapeE"},
     {"_ZNK2ns6Circle6equalsERKS0_"}},
    // a class directly in std
    {"_ZNKSt9exception4whatEv", "_ZTVSt9exception", "_ZTV4MyEx", {"_ZNK4MyEx4whatEv"}, {}},
    // classes local to main: the overrider, but not another function of the
    // derived class
    {"_ZZ4mainEN1A2eqERKS_",
     "_ZTVZ4mainE1A",
     "_ZTVZ4mainE1B",
     {"_ZZ4mainEN1B2eqERKZ4mainE1A"},
     {"_ZZ4mainEN1B2neERKZ4mainE1A"}},
    // ref-qualified: each overrides only its own kind
    {"_ZNR2ns5Shape1fEv",
     "_ZTVN2ns5ShapeE",
     "_ZTVN2ns6CircleE",
     {"_ZNR2ns6Circle1fEv"},
     {"_ZNO2ns6Circle1fEv", "_ZN2ns6Circle1fEv"}},
};

TEST(VirtualResolution, OverridersAreReachedHoweverTheirNamesAbbreviate) {
    for (const Override& row : kOverrides) {
        SCOPED_TRACE(row.base);
        Graph g;
        CEntityInstance* mainF = g.add("GF", "main", "m.c", 1);
        CEntityInstance* base = g.add("VF", "base", "s.c", 1, row.base);
        g.rel(mainF, base, g.cvf);
        CEntityInstance* baseAddr = g.add("FA", "base");
        g.rel(base, baseAddr, g.contain);
        CEntityInstance* baseInfo = g.add("TI", "base info");
        CEntityInstance* baseInfoAddr = g.add("VA", "base info");
        g.rel(baseInfo, baseInfoAddr, g.contain);
        CEntityInstance* baseTable = g.add("TV", "base table", nullptr, NO_LINENO, row.baseTable);
        g.rel(baseTable, baseAddr);
        g.rel(baseTable, baseInfoAddr);
        CEntityInstance* derivedInfo = g.add("TI", "derived info");
        CEntityInstance* derivedInfoAddr = g.add("VA", "derived info");
        g.rel(derivedInfo, derivedInfoAddr, g.contain);
        g.rel(derivedInfo, baseInfoAddr);
        CEntityInstance* derivedTable =
            g.add("TV", "derived table", nullptr, NO_LINENO, row.derivedTable);
        g.rel(derivedTable, derivedInfoAddr);
        int line = 2;
        auto slot = [&](const char* mangle) {
            CEntityInstance* f = g.add("VF", mangle, "s.c", line++, mangle);
            CEntityInstance* addr = g.add("FA", mangle);
            g.rel(f, addr, g.contain);
            g.rel(derivedTable, addr);
            return f;
        };
        std::vector<CEntityInstance*> overriders;
        std::vector<CEntityInstance*> others;
        for (const char* mangle : row.overriders)
            overriders.push_back(slot(mangle));
        for (const char* mangle : row.others)
            others.push_back(slot(mangle));
        consolidate_classes(g.classes);
        depth_search();
        EXPECT_EQ(base->m_visited, 1);
        for (CEntityInstance* e : overriders)
            EXPECT_EQ(e->m_visited, 1) << e->getLabel();
        for (CEntityInstance* e : others)
            EXPECT_EQ(e->m_visited, 0) << e->getLabel();
    }
}

} // namespace
