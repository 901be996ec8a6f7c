// Loading into the fact base: the meaning of schema and fact triples, of
// $INHERIT and $INSTANCE, and of the order of sections; then the program on
// hostile input, which must load or fail with a message, never crash.
#include "TaInput.h"

#include "EntityClass.h"
#include "EntityClassPair.h"
#include "EntityInstance.h"
#include "RelationClass.h"
#include "RelationInstance.h"
#include "cli.h"
#include "xmalloc.h"

#include <gtest/gtest.h>
#include <random>

using namespace std::string_literals;

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Loads the text into the global fact base and returns what went to stderr.
std::string load(const std::string& text) {
    std::string dir = makeTempDir();
    writeFile(dir + "/f.ta", text);
    testing::internal::CaptureStderr();
    ta.loadTA((dir + "/f.ta").c_str());
    unlink((dir + "/f.ta").c_str());
    rmdir(dir.c_str());
    return testing::internal::GetCapturedStderr();
}

TEST(FactBase, FactTuplesAloneGetTheUniversalScheme) {
    EXPECT_EQ(load("FACT TUPLE :\n$INSTANCE f GF\ncall x y\ncall f x\ncall f x\n"), "");
    CEntityClassPair* pairP = ta.getRelationBaseClass()->getEntityClassPairs();
    ASSERT_NE(pairP, nullptr);
    EXPECT_EQ(pairP->m_entityClass1P, ta.getEntityBaseClass());
    EXPECT_EQ(pairP->m_entityClass2P, ta.getEntityBaseClass());
    EXPECT_EQ(ta.getRelationClass("call")->getParentClass(), ta.getRelationBaseClass());
    EXPECT_EQ(ta.getEntityClass("GF")->getParentClass(), ta.getEntityBaseClass());
    // Entities named only by relations are made in $ENTITY, source first.
    CEntityInstance* yP = ta.getEntityBaseClass()->m_entityInstancesP;
    EXPECT_STREQ(yP->getId(), "y");
    EXPECT_STREQ(yP->m_nextInClassP->getId(), "x");
    EXPECT_EQ(yP->m_nextInClassP->m_nextInClassP, ta.getRootInstance());
    // Each repeated fact is one more relation.
    CEntityInstance* fP = ta.getCache("f");
    ASSERT_NE(fP->m_srcRelListP, nullptr);
    EXPECT_NE(fP->m_srcRelListP->m_next_srcP, nullptr);
    EXPECT_EQ(fP->m_srcRelListP->m_next_srcP->m_next_srcP, nullptr);
}

TEST(FactBase, SchemaFirstNeverSetsUpTheUniversalScheme) {
    EXPECT_EQ(load("SCHEME TUPLE :\ncall GF GF\ncall GF GF\ncall GF LF\n"
                   "FACT TUPLE :\ncall a b\nSCHEME ATTRIBUTE :\n"),
              "");
    EXPECT_EQ(ta.getRelationBaseClass()->getEntityClassPairs(), nullptr);
    CEntityClassPair* pairP = ta.getRelationClass("call")->getEntityClassPairs();
    ASSERT_NE(pairP, nullptr);
    EXPECT_EQ(pairP->m_entityClass2P, ta.getEntityClass("LF"));
    ASSERT_NE(pairP->m_nextP, nullptr);
    EXPECT_EQ(pairP->m_nextP->m_entityClass2P, ta.getEntityClass("GF"));
    EXPECT_EQ(pairP->m_nextP->m_nextP, nullptr);
}

TEST(FactBase, InstanceRedeclarationWarnsOnlyForARealClassChange) {
    EXPECT_EQ(load("FACT TUPLE :\n$INSTANCE f GF\n$INSTANCE f GF\n$INSTANCE f LF\n"
                   "call g h\n$INSTANCE g GF\n$INSTANCE $ROOT T\n$INSTANCE $root T\n"),
              ">>> Warning (4):Redeclaration of f from instance of GF to instance of LF\n");
    CEntityInstance* fP = ta.getCache("f");
    EXPECT_EQ(fP->getEntityClass(), ta.getEntityClass("LF"));
    EXPECT_EQ(ta.getEntityClass("GF")->m_entityInstancesP, fP); // stays where it was made
    EXPECT_EQ(fP->m_nextInClassP, nullptr);
    EXPECT_EQ(ta.getCache("g")->getEntityClass(), ta.getEntityClass("GF"));
    EXPECT_EQ(ta.getRootInstance()->getEntityClass(), ta.getEntityClass("T"));
    CEntityInstance* otherP = ta.getCache("$root");
    ASSERT_NE(otherP, nullptr);
    EXPECT_NE(otherP, ta.getRootInstance());
}

TEST(FactBase, InheritanceAndItsRefusals) {
    EXPECT_EQ(load("SCHEME TUPLE :\n$INHERIT LF F\n$INHERIT $ENTITY X\n$INHERIT (r) ($RELATION)\n"
                   "$INHERIT ($RELATION) (r)\n$INHERIT (r2) s\ncall (a) b\n$INHERIT LF G\n"),
              "*** Error (3):$INHERIT $ENTITY X: Improper use of $ENTITY with $INHERIT\n"
              "*** Error (5):$INHERIT $RELATION r: Improper use of $RELATION with $INHERIT\n"
              "*** Error (6):Mismatched entity/relation with $INHERIT -- presuming both relations\n"
              "*** Error (7):Cannot create relationships between relationships\n");
    EXPECT_EQ(ta.getEntityClass("LF")->getParentClass(), ta.getEntityClass("G"));
    EXPECT_EQ(ta.getEntityClass("F")->getParentClass(), ta.getEntityBaseClass());
    EXPECT_EQ(ta.getEntityClass("X"), nullptr);
    EXPECT_EQ(ta.getRelationClass("r")->getParentClass(), ta.getRelationBaseClass());
    EXPECT_EQ(ta.getRelationClass("r2")->getParentClass(), ta.getRelationClass("s"));
    EXPECT_EQ(ta.getEntityClass("s"), nullptr);
    EXPECT_EQ(ta.getRelationClass("call"), nullptr);
    EXPECT_EQ(ta.getEntityClass("a"), nullptr);
}

RunResult runOn(const std::string& facts, long addressSpaceLimit = 0) {
    RunOptions o;
    o.input = facts;
    o.hasInput = true;
    o.addressSpaceLimit = addressSpaceLimit;
    return runLopwort({}, o);
}

const std::string kSummary = "0 lines of code #ifdef'd out\n0 functions are dead\n";

// Triples and records are read ahead in batches; whatever interrupts them,
// at any place in a batch, must be met at the same point of the input as if
// each were read alone: the same facts before it, the same message, the same
// line, and the same facts after it.
TEST(FactBase, BatchesEndWhereTheInputTurnsIrregular) {
    struct Irregular {
        std::string text;    // one record or triple, on one line
        std::string message; // what it prints, after "*** Error (LINE):" when not empty
    } records[] = {
        {"X { flag other = 2 }", ""},
        {"X { a = }", ""},
        {"(call X X) { w = 1 }", ""},
        {"$root { rootmark = 1 }", ""},
        {"X y { }", "Expecting section header or id <{>"},
        {"X = }", "Expecting token1 <{>"},
    };
    std::string text = "FACT TUPLE :\ncall a0 a1\nFACT ATTRIBUTE :\n";
    std::string want;
    int line = 4, n = 0;
    for (const Irregular& r : records) {
        for (int k = 0; k < 18; ++k, ++n) {
            std::string x = "x" + std::to_string(n);
            for (int i = 0; i < k; ++i, ++line)
                text += "g" + std::to_string(n) + "_" + std::to_string(i) + " { a = " +
                        std::to_string(i) + " b = 'v w' }\n";
            std::string t = r.text;
            for (size_t p; (p = t.find('X')) != std::string::npos;)
                t.replace(p, 1, x);
            text += t + "\n";
            if (!r.message.empty())
                want += "*** Error (" + std::to_string(line) + "):" + r.message + "\n";
            ++line;
            text += "h" + std::to_string(n) + " { a = after }\n";
            ++line;
        }
    }
    EXPECT_EQ(load(text), want);
    n = 0;
    for (const Irregular& r : records) {
        for (int k = 0; k < 18; ++k, ++n) {
            for (int i = 0; i < k; ++i) {
                CEntityInstance* gP = ta.getCache(("g" + std::to_string(n) + "_" + std::to_string(i)).c_str());
                ASSERT_NE(gP, nullptr);
                EXPECT_STREQ(gP->getAttribute("a"), std::to_string(i).c_str());
                EXPECT_STREQ(gP->getAttribute("b"), "'v w'");
            }
            CEntityInstance* hP = ta.getCache(("h" + std::to_string(n)).c_str());
            ASSERT_NE(hP, nullptr) << r.text << " after " << k;
            EXPECT_STREQ(hP->getAttribute("a"), "after");
            CEntityInstance* xP = ta.getCache(("x" + std::to_string(n)).c_str());
            if (r.text[0] == 'X' && r.message.empty()) {
                ASSERT_NE(xP, nullptr);
                if (r.text == "X { flag other = 2 }") {
                    EXPECT_EQ(xP->getAttribute("flag"), nullptr);
                    EXPECT_NE(xP->m_attributesP->nextP, nullptr); // flag is there
                    EXPECT_STREQ(xP->getAttribute("other"), "2");
                } else {
                    EXPECT_EQ(xP->getAttribute("a"), nullptr);
                    ASSERT_NE(xP->m_attributesP, nullptr);
                }
            }
        }
    }
    // "$root" in any letter case is the root, however the batch met it.
    EXPECT_STREQ(ta.getRootInstance()->getAttribute("rootmark"), "1");
}

// A fatal error in a triple, wherever it falls in a batch read ahead, ends
// the program after the warnings of the triples before it, with their lines.
TEST(LoadCli, TripleErrorsEndTheLoadWhereTheyStand) {
    struct Bad {
        std::string text, message;
    } bads[] = {
        {"call a (", "Error in tuple parse. Found '(null)'"},
        {"( a b", "Expecting word token. Found '(null)'"},
        {"call a b )", "Expecting word token. Found '(null)'"},
        {"call a )", "Error in tuple parse. Found '(null)'"},
        {"call a", "Error in tuple parse. Found 'EOF'"},
    };
    std::string dir = makeTempDir();
    for (const Bad& bad : bads) {
        for (int k : {0, 1, 30, 31, 32, 33, 64}) {
            std::string text = "FACT TUPLE :\n$INSTANCE w GF\n";
            std::string err;
            for (int i = 0; i < k; ++i) {
                const char* cls = i % 2 ? "GF" : "LF";
                text += "$INSTANCE w " + std::string(cls) + "\n";
                err += ">>> Warning (" + std::to_string(i + 3) + "):Redeclaration of w from instance of " +
                       (i % 2 ? "LF" : "GF") + " to instance of " + cls + "\n";
            }
            text += bad.text + "\n$INSTANCE w T\n";
            int line = k + 3;
            if (bad.text == "call a") // the end is met after the last line feed
                line = k + 4;
            err += "*** Error (" + std::to_string(line) + "): " + bad.message + "\nExit code 1\n";
            if (bad.text == "call a")
                text = text.substr(0, text.size() - std::string("$INSTANCE w T\n").size());
            writeFile(dir + "/f.ta", text);
            RunResult r = runLopwort({dir + "/f.ta"});
            EXPECT_EQ(r.status, 1) << bad.text << " after " << k;
            EXPECT_EQ(r.err, err) << bad.text << " after " << k;
        }
    }
    unlink((dir + "/f.ta").c_str());
    rmdir(dir.c_str());
}

// Words are read and hashed ahead of the fact base on a second thread. The
// fatal errors that reader meets must still end the program where the
// single-threaded reader ended it: after everything the batches before them
// printed.
TEST(LoadCli, TokenizerErrorsReadAheadEndTheLoadWhereTheyStand) {
    std::string dir = makeTempDir();
    for (int k : {0, 30, 31, 32, 95, 200}) {
        // Triples are taken 32 at a time; a NUL ends the program while its
        // batch is read, so only the warnings of whole batches before it
        // come out.
        std::string text = "FACT TUPLE :\n$INSTANCE w GF\n", err;
        int applied = (k + 1) / 32 * 32;
        for (int i = 0; i < k; ++i) {
            const char* cls = i % 2 ? "GF" : "LF";
            text += "$INSTANCE w " + std::string(cls) + "\n";
            if (i + 1 < applied)
                err += ">>> Warning (" + std::to_string(i + 3) + "):Redeclaration of w from instance of " +
                       (i % 2 ? "LF" : "GF") + " to instance of " + cls + "\n";
        }
        text += "call a"s + '\0' + "b c\n";
        err += "*** Error (" + std::to_string(k + 3) + "): NUL character in input\nExit code 1\n";
        writeFile(dir + "/f.ta", text);
        RunResult r = runLopwort({dir + "/f.ta"});
        EXPECT_EQ(r.status, 1) << k;
        EXPECT_EQ(r.err, err) << k;
        // The same in a value of the attribute section, after a message of
        // the reader that must come first.
        text = "FACT ATTRIBUTE :\n";
        for (int i = 0; i < k; ++i)
            text += "e" + std::to_string(i) + " { a = 1 }\n";
        text += "m { a = ( ) }\nz { a = \"x"s + '\0' + "\" }\n";
        writeFile(dir + "/f.ta", text);
        r = runLopwort({dir + "/f.ta"});
        EXPECT_EQ(r.status, 1) << k;
        EXPECT_EQ(r.err, "Empty nesting of () at " + std::to_string(k + 2) + "\n*** Error (" +
                             std::to_string(k + 3) + "): NUL character in input\nExit code 1\n")
            << k;
    }
    unlink((dir + "/f.ta").c_str());
    rmdir(dir.c_str());
}

TEST(LoadCli, InputsThatCannotBeReadEndWithStatusTwo) {
    std::string dir = makeTempDir();
    RunResult r = runLopwort({dir + "/missing.ta"});
    EXPECT_EQ(r.err, "Can't open " + dir + "/missing.ta\nExit code 2\n");
    EXPECT_EQ(r.status, 2);
    r = runLopwort({dir});
    EXPECT_EQ(r.err, "Can't open " + dir + "\nExit code 2\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, versionLine());
    rmdir(dir.c_str());
    RunOptions closed;
    closed.closeStdin = true;
    r = runLopwort({}, closed);
    EXPECT_EQ(r.err, "Can't read standard input\nExit code 2\n");
    EXPECT_EQ(r.status, 2);
}

TEST(LoadCli, HostileButWellFormedInputsLoad) {
    std::string huge(6 * 1024 * 1024, 'w');
    std::string deep = std::string(50000, '(') + "x" + std::string(50000, ')');
    for (const std::string& in :
         {"FACT TUPLE :\na b " + huge + "\n", "FACT ATTRIBUTE :\na { v = " + deep + " }",
          "FACT TUPLE :\na b c /* never closed"s, "FACT TUPLE :\na b c // \r"s,
          "FACT TUPLE :\na b c /* \0\xff */ \xfe\x01 b c"s,
          // Batches of nothing but empty words.
          "FACT TUPLE :\n\"\" '' \"\"\nFACT ATTRIBUTE :\n'' { '' = '' }\n"s}) {
        RunResult r = runOn(in);
        EXPECT_EQ(r.err, "") << in.substr(0, 40);
        EXPECT_EQ(r.out, versionLine() + kSummary) << in.substr(0, 40);
        EXPECT_EQ(r.status, 0) << in.substr(0, 40);
    }
    // An unterminated quote ends the token, which still counts.
    RunResult r = runOn("FACT TUPLE :\na b \"c d");
    EXPECT_EQ(r.out, versionLine() + "Unterminated \" in input\n" + kSummary);
    EXPECT_EQ(r.status, 0);
    r = runOn("FACT TUPLE :\na b c\nx\0y z w"s);
    EXPECT_EQ(r.err, "*** Error (3): NUL character in input\nExit code 1\n");
    EXPECT_EQ(r.status, 1);
}

// Random mixtures of TA fragments and raw bytes: each must load or end with
// a message and status 1, never with a signal or another status.
TEST(LoadCli, RandomInputsLoadOrFailCleanly) {
    const char* fragments[] = {"SCHEME", "FACT",     "TUPLE", "ATTRIBUTE", ":",  "END",
                               "$INHERIT", "$INSTANCE", "$ROOT", "(",      ")",  "{",
                               "}",      "=",        "\"",    "'",         "\\", "/*",
                               "*/",     "//",       "\n",    " ",         "a",  "b"};
    std::mt19937 rng(20240531);
    for (int i = 0; i < 150; ++i) {
        std::string in = i % 2 ? "FACT ATTRIBUTE :\n" : "SCHEME TUPLE :\n";
        int n = 1 + rng() % 60;
        for (int k = 0; k < n; ++k) {
            if (rng() % 5 == 0)
                in += static_cast<char>(rng() % 256);
            else
                in += fragments[rng() % (sizeof fragments / sizeof *fragments)];
            if (rng() % 2)
                in += ' ';
        }
        RunResult r = runOn(in);
        ASSERT_TRUE(r.status == 0 || r.status == 1) << r.status << " on " << in;
        if (r.status == 1)
            EXPECT_TRUE(endsWith(r.err, "Exit code 1\n")) << in;
        else
            EXPECT_TRUE(endsWith(r.out, kSummary)) << in;
    }
}

TEST(LoadCli, AnEnormousTokenRunsOutOfMemoryCleanly) {
#ifdef LOPWORT_ASAN
    GTEST_SKIP() << "address-space limits do not work under AddressSanitizer";
#else
    RunResult r = runOn(std::string(96 * 1024 * 1024, 'x'), 64L * 1024 * 1024);
    EXPECT_EQ(r.err, "Out of memory\nExit code 4\n");
    EXPECT_EQ(r.out, versionLine());
    EXPECT_EQ(r.status, 4);
#endif
}

} // namespace
