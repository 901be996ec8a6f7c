// lopwort-facts as a command: its options, the databases it accepts and
// refuses, units that do not parse, and compile commands that must reach
// lopwort's preprocessor run word for word.
#include "facts_project.h"

#include <gtest/gtest.h>

namespace {

RunResult facts(const std::vector<std::string>& args) {
    return runProgram(LOPWORT_FACTS_BIN, args);
}

TEST(FactsCli, RefusesBadOptionsAndBadDatabases) {
    FactsProject p;
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{}, "no compilation database given"},
        {{"--frobnicate", "x.json"}, "unknown option --frobnicate"},
        {{"-j", "0", "x.json"}, "-j needs a number from 1 to 256, not 0"},
        {{"-jx", "x.json"}, "-j needs a number from 1 to 256, not x"},
        {{"-o"}, "-o needs a value"},
        {{"a.json", "b.json"}, "more than one database given"},
        {{"--exported", p.dir + "/none", "x.json"}, "--exported " + p.dir + "/none: no such"},
        {{p.dir + "/missing.json"}, "cannot read " + p.dir + "/missing.json"},
    };
    for (const Case& c : cases) {
        RunResult r = facts(c.args);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    std::string texts[][2] = {
        {"{\"not\": \"a list\"}", "not a compilation database"},
        {"[{\"directory\": \"/tmp\", \"file\": \"a.c\"", "is not JSON"},
        {"[]", "holds no unit to parse"},
        {"[{\"file\": \"a.c\", \"arguments\": [\"cc\"]}, 7]",
         "entry 1 lacks \"directory\" or \"file\"; skipped"},
        {"[{\"directory\": \"/tmp\", \"file\": \"a.c\", \"command\": \"cc 'a.c\"}]",
         "unterminated quote"},
        {"[{\"directory\": \"tmp\", \"file\": \"a.c\", \"command\": \"cc a.c\"}]",
         "relative \"directory\""},
    };
    for (const auto& t : texts) {
        writeFile(p.dir + "/db.json", t[0]);
        RunResult r = facts({p.dir + "/db.json"});
        EXPECT_EQ(r.status, 1) << t[0];
        EXPECT_NE(r.err.find(t[1]), std::string::npos) << r.err;
    }
}

// A unit that does not parse is silent about what it calls: by default
// nothing is written; with --keep-going, whatever it could use stays alive.
TEST(FactsCli, AUnitThatDoesNotParseWritesNothingOrKeepsAliveWhatItCouldUse) {
    FactsProject p;
    p.file("lib.h", "int used_by_bad(void);\nint declared_for_bad(void);\n");
    p.file("lib.c", R"(#include "lib.h"
int used_by_bad(void) { return 1; }
int declared_for_bad(void) { return 2; }
int named_in_bad(void) { return 3; }
int unused(void) { return 4; }
int main(void) { return 0; }
)");
    p.file("bad.c", R"(#include "lib.h"
int named_in_bad(void);
static int bad_own(void) { return used_by_bad(); }
int bad_entry(void) { return bad_own() + named_in_bad() + __builtin_no_such_thing(); }
)");
    p.file("broken.c", "int broken( { return; }\n");
    p.unit("lib.c", {"-c", "lib.c"}, "/usr/bin/gcc");
    p.unit("bad.c", {"-c", "bad.c"}, "/usr/bin/gcc");
    p.unit("broken.c", {"-c", "broken.c"}, "/usr/bin/gcc");
    RunResult r = p.extract({"-j", "2"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find(p.dir + "/bad.c: does not parse: bad.c:4:59: use of unknown builtin"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(p.dir + "/broken.c: does not parse: broken.c:1:"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("2 of 3 units did not parse; no facts written"), std::string::npos)
        << r.err;
    EXPECT_EQ(access((p.dir + "/facts.ta").c_str(), F_OK), -1);

    r = p.extract({"-j", "2", "--keep-going"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("2 of 3 units did not parse; what they could use is kept alive"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(p.dead(), (std::set<std::string>{"unused:5"}));
}

TEST(FactsCli, CommandsSplitLikeAShellAndCompilersBecomeAbsolute) {
    FactsProject p;
    p.file("a.c", "int main(void) { return GREETING[0] == 'h' ? 0 : 1; }\n");
    std::string entry = "[{\"directory\": \"" + p.dir +
                        "\", \"file\": \"a.c\", \"command\": \"gcc -DGREETING='\\\"hello world\\\"' "
                        "-c a.c -o a.o\"}]";
    writeFile(p.dir + "/db.json", entry);
    RunResult r = facts({"-o", p.dir + "/facts.ta", p.dir + "/db.json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(readFile(p.dir + "/facts.ta")
                  .find("args = (" + p.dir + " /usr/bin/gcc \"-DGREETING=\\\"hello\\ world\\\"\""
                        " -c a.c -o a.o)"),
              std::string::npos)
        << readFile(p.dir + "/facts.ta");
}

// Words that lopwort's value reader would split, drop or refuse (blanks,
// parentheses, braces, commas, "=", quotes, backslashes) must come back as
// the same words when lopwort runs the recorded command.
TEST(FactsCli, RecordedArgumentsReachLopwortsPreprocessorWordForWord) {
    FactsProject p;
    p.file("dir with blank/inc.h", "#define FROM_INCLUDE 1\n");
    p.file("a.cpp", R"(#include "inc.h"
static const char text[] = QUOTED;
int F(1) { return FROM_INCLUDE + WEIRD; }
int dead_one() { return 2; }
int main() { return text[0] == 'x' ? g1() - 1 : 1; }
)");
    std::vector<std::string> words = {"-I",         "dir with blank", "-DF(x)=g##x()",
                                      "-DQUOTED=\"x\\\\y\"", "-DWEIRD=int{0}+(1,0)",
                                      "-c",         "a.cpp",          "-o",
                                      "a.o"};
    p.unit("a.cpp", words);
    RunResult r = p.extract();
    ASSERT_EQ(r.status, 0) << r.err;
    r = runLopwort({"-r", "-t", p.dir + "/facts.ta"});
    std::string expected = p.dir + " /usr/bin/g++ -E -ftabstop=1 -I dir with blank -DF(x)=g##x() "
                                   "-DQUOTED=\"x\\\\y\" -DWEIRD=int{0}+(1,0) a.cpp \n";
    EXPECT_NE(r.err.find(expected), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("(GF) dead_one:4 read"), std::string::npos) << r.out;
}

// gcc names a header found next to its includer after the includer's own
// name; clang may not. The "file" of a function must be the recorded
// compiler's spelling, or lopwort's scan never matches it.
TEST(FactsCli, FileNamesAreSpelledAsTheRecordedCompilerSpellsThem) {
    for (const char* compiler : {"/usr/bin/g++", "/usr/bin/clang++"}) {
        if (access(compiler, X_OK) != 0)
            continue;
        FactsProject p;
        p.file("src/h.h", "static inline int in_header() { return 1; }\n");
        p.file("src/a.cpp", "#include \"h.h\"\nint main() { return 0; }\n");
        p.file("build/.keep", "");
        p.unit("../src/./a.cpp", {"-c", "../src/./a.cpp", "-o", "a.o"}, compiler);
        // The unit runs in build/, naming its source through a detour.
        std::string db = p.database();
        std::string text = readFile(db);
        text.replace(text.find(p.dir + "\""), p.dir.size() + 1, p.dir + "/build\"");
        writeFile(db, text);
        ASSERT_EQ(runProgram(LOPWORT_FACTS_BIN, {"-o", p.dir + "/facts.ta", db}).status, 0);
        RunResult r = runLopwort({"-r", p.dir + "/facts.ta"});
        EXPECT_NE(r.out.find("(LF) in_header:1 read"), std::string::npos) << compiler << r.out;
        EXPECT_NE(r.out.find(p.dir + "/build/../src/./h.h \n"), std::string::npos)
            << compiler << r.out;
    }
}

} // namespace

namespace {

TEST(FactsCli, CompilerThatCannotRunAndOutputThatCannotBeWritten) {
    FactsProject p;
    p.file("a.cpp", "int main() { return 0; }\nint unused() { return 1; }\n");
    p.unit("a.cpp", {"-c", "a.cpp"}, "/nonexistent/g++");
    RunResult r = p.extract();
    // The parse does not need the compiler; the spelling falls back to
    // real paths, with a warning, and lopwort's own run will fail likewise.
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("file names spelled as real paths: cannot run /nonexistent/g++"),
              std::string::npos)
        << r.err;
    EXPECT_NE(p.facts().find("args = (" + p.dir + " /nonexistent/g++ -c a.cpp)"),
              std::string::npos);
    r = runProgram(LOPWORT_FACTS_BIN, {"-o", p.dir + "/no/such/dir/f.ta", p.database()});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot write " + p.dir + "/no/such/dir/f.ta"), std::string::npos);
}

} // namespace
