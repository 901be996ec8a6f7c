// The report as JSON and SARIF: the bundled example's documents against
// copies kept beside the tests, the plain output unchanged by them, a
// document on standard output in place of the plain one, facts whose text
// JSON must escape, and documents that cannot be written.
#include "cli.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace {

const std::string kSource = LOPWORT_SOURCE_DIR;
const std::string kExamples = kSource + "/examples";

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// The example's facts, naming its sources where they are.
std::string exampleFacts(const std::string& dir) {
    std::string facts = dir + "/shapes.ta";
    writeFile(facts, replaceAll(readFile(kExamples + "/shapes/shapes.ta.in"), "@EXAMPLE_DIR@",
                                kExamples + "/shapes"));
    return facts;
}

// A document with the machine's paths put back as placeholders.
std::string portable(const std::string& text, const std::string& dir) {
    return replaceAll(replaceAll(text, dir, "@TMP@"), kSource, "@SOURCE@");
}

TEST(Document, TheExampleAsJsonAndSarif) {
    std::string dir = makeTempDir(), facts = exampleFacts(dir);
    RunResult plain = runLopwort({"-f", "-F", "-p", kExamples, facts});
    RunResult r = runLopwort({"-f", "-F", "-p", kExamples, "--json", dir + "/out.json", "--sarif",
                              dir + "/out.sarif", facts});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, plain.out); // the plain output is unchanged
    EXPECT_EQ(portable(readFile(dir + "/out.json"), dir),
              readFile(kSource + "/tests/data/example.json"));
    EXPECT_EQ(portable(readFile(dir + "/out.sarif"), dir),
              readFile(kSource + "/tests/data/example.sarif"));

    // "-" puts the document on standard output alone.
    r = runLopwort({"-f", "-F", "-p", kExamples, "--json", "-", facts});
    EXPECT_EQ(r.out, readFile(dir + "/out.json"));
    r = runLopwort({"-f", "-F", "-p", kExamples, "--sarif=-", "--json", dir + "/out.json", facts});
    EXPECT_EQ(r.out, readFile(dir + "/out.sarif"));
    r = runLopwort({"--json", "-", "--sarif", "-", facts});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "--json - and --sarif - cannot both write to standard output\n");
}

// In a source mode the extent of each guarded function is known, and its
// status is the one the plain report gives.
TEST(Document, SourceModeStatusesAndExtents) {
    std::string dir = makeTempDir();
    writeFile(dir + "/m.c", "int main(void)\n{\n    return 0;\n}\n\nint dead(int a)\n{\n"
                            "    return a;\n}\n");
    writeFile(dir + "/facts.ta", "FACT TUPLE :\n$INSTANCE m.c cFile\n$INSTANCE main GF\n"
                                 "$INSTANCE dead GF\ncontain m.c main\ncontain m.c dead\n"
                                 "FACT ATTRIBUTE :\nm.c { args = (" + dir +
                                     " /usr/bin/gcc -c m.c) }\nmain { label = main file = " +
                                     dir + "/m.c lineno = 1 }\ndead { label = dead file = " + dir +
                                     "/m.c lineno = 6 }\n");
    RunResult r = runLopwort({"-w", "-p", dir, "--sarif", "-", dir + "/facts.ta"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"uri\": \"m.c\",\n                  \"uriBaseId\": \"SRCROOT\""),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"startLine\": 6,\n                  \"endLine\": 9"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"status\": \"wrote\""), std::string::npos) << r.out;
}

// Labels and paths may hold any bytes; the document stays valid JSON.
TEST(Document, TextIsEscaped) {
    std::string facts = "FACT TUPLE :\n$INSTANCE f GF\nFACT ATTRIBUTE :\n"
                        "f { label = \"a\\\"b\\\\c\\td\x01\xe2\x82\xac\xff\" file = /p/x%y.c "
                        "lineno = 3 }\n";
    RunOptions o;
    o.input = facts;
    o.hasInput = true;
    RunResult r = runLopwort({"--json", "-"}, o);
    // The quotes around the label go; the escapes inside are the facts' own.
    EXPECT_NE(r.out.find("\"label\": \"a\\\\\\\"b\\\\\\\\c\\\\td\\u0001\xe2\x82\xac\\u00ff\""),
              std::string::npos)
        << r.out;
    r = runLopwort({"--sarif", "-"}, o);
    EXPECT_NE(r.out.find("\"uri\": \"file:///p/x%25y.c\""), std::string::npos) << r.out;
}

TEST(Document, ADocumentThatCannotBeWrittenFailsTheRun) {
    std::string dir = makeTempDir(), facts = exampleFacts(dir);
    mkdir((dir + "/taken").c_str(), 0755);
    for (const std::string& target : {dir + "/missing/out.json", dir + "/taken"}) {
        RunResult r = runLopwort({"--json", target, facts});
        EXPECT_EQ(r.status, 5) << target;
        EXPECT_EQ(r.err.compare(0, 15 + target.size(), "** Can't write " + target), 0) << r.err;
        EXPECT_NE(r.out.find("4 functions are dead\n"), std::string::npos);
    }
    struct stat st;
    EXPECT_EQ(stat((dir + "/missing").c_str(), &st), -1);
}

} // namespace
