// The section reader: headers, triples and attribute records, with the exact
// messages and statuses of malformed input (seen through the program), and
// what a record stores or skips (seen in the fact base).
#include "LandscapeTokenStream.h"

#include "EntityClass.h"
#include "EntityInstance.h"
#include "RelationInstance.h"
#include "TaInput.h"
#include "cli.h"

#include <gtest/gtest.h>

namespace {

RunResult runOn(const std::string& facts) {
    RunOptions o;
    o.input = facts;
    o.hasInput = true;
    return runLopwort({}, o);
}

const std::string kSummary = "0 lines of code #ifdef'd out\n0 functions are dead\n";

TEST(SectionReader, MalformedHeadersAndTriplesEndTheRun) {
    struct Row {
        std::string in, err;
    } rows[] = {
        {"foo", "*** Error (1): Expecting section type id. Found 'EOF'\n"},
        {"\n\n{", "*** Error (3): Expecting graph id. Found '(null)'\n"},
        {": x :", "*** Error (1): Expecting graph id. Found ':'\n"},
        {"FACT TUPLE x", "*** Error (1): Expecting ':'. Found 'x'\n"},
        {"FACT TUPLE \":\"", "*** Error (1): Expecting ':'. Found ':'\n"},
        {"FACT TUPLE", "*** Error (1): Expecting ':'. Found 'EOF'\n"},
        {"FACT END :", "*** Error (1): Bad section type. Found ':'\n"},
        {"scheme bogus :", "*** Error (1): Bad section type. Found ':'\n"},
        {"FOO TUPLE :", "*** Error (1): Bad section type id. Found ':'\n"},
        {"SCHEME TUPLE :\n( a b", "*** Error (2): Expecting word verb token. Found '(null)'\n"},
        {"SCHEME TUPLE :\nv ( a b", "*** Error (2): Expecting word object token. Found 'b'\n"},
        {"SCHEME TUPLE :\nv a {", "*** Error (2): Expecting word subject token. Found '(null)'\n"},
        {"SCHEME TUPLE :\nv a (b", "*** Error (2): Expecting word subject token. Found 'EOF'\n"},
        {"SCHEME TUPLE :\nv (a) :", "*** Error (2): Expecting word subject token. Found ':'\n"},
        {"FACT TUPLE :\n= a b", "*** Error (2): Expecting word token. Found '(null)'\n"},
        {"FACT TUPLE :\na", "*** Error (2): Expecting word token. Found 'EOF'\n"},
        {"FACT TUPLE :\na b {", "*** Error (2): Error in tuple parse. Found '(null)'\n"},
        {"FACT TUPLE :\na b c\nFACT", "*** Error (3): Expecting word token. Found 'EOF'\n"},
        {"FACT TUPLE :\na b c\nFACT BAD :", "*** Error (3): Bad section type. Found ':'\n"},
        {"FACT ATTRIBUTE :\nx { }\nx y :", "*** Error (3): Bad section type id. Found ':'\n"},
    };
    for (const Row& r : rows) {
        RunResult res = runOn(r.in);
        EXPECT_EQ(res.err, r.err + "Exit code 1\n") << r.in;
        EXPECT_EQ(res.out, versionLine()) << r.in;
        EXPECT_EQ(res.status, 1) << r.in;
    }
}

TEST(SectionReader, BadRecordsAreReportedAndSkipped) {
    struct Row {
        std::string in, err;
    } rows[] = {
        {"SCHEME ATTRIBUTE :\n( } A { x }", "*** Error (2):Expected ( <relation class name>\n"},
        {"SCHEME ATTRIBUTE :\n(r x", "*** Error (2):Expected ( ... <)>\n"},
        {"SCHEME ATTRIBUTE :\n(r) x }", "*** Error (2):Expected (...) <{>\n"},
        {"SCHEME ATTRIBUTE :\nA = }", "*** Error (2):Expecting ... <{>\n"},
        {"SCHEME ATTRIBUTE :\nA B C }", "*** Error (2):Expecting section header or id <{>\n"},
        {"SCHEME ATTRIBUTE :\n} x", "*** Error (2):Expecting object id\n"},
        {"FACT ATTRIBUTE :\n( { }", "*** Error (2):Expected ( <class> src dst )\n"},
        {"FACT ATTRIBUTE :\n(r { }", "*** Error (2):Expected ( token1 <src> dst)\n"},
        {"FACT ATTRIBUTE :\n(r a { }", "*** Error (2):Expected ( token1 token2 <dst>)\n"},
        {"FACT ATTRIBUTE :\n(r a b c)", "*** Error (2):Expected (token1 token2 token3 <)>\n"},
        {"FACT ATTRIBUTE :\n(r a b) x }", "*** Error (2):Expected (...) <{>\n"},
        {"FACT ATTRIBUTE :\na = }", "*** Error (2):Expecting token1 <{>\n"},
        {"FACT ATTRIBUTE :\na b c }", "*** Error (2):Expecting section header or id <{>\n"},
        {"FACT ATTRIBUTE :\n: }", "*** Error (2):Expecting object id\n"},
        {"FACT ATTRIBUTE :\na { x = 1 : }",
         "*** Error (2): Expected attribute id:. Found ':'\n*** Error (2):Expecting object id\n"},
        {"FACT ATTRIBUTE :\na { x", "*** Error (2): Expected attribute id:. Found 'EOF'\n"},
        // The rest of a broken block is read as the next record.
        {"FACT ATTRIBUTE :\na { x = 1\n( y }",
         "*** Error (3): Expected attribute id:. Found '(null)'\n"
         "*** Error (3):Expecting token1 <{>\n"},
        {"SCHEME ATTRIBUTE :\nA { x = ( ) }\nFACT TUPLE :\na b c",
         "Empty nesting of () at 2\n"},
    };
    for (const Row& r : rows) {
        RunResult res = runOn(r.in);
        EXPECT_EQ(res.err, r.err) << r.in;
        EXPECT_EQ(res.out, versionLine() + kSummary) << r.in;
        EXPECT_EQ(res.status, 0) << r.in;
    }
}

TEST(SectionReader, ValidFilesLoad) {
    const std::string facts = "// facts\nScheme Tuple :\ncall GF GF\n"
                              "SCHEME ATTRIBUTE :\nGF { class_label = \"global function\" }\n"
                              "FACT TUPLE :\n$INSTANCE main GF\n"
                              "fact attribute :\nmain { label = main lineno = 3 }\n"
                              "SCHEME END :\nthis is not read";
    RunResult res = runOn(facts);
    EXPECT_EQ(res.err, "");
    EXPECT_EQ(res.out, versionLine() + kSummary);
    EXPECT_EQ(res.status, 0);
}

void load(const std::string& text) {
    std::string dir = makeTempDir();
    writeFile(dir + "/f.ta", text);
    ta.loadTA((dir + "/f.ta").c_str());
    unlink((dir + "/f.ta").c_str());
    rmdir(dir.c_str());
}

TEST(SectionReader, RecordsStoreWhatPrecedesAnError) {
    testing::internal::CaptureStderr();
    load("FACT ATTRIBUTE :\n"
         "a { x = 1 y z = (2) w }\n"
         "b { x = 1 ( q = 2 }\n"
         "c { x = 3 }\n"
         "(r a d) { weight = 5 }\n"
         "(r a d) { }\n"
         "$root { label = top }\n");
    testing::internal::GetCapturedStderr();
    CEntityInstance* aP = ta.getCache("a");
    ASSERT_NE(aP, nullptr);
    EXPECT_STREQ(aP->getAttribute("x"), "1");
    EXPECT_EQ(aP->getAttribute("y"), nullptr); // given without a value
    EXPECT_STREQ(aP->getAttribute("z"), "2");
    EXPECT_EQ(aP->getEntityClass(), ta.getEntityBaseClass());
    // "q" starts a record of its own: "q =" is a bad record up to "}".
    EXPECT_STREQ(ta.getCache("b")->getAttribute("x"), "1");
    EXPECT_EQ(ta.getCache("q"), nullptr);
    EXPECT_STREQ(ta.getCache("c")->getAttribute("x"), "3");
    // Both relation records name one relation, made by the first.
    CEntityInstance* dP = ta.getCache("d");
    ASSERT_NE(dP, nullptr);
    ASSERT_NE(aP->m_srcRelListP, nullptr);
    EXPECT_EQ(aP->m_srcRelListP->m_next_srcP, nullptr);
    EXPECT_EQ(aP->m_srcRelListP->m_dstP, dP);
    EXPECT_STREQ(ta.getRootInstance()->getLabel(), "top");
}

} // namespace
