// Writes synthetic fact files for measuring lopwort at the scale of large
// code bases, and for driving it through the deepest inputs it must survive.
// The "program" shape looks like extractor output: translation units of
// about 50 functions under a few hundred directories; external, static,
// virtual and template functions with real-looking mangled names as ids; one
// class per unit, in hierarchies of eight classes with virtual tables, type
// information and function addresses; static inline helpers of shared
// headers, which consolidation merges; about five uses per function; and
// about a tenth of the functions dead. The file is written in the order an
// extractor that knows every entity up front writes it: every $INSTANCE,
// then containment and uses, then the attribute records.
//
// The "dense" shape is the same program as a terse extractor writes it:
// short ids, labels and paths, and a "mangle" only where virtual-call
// resolution needs one (about half the bytes per function).
//
// The other shapes are the extremes: a call chain from "main" through every
// function, a containment chain that the search climbs from its bottom, and
// a class hierarchy in which every level overrides a virtual function.
//
// Everything is drawn from one generator seeded by --seed, so a seed and a
// count always give the same bytes.
//
// usage: bench_gen_facts [--seed S] [--shape program|dense|callchain|containchain|hierarchy] N OUTPUT
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// splitmix64: small, fast, and good enough to pick shapes.
struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed) {}
    uint64_t next() {
        uint64_t z = (s += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
    bool chance(int percent) { return below(100) < static_cast<uint32_t>(percent); }
};

// A mangled-name component: its length, then its text.
std::string comp(const std::string& s) { return std::to_string(s.size()) + s; }

FILE* g_outP = nullptr;

void out(const std::string& s) { fwrite(s.data(), 1, s.size(), g_outP); }

// ---------------------------------------------------------------- program

const int kPerFile = 50;      // functions per translation unit
const int kFilesPerDir = 100; // units per directory
const int kGroup = 8;         // classes per hierarchy: a binary tree of depth 3
const int kVirtuals = 8;      // virtual functions a root class declares
const int kOverride = 60;     // percent of them that a derived class overrides

enum Kind : uint8_t {
    K_GF,      // external function
    K_LF,      // static function
    K_CTOR,    // the class's constructor
    K_VF,      // virtual function (slot given by vslot)
    K_HELPER,  // static inline helper of the directory's header
    K_TMPL,    // template instance (template 0 or 1, argument int or double)
    K_INIT,    // static initialiser of the unit
    K_MAIN,
};

struct Program {
    // The dense variant: short ids, labels and paths, and a "mangle" only
    // where resolution needs one (virtual functions, tables, type
    // information), as a terse extractor writes them.
    bool dense = false;
    long n = 0;
    long files = 0;
    uint64_t seed = 0;
    std::vector<uint8_t> kind;
    std::vector<uint8_t> sub; // slot of a VF, template and argument of a K_TMPL
    std::vector<uint8_t> dead;
    std::vector<int> parent;   // the live function that calls it first, or -1
    std::vector<long> childStart, children; // callers' lists of those calls
    std::vector<uint8_t> deadTree;          // per hierarchy: nothing live uses it

    long dirOf(long f) const { return f / kFilesPerDir; }
    long baseFile(long f) const { // the unit of a class's direct base, or -1
        long g = f % kGroup;
        return g == 0 ? -1 : f - g + (g - 1) / 2;
    }
    bool overrides(long f, int slot) const {
        if (baseFile(f) < 0)
            return true;
        Rng r(seed ^ (static_cast<uint64_t>(f) * 131 + slot) * 0x2545f4914f6cdd1dULL);
        return r.chance(kOverride);
    }
    // The unit whose class implements slot for the class of unit f.
    long implementer(long f, int slot) const {
        while (!overrides(f, slot))
            f = baseFile(f);
        return f;
    }
    std::string ns(long f) const { return "ns" + std::to_string(dirOf(f)); }
    std::string cls(long f) const { return "Class" + std::to_string(f); }
    std::string nested(long f) const { return comp(ns(f)) + comp(cls(f)); }
    std::string unit(long f) const { return "file" + std::to_string(f) + ".cpp"; }
    std::string path(long f) const {
        if (dense)
            return "/p/" + std::to_string(dirOf(f)) + "/" + std::to_string(f) + ".c";
        return "/proj/src/dir" + std::to_string(dirOf(f)) + "/" + unit(f);
    }
    std::string header(long f) const {
        if (dense)
            return "/p/h" + std::to_string(dirOf(f)) + ".h";
        return "/proj/include/common" + std::to_string(dirOf(f)) + ".h";
    }
    static const char* params(int slot) {
        static const char* const p[] = {"v", "i", "PKci", "d", "Pv", "ii", "RKi", "l"};
        return p[slot % 8];
    }
    std::string vname(int slot) const { return "vm_" + std::to_string(slot); }

    // The mangled name of function g (the id, without a unit prefix).
    std::string mangle(long g) const {
        long f = g / kPerFile, k = g % kPerFile;
        switch (kind[g]) {
        case K_MAIN:
            return "main";
        case K_CTOR:
            return "_ZN" + nested(f) + "C1Ev";
        case K_VF:
            return std::string(sub[g] % 3 == 0 ? "_ZNK" : "_ZN") + nested(f) + comp(vname(sub[g])) +
                   "E" + params(sub[g]);
        case K_HELPER:
            return "_ZL" + comp("helper" + std::to_string(dirOf(f))) + "v";
        case K_TMPL:
            return "_ZN" + comp(ns(f)) + comp("tmpl" + std::to_string(f) + "_" +
                                              std::to_string(sub[g] >> 1)) +
                   "I" + ((sub[g] & 1) ? "d" : "i") + "EEvT_";
        case K_INIT:
            return "_GLOBAL__sub_I_" + unit(f);
        case K_LF:
            return "_ZL" + comp("local" + std::to_string(g)) + params(static_cast<int>(k));
        default:
            return "_ZN" + comp(ns(f)) + comp("func" + std::to_string(g)) + "E" +
                   params(static_cast<int>(k));
        }
    }
    bool isStatic(long g) const {
        return kind[g] == K_LF || kind[g] == K_HELPER || kind[g] == K_INIT;
    }
    std::string shortId(long g) const {
        static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
        std::string s;
        do {
            s.insert(s.begin(), digits[g % 36]);
            g /= 36;
        } while (g > 0);
        return "f" + s;
    }
    bool keepsMangle(long g) const { return !dense || kind[g] == K_VF; }
    std::string id(long g) const {
        if (dense && kind[g] != K_MAIN)
            return isStatic(g) ? std::to_string(g / kPerFile) + ":" + shortId(g) : shortId(g);
        return isStatic(g) ? unit(g / kPerFile) + "::" + mangle(g) : mangle(g);
    }
    std::string label(long g) const {
        long f = g / kPerFile;
        if (dense && kind[g] != K_MAIN && kind[g] != K_INIT && kind[g] != K_VF &&
            kind[g] != K_HELPER)
            return shortId(g);
        switch (kind[g]) {
        case K_MAIN:
            return "main";
        case K_CTOR:
            return cls(f) + "::" + cls(f);
        case K_VF:
            return cls(f) + "::" + vname(sub[g]);
        case K_HELPER:
            return "helper" + std::to_string(dirOf(f));
        case K_TMPL:
            return "tmpl" + std::to_string(f) + "_" + std::to_string(sub[g] >> 1) +
                   ((sub[g] & 1) ? "<double>" : "<int>");
        case K_INIT:
            return "global constructors keyed to " + unit(f);
        case K_LF:
            return "local" + std::to_string(g);
        default:
            return ns(f) + "::func" + std::to_string(g);
        }
    }
    std::string vtable(long f) const { return "_ZTVN" + nested(f) + "E"; }
    std::string typeinfo(long f) const { return "_ZTIN" + nested(f) + "E"; }
    long vfOf(long f, int slot) const { // the VF of unit f's class for slot, or -1
        for (long g = f * kPerFile; g < (f + 1) * kPerFile && g < n; ++g)
            if (kind[g] == K_VF && sub[g] == slot)
                return g;
        return -1;
    }
    bool ordinary(long g) const {
        return kind[g] == K_GF || kind[g] == K_LF || kind[g] == K_TMPL || kind[g] == K_MAIN;
    }
};

void planProgram(Program& p) {
    Rng rng(p.seed);
    p.files = (p.n + kPerFile - 1) / kPerFile;
    p.n = p.files * kPerFile;
    p.kind.assign(p.n, K_GF);
    p.sub.assign(p.n, 0);
    p.dead.assign(p.n, 0);
    p.parent.assign(p.n, -1);
    p.deadTree.assign((p.files + kGroup - 1) / kGroup, 0);
    for (size_t h = 0; h < p.deadTree.size(); ++h)
        p.deadTree[h] = h != 0 && rng.chance(8);
    for (long f = 0; f < p.files; ++f) {
        long g = f * kPerFile;
        // Slot 0 external and live, so every unit has a live function to
        // hang its class and its virtual calls on.
        int k = 1;
        p.kind[g + k++] = K_CTOR;
        for (int s = 0; s < kVirtuals; ++s) {
            if (p.overrides(f, s)) {
                p.kind[g + k] = K_VF;
                p.sub[g + k++] = static_cast<uint8_t>(s);
            }
        }
        p.kind[g + k++] = K_HELPER;
        for (int t = 0; t < 4; ++t) {
            p.kind[g + k] = K_TMPL;
            p.sub[g + k++] = static_cast<uint8_t>(t);
        }
        if (f % 10 == 0)
            p.kind[g + k++] = K_INIT;
        for (; k < kPerFile; ++k)
            p.kind[g + k] = rng.chance(12) ? K_LF : K_GF;
        bool treeDead = p.deadTree[f / kGroup];
        for (k = 1; k < kPerFile; ++k) {
            long e = g + k;
            if (p.kind[e] == K_CTOR || p.kind[e] == K_VF)
                p.dead[e] = treeDead;
            else if (p.kind[e] != K_INIT && p.kind[e] != K_HELPER)
                p.dead[e] = rng.chance(9);
        }
    }
    p.kind[0] = K_MAIN;
    // The first call of every live ordinary function comes from a live
    // ordinary function before it, mostly nearby: a tree of first calls
    // whose depth grows with the logarithm of N. Static functions are called
    // from their own unit.
    for (long g = 1; g < p.n; ++g) {
        if (!p.ordinary(g) || p.dead[g])
            continue;
        long f = g / kPerFile;
        long lo = p.kind[g] == K_LF ? f * kPerFile : (g > 400 ? g - 400 : 0);
        long c = lo + static_cast<long>(rng.below(static_cast<uint32_t>(g - lo)));
        while (c > lo && (!p.ordinary(c) || p.dead[c]))
            --c;
        if (!p.ordinary(c) || p.dead[c])
            c = f * kPerFile; // slot 0 of the unit is always live
        if (c == g)
            c = 0;
        p.parent[g] = static_cast<int>(c);
    }
    p.childStart.assign(p.n + 1, 0);
    for (long g = 0; g < p.n; ++g)
        if (p.parent[g] >= 0)
            ++p.childStart[p.parent[g] + 1];
    for (long g = 0; g < p.n; ++g)
        p.childStart[g + 1] += p.childStart[g];
    p.children.assign(p.childStart[p.n], 0);
    std::vector<long> fill(p.childStart.begin(), p.childStart.end() - 1);
    for (long g = 0; g < p.n; ++g)
        if (p.parent[g] >= 0)
            p.children[fill[p.parent[g]]++] = g;
}

void writeProgram(Program& p) {
    out("// Synthetic facts: " + std::to_string(p.n) + " functions in " +
        std::to_string(p.files) + " units, seed " + std::to_string(p.seed) + ".\n");
    out("FACT TUPLE :\n");
    for (long f = 0; f < p.files; ++f) {
        out("$INSTANCE " + p.unit(f) + " file\n");
        for (long g = f * kPerFile; g < (f + 1) * kPerFile; ++g) {
            const char* k = p.kind[g] == K_VF                         ? "VF"
                            : p.isStatic(g)                           ? "LF"
                                                                      : "GF";
            std::string id = p.id(g);
            out("$INSTANCE " + id + " " + k + "\n");
            if (p.kind[g] == K_VF || p.kind[g] == K_LF)
                out("$INSTANCE FA:" + id + " FA\n");
        }
        for (int v = 0; v < 10; ++v)
            out("$INSTANCE " + p.unit(f) + "::g_var" + std::to_string(v) + " V\n");
        out("$INSTANCE " + p.vtable(f) + " TV\n$INSTANCE " + p.typeinfo(f) + " TI\n$INSTANCE VA:" +
            p.typeinfo(f) + " VA\n");
        out("$INSTANCE T:" + p.ns(f) + "::tmpl" + std::to_string(f) + "_0 T\n");
        out("$INSTANCE T:" + p.ns(f) + "::tmpl" + std::to_string(f) + "_1 T\n");
    }

    for (long f = 0; f < p.files; ++f) {
        Rng rng(p.seed * 1000003 + static_cast<uint64_t>(f));
        std::string u = p.unit(f);
        long first = f * kPerFile, end = first + kPerFile;
        for (long g = first; g < end; ++g) {
            std::string id = p.id(g);
            out("contain " + u + " " + id + "\n");
            if (p.kind[g] == K_VF || p.kind[g] == K_LF)
                out("contain " + id + " FA:" + id + "\n");
        }
        for (int v = 0; v < 10; ++v)
            out("contain " + u + " " + u + "::g_var" + std::to_string(v) + "\n");
        std::string ti = p.typeinfo(f), tv = p.vtable(f);
        out("contain " + ti + " VA:" + ti + "\n");
        // The table's slots, its type information, and the base class's.
        for (int s = 0; s < kVirtuals; ++s) {
            long vf = p.vfOf(p.implementer(f, s), s);
            if (vf >= 0)
                out("ref " + tv + " FA:" + p.id(vf) + "\n");
        }
        out("ref " + tv + " VA:" + ti + "\n");
        if (p.baseFile(f) >= 0)
            out("ref " + ti + " VA:" + p.typeinfo(p.baseFile(f)) + "\n");
        for (int t = 0; t < 2; ++t)
            for (long g = first; g < end; ++g)
                if (p.kind[g] == K_TMPL && (p.sub[g] >> 1) == t)
                    out("ref T:" + p.ns(f) + "::tmpl" + std::to_string(f) + "_" +
                        std::to_string(t) + " " + p.id(g) + "\n");

        for (long g = first; g < end; ++g) {
            std::string id = p.id(g);
            bool live = !p.dead[g];
            for (long c = p.childStart[g]; c < p.childStart[g + 1]; ++c)
                out("call " + id + " " + p.id(p.children[c]) + "\n");
            // Further calls: to a live function when the caller is live (a
            // dead callee must stay dead), to anything from a dead caller.
            int calls = static_cast<int>(rng.below(5)) + 1;
            for (int i = 0; i < calls; ++i) {
                long t;
                if (rng.chance(70))
                    t = first + rng.below(kPerFile);
                else
                    t = static_cast<long>(rng.below(static_cast<uint32_t>(p.n)));
                if (t == 0 || !p.ordinary(t) || (p.kind[t] == K_LF && t / kPerFile != f))
                    continue;
                if (live && p.dead[t])
                    continue;
                out("call " + id + " " + p.id(t) + "\n");
            }
            out("ref " + id + " " + u + "::g_var" + std::to_string(rng.below(10)) + "\n");
            if (p.kind[g] == K_CTOR) {
                out("ref " + id + " " + tv + "\n");
                if (p.baseFile(f) >= 0)
                    out("call " + id + " " + p.id(p.baseFile(f) * kPerFile + 1) + "\n");
            }
            if (p.kind[g] == K_VF && rng.chance(30)) {
                long t = first + 1 + rng.below(kPerFile - 1);
                if (p.ordinary(t) && (!live || !p.dead[t]))
                    out("call " + id + " " + p.id(t) + "\n");
            }
            if (p.kind[g] == K_INIT || p.kind[g] == K_HELPER) {
                long t = first + rng.below(kPerFile);
                if (p.ordinary(t) && !p.dead[t] && t != 0)
                    out("call " + id + " " + p.id(t) + "\n");
            }
            if (p.kind[g] == K_LF && live && rng.chance(20)) // its address is taken
                out("ref " + p.id(first) + " FA:" + id + "\n");
        }
        // Slot 0 of the unit, which is live, builds the class and calls its
        // virtual functions through base pointers; a unit whose hierarchy is
        // dead has a dead caller do so instead.
        bool treeDead = p.deadTree[f / kGroup];
        long caller = first;
        if (treeDead) {
            caller = -1;
            for (long g = first; g < end && caller < 0; ++g)
                if (p.dead[g] && p.ordinary(g))
                    caller = g;
        }
        if (caller >= 0) {
            std::string c = p.id(caller);
            out("call " + c + " " + p.id(first + 1) + "\n");
            for (int s = 0; s < kVirtuals; ++s) {
                long vf = p.vfOf(f, s);
                if (vf >= 0 && (p.baseFile(f) < 0 || rng.chance(25)))
                    out("CVF " + c + " " + p.id(vf) + "\n");
            }
        }
        // The header's helper is the same function in every unit of a
        // directory; one unit in ten uses it.
        for (long g = first; g < end && f % 10 == 3; ++g)
            if (p.kind[g] == K_HELPER)
                out("call " + p.id(first) + " " + p.id(g) + "\n");
    }

    out("\nFACT ATTRIBUTE :\n");
    for (long f = 0; f < p.files; ++f) {
        std::string u = p.unit(f);
        out(u + " { label = \"" + u + "\" args = (\"/proj/build\" \"/usr/bin/g++\" \"-c\" " +
            "\"-O2\" \"-I/proj/include\" \"-DNDEBUG\" \"-DVERSION=\\\"1.0\\\"\" \"" + p.path(f) +
            "\" \"-o\" \"obj/" + std::to_string(f) + ".o\") }\n");
        int line = 10;
        for (long g = f * kPerFile; g < (f + 1) * kPerFile; ++g) {
            std::string m = p.keepsMangle(g) ? " mangle = \"" + p.mangle(g) + "\"" : "";
            if (p.kind[g] == K_HELPER) {
                out(p.id(g) + " { label = \"" + p.label(g) + "\" file = \"" + p.header(f) +
                    "\" lineno = 12" + m + " }\n");
                continue;
            }
            out(p.id(g) + " { label = \"" + p.label(g) + "\" file = \"" + p.path(f) +
                "\" lineno = " + std::to_string(line) + m + " }\n");
            line += 7 + static_cast<int>(g % 23);
        }
        for (int v = 0; v < 10; ++v)
            out(u + "::g_var" + std::to_string(v) + " { label = g_var" + std::to_string(v) +
                " file = \"" + p.path(f) + "\" lineno = " + std::to_string(v + 1) + " }\n");
        out(p.vtable(f) + " { label = \"vtable for " + p.cls(f) + "\" mangle = " + p.vtable(f) +
            " }\n");
        out(p.typeinfo(f) + " { label = \"typeinfo for " + p.cls(f) +
            "\" mangle = " + p.typeinfo(f) + " }\n");
        for (int t = 0; t < 2; ++t)
            out("T:" + p.ns(f) + "::tmpl" + std::to_string(f) + "_" + std::to_string(t) +
                " { label = tmpl" + std::to_string(f) + "_" + std::to_string(t) + " file = \"" +
                p.path(f) + "\" lineno = 3 }\n");
    }
    long deadCount = 0;
    for (long g = 0; g < p.n; ++g)
        deadCount += p.dead[g];
    fprintf(stderr, "%ld functions in %ld units, about %ld dead\n", p.n, p.files, deadCount);
}

// ---------------------------------------------------------------- extremes

// main calls f1, f1 calls f2, ... : the search goes n deep. The last function
// is followed by one that nothing calls.
void writeCallChain(long n) {
    out("FACT TUPLE :\n$INSTANCE chain.cpp file\n$INSTANCE main GF\n");
    for (long i = 1; i <= n; ++i)
        out("$INSTANCE f" + std::to_string(i) + " GF\n");
    out("$INSTANCE orphan GF\ncontain chain.cpp main\ncall main f1\n");
    for (long i = 1; i < n; ++i)
        out("call f" + std::to_string(i) + " f" + std::to_string(i + 1) + "\n");
    out("FACT ATTRIBUTE :\nchain.cpp { label = chain.cpp }\nmain { label = main lineno = 1 }\n");
    for (long i = 1; i <= n; ++i)
        out("f" + std::to_string(i) + " { label = f" + std::to_string(i) +
            " file = /proj/chain" + std::to_string(i / 1000) + ".cpp lineno = " +
            std::to_string(i % 1000 + 1) + " }\n");
    out("orphan { label = orphan file = /proj/chain.cpp lineno = 99 }\n");
}

// c0 contains c1 contains ... c(n-1), address entities all: "main" refers to
// the deepest, and the address rule climbs to the function at the top. Two
// functions at the bottom have no "file", so their paths are built from all
// n containers; one of them is dead.
void writeContainChain(long n) {
    out("FACT TUPLE :\n$INSTANCE chain.cpp file\n$INSTANCE main GF\n$INSTANCE top GF\n");
    for (long i = 0; i < n; ++i)
        out("$INSTANCE c" + std::to_string(i) + " VA\n");
    out("$INSTANCE bottom GF\n$INSTANCE deadbottom GF\n");
    out("contain chain.cpp main\ncontain chain.cpp top\ncontain top c0\n");
    for (long i = 1; i < n; ++i)
        out("contain c" + std::to_string(i - 1) + " c" + std::to_string(i) + "\n");
    std::string last = "c" + std::to_string(n - 1);
    out("contain " + last + " bottom\ncontain " + last + " deadbottom\nref main " + last +
        "\ncall top bottom\n");
    out("FACT ATTRIBUTE :\nchain.cpp { label = chain.cpp }\nmain { label = main lineno = 1 }\n"
        "top { label = top lineno = 2 }\nbottom { label = bottom lineno = 3 }\n"
        "deadbottom { label = deadbottom lineno = 4 }\n");
    for (long i = 0; i < n; ++i)
        out("c" + std::to_string(i) + " { label = c" + std::to_string(i) + " }\n");
}

// Class Ci derives from C(i-1), for n levels. Every third level does not
// override vm, so its table holds the nearest override's address; every
// override is also called virtually. "main" calls the root's vm virtually.
void writeHierarchy(long n) {
    auto c = [](long i) { return comp("C" + std::to_string(i)); };
    auto vm = [&](long i) { return "_ZN" + c(i) + "2vmEv"; };
    auto overrides = [](long i) { return i == 0 || i % 3 != 0; };
    out("FACT TUPLE :\n$INSTANCE deep.cpp file\n$INSTANCE main GF\ncontain deep.cpp main\n");
    for (long i = 0; i < n; ++i) {
        std::string tv = "_ZTV" + c(i), ti = "_ZTI" + c(i);
        out("$INSTANCE " + tv + " TV\n$INSTANCE " + ti + " TI\n$INSTANCE VA:" + ti + " VA\n");
        if (overrides(i))
            out("$INSTANCE " + vm(i) + " VF\n$INSTANCE FA:" + vm(i) + " FA\n");
    }
    long impl = 0;
    for (long i = 0; i < n; ++i) {
        std::string tv = "_ZTV" + c(i), ti = "_ZTI" + c(i);
        if (overrides(i)) {
            impl = i;
            out("contain deep.cpp " + vm(i) + "\ncontain " + vm(i) + " FA:" + vm(i) + "\n");
            out("CVF main " + vm(i) + "\n");
        }
        out("contain " + ti + " VA:" + ti + "\nref " + tv + " FA:" + vm(impl) + "\nref " + tv +
            " VA:" + ti + "\n");
        if (i > 0)
            out("ref " + ti + " VA:_ZTI" + c(i - 1) + "\n");
    }
    out("FACT ATTRIBUTE :\ndeep.cpp { label = deep.cpp }\n"
        "main { label = main file = /proj/deep.cpp lineno = 1 }\n");
    for (long i = 0; i < n; ++i) {
        std::string tv = "_ZTV" + c(i), ti = "_ZTI" + c(i);
        out(tv + " { label = \"vtable for C" + std::to_string(i) + "\" mangle = " + tv + " }\n");
        out(ti + " { label = \"typeinfo for C" + std::to_string(i) + "\" mangle = " + ti + " }\n");
        if (overrides(i))
            out(vm(i) + " { label = C" + std::to_string(i) + "::vm file = /proj/deep.cpp lineno = " +
                std::to_string(i + 2) + " mangle = " + vm(i) + " }\n");
    }
}

} // namespace

int main(int argc, char** argv) {
    uint64_t seed = 1;
    const char* shapeP = "program";
    int i = 1;
    for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
        if (strcmp(argv[i], "--seed") == 0)
            seed = strtoull(argv[i + 1], nullptr, 10);
        else if (strcmp(argv[i], "--shape") == 0)
            shapeP = argv[i + 1];
        else
            break;
    }
    if (argc - i != 2 || atol(argv[i]) < 1) {
        fprintf(stderr,
                "usage: %s [--seed S] [--shape program|dense|callchain|containchain|hierarchy] N "
                "OUTPUT\n",
                argv[0]);
        return 1;
    }
    long n = atol(argv[i]);
    g_outP = fopen(argv[i + 1], "wb");
    if (g_outP == nullptr) {
        perror(argv[i + 1]);
        return 1;
    }
    static char buffer[1 << 20];
    setvbuf(g_outP, buffer, _IOFBF, sizeof buffer);
    if (strcmp(shapeP, "program") == 0 || strcmp(shapeP, "dense") == 0) {
        Program p;
        p.dense = strcmp(shapeP, "dense") == 0;
        p.n = n;
        p.seed = seed;
        planProgram(p);
        writeProgram(p);
    } else if (strcmp(shapeP, "callchain") == 0) {
        writeCallChain(n);
    } else if (strcmp(shapeP, "containchain") == 0) {
        writeContainChain(n);
    } else if (strcmp(shapeP, "hierarchy") == 0) {
        writeHierarchy(n);
    } else {
        fprintf(stderr, "unknown shape %s\n", shapeP);
        return 1;
    }
    if (fclose(g_outP) != 0) {
        perror(argv[i + 1]);
        return 1;
    }
    return 0;
}
