// Consolidation against a plain insertion version on random fact sets, the
// reachability search: roots, stops, the address rule, trace and depth, and
// the overriders that virtual calls reach by their mangled names.
#include "cli.h"

#include "EntityClass.h"
#include "EntityInstance.h"
#include "RelationClass.h"
#include "RelationInstance.h"
#include "TaInput.h"
#include "lopwort.h"
#include "lopwort_analysis.h"
#include "signature.h"
#include "stringcache.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
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


// Random programs of a few classes, shaped to meet every path of virtual-call
// resolution: hierarchies several levels deep, diamonds and the odd cycle;
// const and non-const overloads (one function name); functions inherited
// into several tables; duplicates with one mangled name; duplicates that
// consolidation merges, each with its own address in another class's table;
// and missing links everywhere (no table, no type information, no address).
// Relations are made in a shuffled order, since list order steers the walks.
struct RandomProgram {
    Graph g;
    std::vector<CEntityInstance*> all;

    explicit RandomProgram(unsigned seed) {
        std::mt19937 rng(seed);
        auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
        auto oneIn = [&pick](int n) { return pick(n) == 0; };
        std::vector<std::tuple<CEntityInstance*, CEntityInstance*, CRelationClass*>> rels;
        auto rel = [&rels, this](CEntityInstance* a, CEntityInstance* b, CRelationClass* c) {
            if (a && b)
                rels.emplace_back(a, b, c ? c : g.call);
        };
        auto add = [this](const char* type, const std::string& label, const char* file, int line,
                          const std::string& mangle) {
            CEntityInstance* e = g.add(type, label.c_str(), file, line,
                                       mangle.empty() ? nullptr : mangle.c_str());
            all.push_back(e);
            return e;
        };

        struct Class {
            std::string name;
            CEntityInstance *tv = nullptr, *ti = nullptr, *va = nullptr;
            std::vector<CEntityInstance*> slots;  // addresses in its table
            std::map<std::string, CEntityInstance*> defines; // variant -> address
        };
        const int nClasses = 2 + pick(6);
        const bool chain = oneIn(3); // each class derives from the one before
        std::vector<Class> classes(nClasses);
        std::vector<CEntityInstance*> functions, addresses, vfs;
        const char* variants[] = {"1fEv", "K1fEv", "1gEv", "1fEi"}; // f, f const, g, f(int)
        int line = 1;
        for (int i = 0; i < nClasses; ++i) {
            Class& c = classes[i];
            c.name = std::string(1, static_cast<char>('A' + i));
            std::string m = "1" + c.name;
            if (!oneIn(16))
                c.tv = add("TV", "vt" + c.name, nullptr, NO_LINENO, "_ZTV" + m);
            if (!oneIn(16))
                c.ti = add("TI", "ti" + c.name, nullptr, NO_LINENO, "_ZTI" + m);
            if (c.ti && !oneIn(16)) {
                c.va = add("VA", "va" + c.name, nullptr, NO_LINENO, "");
                rel(c.ti, c.va, g.contain);
            }
            if (c.tv && c.va && !oneIn(16))
                rel(c.tv, c.va, nullptr);
            int bases = chain ? (i > 0) : pick(3);
            for (int k = 0; k < bases && i > 0; ++k) {
                int b = chain ? i - 1 : pick(i);
                if (oneIn(15))
                    b = pick(nClasses); // possibly itself or a later class: a cycle
                if (c.ti && b < i && classes[b].va)
                    rel(c.ti, classes[b].va, nullptr);
                else if (c.ti && b >= i)
                    rels.emplace_back(c.ti, nullptr, nullptr); // resolved below
                if (b < i) {
                    for (auto& inherited : classes[b].defines)
                        c.defines.insert(inherited); // overridden below if defined again
                }
            }
            for (const char* v : variants) {
                if (!oneIn(2))
                    continue;
                std::string label = c.name + "::" + v;
                std::string mangle = std::string("_ZN") + (v[0] == 'K' ? "K1" : "1") + c.name +
                                     (v[0] == 'K' ? v + 1 : v);
                if (oneIn(12))
                    mangle = oneIn(2) ? "_ZN1" + c.name : ""; // unparsable or none
                if (oneIn(20))
                    mangle = "_ZThn8_N1" + c.name + "1fEv"; // a thunk: never marked
                if (oneIn(8))
                    label = "__static_init"; // a root
                CEntityInstance* f = add("VF", label, "x.cc", line, mangle);
                functions.push_back(f);
                vfs.push_back(f);
                CEntityInstance* fa = nullptr;
                if (!oneIn(8)) {
                    fa = add("FA", label, nullptr, NO_LINENO, "");
                    rel(f, fa, g.contain);
                    addresses.push_back(fa);
                    c.defines[v] = fa;
                }
                if (oneIn(8)) {
                    // Another entity with the same mangled name, not merged.
                    CEntityInstance* twin = add("VF", label, "x.cc", line + 1000, mangle);
                    CEntityInstance* twinFa = add("FA", label, nullptr, NO_LINENO, "");
                    rel(twin, twinFa, g.contain);
                    c.slots.push_back(twinFa);
                    functions.push_back(twin);
                    vfs.push_back(twin);
                }
                if (oneIn(8) && i > 0) {
                    // A duplicate consolidation merges: same label, file and
                    // line, another class's instance of the function.
                    Class& other = classes[pick(i)];
                    std::string otherMangle = "_ZN1" + other.name + "1fEv";
                    CEntityInstance* dup = add("VF", label, "x.cc", line, otherMangle);
                    CEntityInstance* dupFa = add("FA", label, nullptr, NO_LINENO, "");
                    rel(dup, dupFa, g.contain);
                    other.slots.push_back(dupFa);
                    if (oneIn(2))
                        rel(g.add("GF", "caller", "y.cc", line), dup, g.cvf);
                }
                ++line;
            }
            for (auto& d : c.defines)
                c.slots.push_back(d.second);
            if (oneIn(4) && !addresses.empty())
                c.slots.push_back(addresses[pick(static_cast<int>(addresses.size()))]);
        }
        for (Class& c : classes) {
            for (CEntityInstance* fa : c.slots)
                rel(c.tv, fa, nullptr);
        }
        // Cycles asked for above: derive from a class made later.
        for (auto& r : rels) {
            if (std::get<1>(r) == nullptr)
                std::get<1>(r) = classes[pick(nClasses)].va;
        }
        CEntityInstance* mainF = oneIn(5) ? nullptr : add("GF", "main", "m.cc", 1, "");
        if (mainF)
            functions.push_back(mainF);
        for (int i = pick(4); i > 0; --i)
            functions.push_back(add(oneIn(2) ? "GF" : "LF", "h" + std::to_string(i), "h.cc", i, ""));
        std::vector<CEntityInstance*> targets = functions;
        targets.insert(targets.end(), addresses.begin(), addresses.end());
        for (Class& c : classes)
            targets.push_back(c.tv);
        int uses = pick(2 * static_cast<int>(functions.size()) + 1);
        for (int i = 0; i < uses; ++i)
            rel(functions[pick(static_cast<int>(functions.size()))],
                targets[pick(static_cast<int>(targets.size()))], nullptr);
        for (CEntityInstance* f : vfs) {
            if (oneIn(2))
                rel(mainF && oneIn(2) ? mainF : functions[pick(static_cast<int>(functions.size()))],
                    f, g.cvf);
        }
        std::shuffle(rels.begin(), rels.end(), rng);
        for (auto& r : rels) {
            if (std::get<0>(r) && std::get<1>(r))
                g.rel(std::get<0>(r), std::get<1>(r), std::get<2>(r));
        }
    }
};

bool hasType(CEntityInstance* e, const char* type) { return strcmp(e->getType(), type) == 0; }

bool isContainRel(CRelationInstance* r) {
    return strcmp(r->getRelationClass()->getId(), "contain") == 0;
}

CEntityInstance* firstContained(CEntityInstance* e, const char* type) {
    for (CRelationInstance* r = e->m_srcRelListP; r; r = r->m_next_srcP)
        if (isContainRel(r) && hasType(r->m_dstP, type))
            return r->m_dstP;
    return nullptr;
}

// The rules of the search written out plainly, with no regard to order and
// no shortcut; the marks they define, and the order a recursive depth-first
// walk takes through them.
struct Reference {
    CEntityClass* classes;
    Csignature parser;
    explicit Reference(CEntityClass* classList) : classes(classList) {}

    struct Names {
        bool parsed = false;
        std::string cls, fn; // empty when the name has no such part
    };
    Names names(CEntityInstance* e) {
        Names n;
        const char* m = e->getAttribute("mangle");
        if (m && parser.signature(m)) {
            n.parsed = true;
            if (const char* c = parser.get_classname())
                n.cls = c;
            if (const char* f = parser.get_function_name())
                n.fn = f;
        }
        return n;
    }
    static bool special(CEntityInstance* e) {
        const char* m = e->getAttribute("mangle");
        return m && strncmp(m, "_ZT", 3) == 0;
    }
    static bool isRoot(CEntityInstance* e) {
        const char* l = e->getLabel();
        if (!l)
            return false;
        if (*l == '"')
            ++l;
        return !strncmp(l, "global ", 7) || !strncmp(l, "__static_", 9) ||
               ((!strcmp(l, "main") || !strcmp(l, "wmain")) && hasType(e, "GF"));
    }
    static CEntityInstance* tableOf(CEntityInstance* va) {
        for (CRelationInstance* r = va->m_dstRelListP; r; r = r->m_next_dstP)
            if (hasType(r->m_srcP, "TV"))
                return r->m_srcP;
        return nullptr;
    }

    // The type-information addresses a resolution of f starts from, in
    // order; empty when f resolves nothing.
    std::vector<CEntityInstance*> starts(CEntityInstance* f, std::string* fn) {
        std::vector<CEntityInstance*> out;
        if (!hasType(f, "VF"))
            return out;
        bool called = false;
        for (CRelationInstance* r = f->m_dstRelListP; r; r = r->m_next_dstP)
            called |= strcmp(r->getRelationClass()->getId(), "CVF") == 0;
        Names n = names(f);
        if (!called || !n.parsed || n.fn.empty())
            return out;
        *fn = n.fn;
        std::vector<CEntityInstance*> tables;
        CEntityInstance* fa1 = firstContained(f, "FA");
        for (CRelationInstance* r = fa1 ? fa1->m_dstRelListP : nullptr; r; r = r->m_next_dstP) {
            if (hasType(r->m_srcP, "TV") && !n.cls.empty() && names(r->m_srcP).cls == n.cls) {
                tables.push_back(r->m_srcP);
                break;
            }
        }
        for (CEntityClass* c = classes; c && tables.empty() && !n.cls.empty(); c = c->m_nextP)
            for (CEntityInstance* e = c->m_entityInstancesP; e && tables.empty(); e = e->m_nextInClassP)
                if (hasType(e, "TV") && names(e).cls == n.cls)
                    tables.push_back(e);
        for (CRelationInstance* r = f->m_srcRelListP; r; r = r->m_next_srcP)
            if (isContainRel(r) && hasType(r->m_dstP, "FA"))
                for (CRelationInstance* in = r->m_dstP->m_dstRelListP; in; in = in->m_next_dstP)
                    if (hasType(in->m_srcP, "TV"))
                        tables.push_back(in->m_srcP);
        for (CEntityInstance* t : tables) {
            for (CRelationInstance* r = t->m_srcRelListP; r; r = r->m_next_srcP) {
                CEntityInstance* p = hasType(r->m_dstP, "VA") ? r->m_dstP->getParent() : nullptr;
                if (p && hasType(p, "TI")) {
                    if (std::find(out.begin(), out.end(), r->m_dstP) == out.end())
                        out.push_back(r->m_dstP);
                    break;
                }
            }
        }
        return out;
    }
    // The classes derived directly from the class of a type-information address.
    static std::vector<CEntityInstance*> derived(CEntityInstance* va) {
        std::vector<CEntityInstance*> out;
        for (CRelationInstance* r = va->m_dstRelListP; r; r = r->m_next_dstP)
            if (hasType(r->m_srcP, "TI") && r->m_srcP != va->getParent())
                out.push_back(r->m_srcP);
        return out;
    }
    // The same-named virtual functions in a class's table, in slot order.
    std::vector<CEntityInstance*> sameNamed(CEntityInstance* ti, const std::string& fn) {
        std::vector<CEntityInstance*> out;
        CEntityInstance* va = firstContained(ti, "VA");
        CEntityInstance* table = va ? tableOf(va) : nullptr;
        for (CRelationInstance* r = table ? table->m_srcRelListP : nullptr; r; r = r->m_next_srcP) {
            CEntityInstance* p = hasType(r->m_dstP, "FA") ? r->m_dstP->getParent() : nullptr;
            if (p && hasType(p, "VF") && names(p).fn == fn)
                out.push_back(p);
        }
        return out;
    }

    int resolved = 0; // entities the resolution rule added

    // What the rules give an entity: its owner if it is an address, its
    // uses, and (counted in resolvedFrom) the same-named virtual functions
    // of every class one or more derivations below a start class.
    std::vector<CEntityInstance*> successors(CEntityInstance* e, size_t* resolvedFrom) {
        std::vector<CEntityInstance*> out;
        if (hasType(e, "FA") || hasType(e, "VA"))
            out.push_back(e->getParent());
        for (CRelationInstance* r = e->m_srcRelListP; r; r = r->m_next_srcP)
            if (!isContainRel(r))
                out.push_back(r->m_dstP);
        *resolvedFrom = out.size();
        std::string fn;
        std::vector<CEntityInstance*> down = starts(e, &fn);
        std::set<CEntityInstance*> below;
        while (!down.empty()) {
            CEntityInstance* va = down.back();
            down.pop_back();
            for (CEntityInstance* ti : derived(va)) {
                if (below.insert(ti).second && firstContained(ti, "VA"))
                    down.push_back(firstContained(ti, "VA"));
            }
        }
        for (CEntityInstance* ti : below)
            for (CEntityInstance* f : sameNamed(ti, fn))
                out.push_back(f);
        return out;
    }
    bool reachable(CEntityInstance* e) { return e && e->m_visited != 2 && !special(e); }

    // What each rule gives an entity depends on the facts alone, never on
    // what else is reached, so applying the rules once to everything reached
    // gives the smallest set that they leave unchanged. Breadth first from
    // all the roots, which also gives each its distance from the nearest.
    std::map<CEntityInstance*, int> distance;
    std::set<CEntityInstance*> marks() {
        std::set<CEntityInstance*> reached;
        std::deque<CEntityInstance*> todo;
        distance.clear();
        auto add = [&](CEntityInstance* e, int d) {
            bool added = reachable(e) && reached.insert(e).second;
            if (added) {
                todo.push_back(e);
                distance[e] = d;
            }
            return added;
        };
        for (CEntityInstance* e = g_headP; e; e = e->m_nextInOrderP)
            if (isRoot(e))
                add(e, 0);
        while (!todo.empty()) {
            CEntityInstance* e = todo.front();
            todo.pop_front();
            size_t resolvedFrom = 0;
            std::vector<CEntityInstance*> next = successors(e, &resolvedFrom);
            for (size_t i = 0; i < next.size(); ++i) {
                bool added = add(next[i], distance[e] + 1);
                resolved += added && i >= resolvedFrom;
            }
        }
        return reached;
    }

    // The trace of a recursive depth-first walk, resolving with no shortcut.
    std::string trace;
    void visit(CEntityInstance* e, int depth) {
        if (e->m_visited != 0 || special(e))
            return;
        e->m_visited = 1;
        char line[512];
        snprintf(line, sizeof line, "%p %*s(%s) %s", static_cast<void*>(e), 2 * depth, "",
                 e->getType(), e->getLabel() ? e->getLabel() : "(null)");
        trace += line;
        if (e->m_lineno != NO_LINENO)
            trace += " " + std::to_string(e->m_lineno);
        if (e->m_fullpathP)
            trace += std::string(":") + e->m_fullpathP;
        trace += "\n";
        if ((hasType(e, "FA") || hasType(e, "VA")) && e->getParent())
            visit(e->getParent(), depth + 1);
        for (CRelationInstance* r = e->m_srcRelListP; r; r = r->m_next_srcP)
            if (!isContainRel(r))
                visit(r->m_dstP, depth + 1);
        std::string fn;
        std::set<CEntityInstance*> entered;
        std::function<void(CEntityInstance*)> down = [&](CEntityInstance* va) {
            for (CEntityInstance* ti : derived(va)) {
                if (!entered.insert(ti).second)
                    continue;
                CEntityInstance* tiVa = firstContained(ti, "VA");
                if (!tiVa)
                    continue;
                for (CEntityInstance* f : sameNamed(ti, fn))
                    visit(f, depth + 1);
                down(tiVa);
            }
        };
        for (CEntityInstance* va : starts(e, &fn))
            down(va);
    }
};

std::set<CEntityInstance*> marked(const std::vector<CEntityInstance*>& all) {
    std::set<CEntityInstance*> s;
    for (CEntityInstance* e : all)
        if (e->m_visited == 1)
            s.insert(e);
    return s;
}

void clearMarks(const std::vector<CEntityInstance*>& all) {
    for (CEntityInstance* e : all)
        if (e->m_visited == 1)
            e->m_visited = 0;
}

std::string names(const std::set<CEntityInstance*>& s) {
    std::string out;
    for (CEntityInstance* e : s)
        out += std::string(" ") + e->getType() + ":" + (e->getLabel() ? e->getLabel() : "-");
    return out;
}

// Runs the grouped, the traced depth-first and the recorded breadth-first
// walks on consolidated facts and expects each to mark what the rules mark,
// the last with shortest chains; returns the trace.
std::string expectEveryWalkMarksWhatTheRulesMark(CEntityClass* classes,
                                                const std::vector<CEntityInstance*>& all,
                                                Reference& ref, const std::string& what) {
    std::set<CEntityInstance*> expected = ref.marks();
    clearMarks(all);
    CSearch(classes, nullptr).run(CSearch::Grouped);
    std::set<CEntityInstance*> grouped = marked(all);
    EXPECT_EQ(names(grouped), names(expected)) << what << " grouped";
    EXPECT_EQ(grouped, expected) << what;

    clearMarks(all);
    char* text = nullptr;
    size_t lth = 0;
    FILE* traceFile = open_memstream(&text, &lth);
    CSearch(classes, traceFile).run(CSearch::Depth_first);
    fclose(traceFile);
    std::string traced(text, lth);
    free(text);
    std::set<CEntityInstance*> depthFirst = marked(all);
    EXPECT_EQ(names(depthFirst), names(expected)) << what << " depth first";
    EXPECT_EQ(depthFirst, expected) << what;
    clearMarks(all);

    // Breadth first, the step noted for every entity is one the rules make,
    // from an entity one nearer to the roots: the chains are shortest.
    CReachRecord record;
    CSearch(classes, nullptr).run(CSearch::Breadth_first, &record);
    std::set<CEntityInstance*> breadthFirst = marked(all);
    EXPECT_EQ(breadthFirst, expected) << what << " breadth first";
    for (CEntityInstance* e : breadthFirst) {
        const CReachStep* step = record.stepTo(e);
        EXPECT_NE(step, nullptr) << what;
        if (step == nullptr)
            continue;
        if (step->kind == CReachStep::Root) {
            EXPECT_TRUE(Reference::isRoot(e)) << what;
            continue;
        }
        EXPECT_TRUE(step->fromP != nullptr && breadthFirst.count(step->fromP)) << what;
        if (step->fromP == nullptr)
            continue;
        size_t resolvedFrom = 0;
        std::vector<CEntityInstance*> next = ref.successors(step->fromP, &resolvedFrom);
        auto at = std::find(next.begin(), next.end(), e);
        EXPECT_NE(at, next.end()) << what << " " << e->getLabel();
        EXPECT_EQ(step->kind == CReachStep::Virtual,
                  static_cast<size_t>(at - next.begin()) >= resolvedFrom)
            << what;
        EXPECT_EQ(ref.distance[e], ref.distance[step->fromP] + 1) << what << " " << e->getLabel();
        if (step->kind == CReachStep::Virtual) {
            EXPECT_TRUE(step->tableP != nullptr && hasType(step->tableP, "TV")) << what;
        }
    }
    clearMarks(all);
    return traced;
}

// On generated programs the grouped walk, the depth-first walk and the
// rules applied until nothing changes reach the same entities, and the
// depth-first walk's trace is that of a recursive walk without shortcuts.
TEST(DepthSearch, EveryWalkReachesWhatTheRulesReachOnRandomPrograms) {
    int resolving = 0;
    for (unsigned seed = 1; seed <= 3000; ++seed) {
        RandomProgram p(seed);
        consolidate_classes(p.g.classes);
        Reference ref(p.g.classes);
        std::string what = "seed " + std::to_string(seed);
        std::string traced = expectEveryWalkMarksWhatTheRulesMark(p.g.classes, p.all, ref, what);
        for (CEntityInstance* e = g_headP; e; e = e->m_nextInOrderP)
            if (Reference::isRoot(e) && e->m_visited == 0)
                ref.visit(e, 0);
        EXPECT_EQ(traced, ref.trace) << what;
        if (HasFailure())
            return;
        resolving += ref.resolved > 0;
    }
    // A good share of the programs reach something only through resolution.
    EXPECT_GT(resolving, 1000);
}

// The same on fact files as the fact base loads them: a generated program,
// a generated hierarchy, and the bundled example. One file per test, since
// the fact base is the process's.
void expectEveryWalkMarksWhatTheRulesMarkIn(const std::string& facts) {
    ta.loadTA(facts.c_str());
    consolidate();
    CEntityClass* classes = ta.getEntityClass(nullptr);
    std::vector<CEntityInstance*> all;
    for (CEntityClass* c = classes; c; c = c->m_nextP)
        for (CEntityInstance* e = c->m_entityInstancesP; e; e = e->m_nextInClassP)
            all.push_back(e);
    Reference ref(classes);
    expectEveryWalkMarksWhatTheRulesMark(classes, all, ref, facts);
}

void expectEveryWalkMarksWhatTheRulesMarkInGenerated(const char* shape, const char* n) {
    std::string dir = makeTempDir();
    std::string facts = dir + "/gen.ta";
    RunResult gen = runProgram(LOPWORT_GEN_FACTS_BIN, {"--seed", "1", "--shape", shape, n, facts});
    ASSERT_EQ(gen.status, 0) << gen.err;
    expectEveryWalkMarksWhatTheRulesMarkIn(facts);
    unlink(facts.c_str());
    rmdir(dir.c_str());
}

TEST(DepthSearch, EveryWalkReachesWhatTheRulesReachInAGeneratedProgram) {
    expectEveryWalkMarksWhatTheRulesMarkInGenerated("program", "3000");
}

TEST(DepthSearch, EveryWalkReachesWhatTheRulesReachInAGeneratedHierarchy) {
    expectEveryWalkMarksWhatTheRulesMarkInGenerated("hierarchy", "300");
}

TEST(DepthSearch, EveryWalkReachesWhatTheRulesReachInTheBundledExample) {
    expectEveryWalkMarksWhatTheRulesMarkIn(std::string(LOPWORT_SOURCE_DIR) +
                                          "/examples/shapes/shapes.ta.in");
}

} // namespace
