// Virtual-call resolution through fact files run by the built program: which
// overriders a virtual call reaches, in which order and at which depth, down
// whole hierarchies, around missing links and malformed type information, and
// for functions that absorbed duplicates.
#include "cli.h"

#include <cstring>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

// Writes the facts of a class hierarchy the way an extractor does: each
// class "N" (mangled as its length and name) has a table _ZTV and type
// information _ZTI with its address; each virtual function has an address
// in the slots of the tables that hold it.
struct Facts {
    std::ostringstream tuples, attrs;
    int line = 1;

    static std::string mangled(const std::string& cls) { return std::to_string(cls.size()) + cls; }
    static std::string fn(const std::string& cls, const std::string& name) {
        return "_ZN" + mangled(cls) + mangled(name) + "Ev";
    }

    Facts& cls(const std::string& c) {
        std::string m = mangled(c);
        tuples << "$INSTANCE _ZTV" << m << " TV\n$INSTANCE _ZTI" << m << " TI\n$INSTANCE VA:_ZTI"
               << m << " VA\ncontain _ZTI" << m << " VA:_ZTI" << m << "\nref _ZTV" << m
               << " VA:_ZTI" << m << "\n";
        attrs << "_ZTV" << m << " { label = vt" << c << " mangle = _ZTV" << m << " }\n_ZTI" << m
              << " { label = ti" << c << " mangle = _ZTI" << m << " }\n";
        return *this;
    }
    Facts& derives(const std::string& derived, const std::string& base) {
        tuples << "ref _ZTI" << mangled(derived) << " VA:_ZTI" << mangled(base) << "\n";
        return *this;
    }
    // A virtual function defined in cls (label cls::name), with an address.
    Facts& vf(const std::string& c, const std::string& name, bool withAddress = true) {
        std::string id = fn(c, name);
        tuples << "$INSTANCE " << id << " VF\n";
        if (withAddress)
            tuples << "$INSTANCE FA:" << id << " FA\ncontain " << id << " FA:" << id << "\n";
        attrs << id << " { label = " << c << "::" << name << " file = x.cc lineno = " << line++
              << " mangle = " << id << " }\n";
        return *this;
    }
    // tableOf's table holds definer::name in a slot.
    Facts& slot(const std::string& tableOf, const std::string& definer, const std::string& name) {
        tuples << "ref _ZTV" << mangled(tableOf) << " FA:" << fn(definer, name) << "\n";
        return *this;
    }
    Facts& raw(const std::string& text) {
        tuples << text;
        return *this;
    }
    // main calls cls::name virtually.
    Facts& callVirtually(const std::string& c, const std::string& name) {
        tuples << "CVF main " << fn(c, name) << "\n";
        return *this;
    }
    std::string text() const {
        return "FACT TUPLE :\n$INSTANCE main GF\n" + tuples.str() +
               "FACT ATTRIBUTE :\nmain { label = main file = m.cc lineno = 1 }\n" + attrs.str();
    }
};

struct Outcome {
    std::set<std::string> dead;
    std::string tree; // "-T" lines without addresses
    int status;
};

std::set<std::string> deadIn(const std::string& report) {
    std::set<std::string> dead;
    std::istringstream lines(report);
    std::string line;
    std::regex deadLine("\t\\(\\w+\\) (\\S+):\\d+ dead code");
    std::smatch m;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, m, deadLine))
            dead.insert(m[1]);
    }
    return dead;
}

// A run without a trace walks in no particular order; with "-T" it walks in
// the traced order. Both must find the same functions dead.
Outcome run(const std::string& facts, bool traced = true) {
    RunOptions o;
    o.input = facts;
    o.hasInput = true;
    RunResult r = runLopwort({}, o);
    Outcome out;
    out.status = r.status;
    out.dead = deadIn(r.out);
    if (!traced)
        return out;
    r = runLopwort({"-T"}, o);
    EXPECT_EQ(deadIn(r.out), out.dead) << "the traced walk differs";
    EXPECT_EQ(r.status, out.status);
    // Each trace line without its address, line and path: indentation,
    // type and label.
    std::istringstream traceLines(r.err);
    std::string line;
    while (std::getline(traceLines, line)) {
        std::string rest = line.substr(line.find(' ') + 1);
        out.tree += rest.substr(0, rest.find(' ', rest.find(')') + 2)) + "\n";
    }
    return out;
}

Outcome run(const Facts& f, bool traced = true) { return run(f.text(), traced); }

using Names = std::set<std::string>;

TEST(VirtualCalls, OneLevelReachesSameNamedOverridersOnly) {
    Facts f;
    f.cls("A").cls("B").derives("B", "A");
    f.vf("A", "f").vf("B", "f").vf("B", "g").vf("A", "g");
    f.slot("A", "A", "f").slot("A", "A", "g").slot("B", "B", "f").slot("B", "B", "g");
    f.callVirtually("A", "f");
    Outcome o = run(f);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.dead, (Names{"A::g", "B::g"}));
    // The overrider is one level below the function it overrides.
    EXPECT_EQ(o.tree, "(GF) main\n  (VF) A::f\n    (VF) B::f\n");
}

TEST(VirtualCalls, WithoutAVirtualCallNothingIsResolved) {
    Facts f;
    f.cls("A").cls("B").derives("B", "A").vf("A", "f").vf("B", "f");
    f.slot("A", "A", "f").slot("B", "B", "f");
    f.raw("call main " + Facts::fn("A", "f") + "\n");
    EXPECT_EQ(run(f).dead, (Names{"B::f"}));
}

TEST(VirtualCalls, UnparsableNameResolvesNothing) {
    Facts f;
    f.cls("A").cls("B").derives("B", "A").vf("B", "f");
    f.raw("$INSTANCE bad VF\n$INSTANCE FA:bad FA\ncontain bad FA:bad\nref _ZTV1A FA:bad\n"
          "CVF main bad\n");
    f.attrs << "bad { label = A::bad file = x.cc lineno = 50 mangle = _ZN1A }\n";
    f.slot("B", "B", "f");
    EXPECT_EQ(run(f).dead, (Names{"B::f"}));
}

TEST(VirtualCalls, ClassesFurtherDownAreReachedThroughClassesThatDoNotOverride) {
    // A <- B <- C; B inherits A::f, C overrides it; D derives from C and
    // overrides again. A call through an A pointer reaches C::f and D::f.
    Facts f;
    f.cls("A").cls("B").cls("C").cls("D");
    f.derives("B", "A").derives("C", "B").derives("D", "C");
    f.vf("A", "f").vf("C", "f").vf("D", "f");
    f.slot("A", "A", "f").slot("B", "A", "f").slot("C", "C", "f").slot("D", "D", "f");
    f.callVirtually("A", "f");
    Outcome o = run(f);
    EXPECT_EQ(o.dead, Names{});
    EXPECT_EQ(o.tree, "(GF) main\n  (VF) A::f\n    (VF) C::f\n    (VF) D::f\n");
}

TEST(VirtualCalls, SiblingsInTheOrderOfTheirFactsNewestFirstDepthFirst) {
    // B and C derive from A (C's fact is newer, so it comes first); E derives
    // from B. Each derived class's own table comes before its derived classes,
    // and a branch is finished before the next sibling.
    Facts f;
    f.cls("A").cls("B").cls("C").cls("E");
    f.derives("B", "A").derives("C", "A").derives("E", "B");
    f.vf("A", "f").vf("B", "f").vf("C", "f").vf("E", "f");
    f.slot("A", "A", "f").slot("B", "B", "f").slot("C", "C", "f").slot("E", "E", "f");
    f.callVirtually("A", "f");
    EXPECT_EQ(run(f).tree, "(GF) main\n  (VF) A::f\n    (VF) C::f\n    (VF) B::f\n    (VF) E::f\n");
}

TEST(VirtualCalls, AnOverridersCalleesAreWalkedBeforeTheNextSlot) {
    Facts f;
    f.cls("A").cls("B").derives("B", "A");
    f.vf("A", "f").vf("A", "g").vf("B", "f").vf("B", "g");
    f.slot("A", "A", "f").slot("A", "A", "g").slot("B", "B", "g").slot("B", "B", "f");
    f.raw("$INSTANCE helper GF\ncall " + Facts::fn("B", "f") + " helper\n");
    f.attrs << "helper { label = helper file = x.cc lineno = 99 }\n";
    f.callVirtually("A", "f").callVirtually("A", "g");
    // A::g is called after A::f (newer facts come first), so its resolution
    // runs first; then A::f's reaches B::f, whose callee follows at once.
    EXPECT_EQ(run(f).tree, "(GF) main\n  (VF) A::g\n    (VF) B::g\n  (VF) A::f\n    (VF) B::f\n"
                           "      (GF) helper\n");
}

TEST(VirtualCalls, PureVirtualFunctionsFindTheirClassByName) {
    // A::f is pure: no address and no slot in A's table.
    Facts f;
    f.cls("A").cls("B").cls("C").derives("B", "A").derives("C", "B");
    f.vf("A", "f", false).vf("B", "f").vf("C", "f");
    f.slot("B", "B", "f").slot("C", "C", "f");
    f.callVirtually("A", "f");
    EXPECT_EQ(run(f).dead, Names{});
}

TEST(VirtualCalls, MissingLinksAndMalformedTypeInformationEndQuietly) {
    Facts f;
    f.cls("A").cls("B").cls("C").derives("B", "A").derives("C", "A");
    // A cycle: A claims to derive from C, which derives from A.
    f.derives("A", "C");
    // A type information without an address of its own, and one without a table.
    f.raw("$INSTANCE _ZTI1X TI\nref _ZTI1X VA:_ZTI1A\n$INSTANCE _ZTI1Y TI\n$INSTANCE VA:_ZTI1Y VA\n"
          "contain _ZTI1Y VA:_ZTI1Y\nref _ZTI1Y VA:_ZTI1A\n"
          // A table of a class with no type-information address at all.
          "$INSTANCE _ZTV1Z TV\n");
    f.attrs << "_ZTV1Z { mangle = _ZTV1Z }\n";
    f.vf("A", "f").vf("B", "f").vf("C", "f").vf("Z", "f");
    f.slot("A", "A", "f").slot("B", "B", "f").slot("C", "C", "f").slot("Z", "Z", "f");
    f.callVirtually("A", "f").callVirtually("Z", "f");
    Outcome o = run(f);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.dead, Names{});
}

TEST(VirtualCalls, DiamondsVisitEachClassOnce) {
    Facts f;
    f.cls("A").cls("B").cls("C").cls("D");
    f.derives("B", "A").derives("C", "A").derives("D", "B").derives("D", "C");
    f.vf("A", "f").vf("D", "f");
    f.slot("A", "A", "f").slot("B", "A", "f").slot("C", "A", "f").slot("D", "D", "f");
    f.callVirtually("A", "f");
    Outcome o = run(f);
    EXPECT_EQ(o.dead, Names{});
    EXPECT_EQ(o.tree, "(GF) main\n  (VF) A::f\n    (VF) D::f\n");
}

TEST(VirtualCalls, AFunctionThatAbsorbedDuplicatesResolvesForEveryInstance) {
    // Two instances of a class template's member, one entity after merging
    // (same label, file and line); the overrider below the second instance's
    // class is reached too.
    const std::string xi = "_ZN1XIiE1fEv", xc = "_ZN1XIcE1fEv";
    Facts f;
    f.raw("$INSTANCE _ZTV1XIiE TV\n$INSTANCE _ZTI1XIiE TI\n$INSTANCE VA:XIi VA\n"
          "contain _ZTI1XIiE VA:XIi\nref _ZTV1XIiE VA:XIi\n"
          "$INSTANCE _ZTV1XIcE TV\n$INSTANCE _ZTI1XIcE TI\n$INSTANCE VA:XIc VA\n"
          "contain _ZTI1XIcE VA:XIc\nref _ZTV1XIcE VA:XIc\n");
    f.raw("$INSTANCE " + xi + " VF\n$INSTANCE FA:" + xi + " FA\ncontain " + xi + " FA:" + xi +
          "\n$INSTANCE " + xc + " VF\n$INSTANCE FA:" + xc + " FA\ncontain " + xc + " FA:" + xc +
          "\nref _ZTV1XIiE FA:" + xi + "\nref _ZTV1XIcE FA:" + xc + "\n");
    f.attrs << "_ZTV1XIiE { mangle = _ZTV1XIiE }\n_ZTV1XIcE { mangle = _ZTV1XIcE }\n"
            << xi << " { label = X::f file = x.h lineno = 3 mangle = " << xi << " }\n"
            << xc << " { label = X::f file = x.h lineno = 3 mangle = " << xc << " }\n";
    // The entity met first (the newer fact, X<char>'s) survives; D derives
    // from the other instance, X<int>.
    f.cls("D").raw("ref _ZTI1D VA:XIi\n");
    f.vf("D", "f").slot("D", "D", "f");
    f.raw("CVF main " + xi + "\n");
    EXPECT_EQ(run(f).dead, Names{});
}

TEST(VirtualCalls, DeeperResolutionsFirstLeaveNothingBelowThemUnreached) {
    // main calls D::f, C::f, B::f, A::f virtually, newest first, so each
    // class's resolution has run by the time the one above it looks down;
    // E::g, of another name, stays unreached.
    Facts f;
    f.cls("A").cls("B").cls("C").cls("D").cls("E");
    f.derives("B", "A").derives("C", "B").derives("D", "C").derives("E", "D");
    for (const char* c : {"A", "B", "C", "D", "E"})
        f.vf(c, "f").slot(c, c, "f");
    f.vf("E", "g").slot("E", "E", "g");
    f.callVirtually("A", "f").callVirtually("B", "f").callVirtually("C", "f").callVirtually("D", "f");
    Outcome o = run(f);
    EXPECT_EQ(o.dead, Names{"E::g"});
    EXPECT_EQ(o.tree, "(GF) main\n  (VF) D::f\n    (VF) E::f\n  (VF) C::f\n  (VF) B::f\n"
                      "  (VF) A::f\n");
}

TEST(VirtualCalls, AFunctionReachedWithoutResolvingHidesNothingBelowIt) {
    // B::f is reached by a plain call, so nothing resolved down from B: a
    // virtual call of A::f must still look below B and reach C::f.
    Facts f;
    f.cls("A").cls("B").cls("C").derives("B", "A").derives("C", "B");
    for (const char* c : {"A", "B", "C"})
        f.vf(c, "f").slot(c, c, "f");
    f.callVirtually("A", "f");
    f.raw("call main " + Facts::fn("B", "f") + "\n"); // newer: walked first
    Outcome o = run(f);
    EXPECT_EQ(o.dead, Names{});
    EXPECT_EQ(o.tree, "(GF) main\n  (VF) B::f\n  (VF) A::f\n    (VF) C::f\n");
}

TEST(VirtualCalls, AHierarchyThousandsOfClassesDeep) {
    const int depth = 10000;
    auto hierarchy = [](Facts& f) {
        for (int i = 0; i < depth; ++i) {
            std::string c = "C" + std::to_string(i);
            f.cls(c).vf(c, "f").slot(c, c, "f");
            if (i > 0)
                f.derives(c, "C" + std::to_string(i - 1));
        }
        f.callVirtually("C0", "f");
    };
    Facts f;
    hierarchy(f);
    Outcome o = run(f);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.dead, Names{});
    // Every level called virtually, the top one walked first: without a
    // trace each resolution must stop where one below it has finished.
    Facts all;
    hierarchy(all);
    for (int i = depth - 1; i > 0; --i)
        all.callVirtually("C" + std::to_string(i), "f");
    o = run(all, false);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.dead, Names{});
}

TEST(VirtualCalls, AStartClassBelowAnotherHasItsTableSearched) {
    // C::f (no type information of its own) sits in the tables of A and of
    // B, which derives from A, so both are start classes of its resolution,
    // B's first. B's table also holds B::f (fn2), of the same function
    // name: it is reached from A, whichever resolution of the name comes
    // first. The second root, A::f, resolves the same name down from A.
    const char* facts = "FACT TUPLE :\n"
                        "$INSTANCE e1 VF\n$INSTANCE e2 VF\n$INSTANCE e6 VF\n"
                        "$INSTANCE e1_fa FA\n$INSTANCE e2_fa FA\n"
                        "$INSTANCE tvA TV\n$INSTANCE tiA TI\n$INSTANCE tiA_va VA\n"
                        "$INSTANCE tvB TV\n$INSTANCE tiB TI\n$INSTANCE tiB_va VA\n"
                        "ref tvB tiB_va\nref tvB e2_fa\nCVF e1 e1\nref tvA e1_fa\n"
                        "contain e1 e1_fa\nCVF e1 e6\ncontain tiA tiA_va\ncontain tiB tiB_va\n"
                        "ref tvA tiA_va\nref tvB e1_fa\ncontain e2 e2_fa\nref tiB tiA_va\n"
                        "FACT ATTRIBUTE :\n"
                        "e1 { label = __static_init lineno = 1 mangle = _ZN1C1fEv }\n"
                        "e2 { label = fn2 lineno = 8 mangle = _ZN1B1fEv }\n"
                        "e6 { label = __static_init lineno = 13 mangle = _ZN1A1fEv }\n"
                        "tvA { label = vtA mangle = _ZTV1A }\ntiA { label = tiA mangle = _ZTI1A }\n"
                        "tvB { label = vtB mangle = _ZTV1B }\ntiB { label = tiB mangle = _ZTI1B }\n";
    Outcome o = run(facts);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.dead, Names{});
    EXPECT_EQ(o.tree, "(VF) __static_init\n  (VF) __static_init\n    (VF) fn2\n");

    // Without e6 only C::f's own resolution can reach fn2, and B's table is
    // searched through A although B started first.
    std::string alone = facts;
    for (const char* fact : {"$INSTANCE e6 VF\n", "CVF e1 e6\n"})
        alone.erase(alone.find(fact), strlen(fact));
    alone.erase(alone.find("e6 {"), alone.find("tvA {") - alone.find("e6 {"));
    o = run(alone);
    EXPECT_EQ(o.dead, Names{});
    EXPECT_EQ(o.tree, "(VF) __static_init\n  (VF) fn2\n");
}

TEST(VirtualCalls, AWalkInsideACycleIsNotTakenAsFinishedBeforeTheCycleIs) {
    // B derives from A, A (wrongly) from B, D from B, E from D. Resolving
    // A::f meets A again below B before it reaches D. A::fc (of the same
    // function name, from A's table by class name) is called virtually by
    // D::f, so its resolution runs while A::f's is still on its way to E:
    // it must not skip below A on the strength of that unfinished walk, and
    // reaches E::f itself, one level deeper than A::f's would.
    Facts f;
    f.cls("A").cls("B").cls("D").cls("E");
    f.derives("B", "A").derives("E", "D").derives("D", "B").derives("A", "B");
    f.vf("A", "f").vf("D", "f").vf("E", "f");
    f.slot("A", "A", "f").slot("D", "D", "f").slot("E", "E", "f");
    f.raw("$INSTANCE _ZNK1A1fEv VF\nCVF " + Facts::fn("D", "f") + " _ZNK1A1fEv\n");
    f.attrs << "_ZNK1A1fEv { label = A::fc file = x.cc lineno = 50 mangle = _ZNK1A1fEv }\n";
    f.callVirtually("A", "f");
    Outcome o = run(f);
    EXPECT_EQ(o.dead, Names{});
    EXPECT_EQ(o.tree, "(GF) main\n  (VF) A::f\n    (VF) D::f\n      (VF) A::fc\n        (VF) E::f\n");
}

TEST(VirtualCalls, ConstAndNonConstOverloadsBothReachedOnlyBelow) {
    // f() and f() const share a function name. Resolving A::f reaches both
    // of B's, but not A's own f() const, which overrides nothing.
    Facts f;
    f.cls("A").cls("B").derives("B", "A");
    f.vf("A", "f").slot("A", "A", "f");
    f.raw("$INSTANCE _ZNK1A1fEv VF\n$INSTANCE FA:_ZNK1A1fEv FA\ncontain _ZNK1A1fEv FA:_ZNK1A1fEv\n"
          "ref _ZTV1A FA:_ZNK1A1fEv\n$INSTANCE _ZNK1B1fEv VF\n$INSTANCE FA:_ZNK1B1fEv FA\n"
          "contain _ZNK1B1fEv FA:_ZNK1B1fEv\nref _ZTV1B FA:_ZNK1B1fEv\n");
    f.attrs << "_ZNK1A1fEv { label = A::fc file = x.cc lineno = 40 mangle = _ZNK1A1fEv }\n"
            << "_ZNK1B1fEv { label = B::fc file = x.cc lineno = 41 mangle = _ZNK1B1fEv }\n";
    f.vf("B", "f").slot("B", "B", "f");
    f.callVirtually("A", "f");
    EXPECT_EQ(run(f).dead, Names{"A::fc"});
}

} // namespace
