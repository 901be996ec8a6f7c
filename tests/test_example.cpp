// The bundled example end to end: its report, and guarding its sources with
// the write and update modes, after which they still build, run and give
// their functions back under -D_DEAD_.
#include "cli.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

// A copy of the example and its facts, naming the copy.
struct Example {
    std::string dir = makeTempDir();
    std::string facts = dir + "/shapes.ta";

    Example() {
        std::string src = std::string(LOPWORT_SOURCE_DIR) + "/examples/shapes/";
        for (const char* name : {"shapes.h", "shapes.cpp", "main.cpp"})
            writeFile(dir + "/" + name, readFile(src + name));
        std::string ta = readFile(src + "shapes.ta.in");
        for (size_t at; (at = ta.find("@EXAMPLE_DIR@")) != std::string::npos;)
            ta.replace(at, 13, dir);
        writeFile(facts, ta);
    }
    ~Example() { std::system(("rm -rf '" + dir + "'").c_str()); }

    int build(const std::string& extra, const std::string& mainFile = "main.cpp",
              const std::string& shapesFile = "shapes.cpp") {
        std::string cmd = "cd '" + dir + "' && /usr/bin/g++ -Wall -Werror -x c++ " + extra + " " +
                          mainFile + " " + shapesFile + " -o prog 2>&1";
        return std::system(cmd.c_str());
    }
    std::string runProg() { return runProgram(dir + "/prog", {}).out; }
};

TEST(Example, ReportsTheTrulyDeadFunctionsOnly) {
    Example ex;
    RunResult r = runLopwort({ex.facts});
    EXPECT_EQ(r.out, versionLine() + ex.dir + "/main.cpp \n"
                         "\t(LF) never_used:18 dead code\n" +
                         ex.dir + "/shapes.cpp \n"
                         "\t(GF) unused_report:30 dead code\n"
                         "\t(LF) unused_helper:32 dead code\n"
                         "\t(GF) uses_unused_helper:34 dead code\n"
                         "0 lines of code #ifdef'd out\n"
                         "4 functions are dead\n");
    EXPECT_EQ(r.err, "");
}

TEST(Example, WrittenCopiesBuildWithAndWithoutTheirDeadFunctions) {
    Example ex;
    std::string before = readFile(ex.dir + "/shapes.cpp");
    ASSERT_EQ(ex.build("-Wno-unused-function"), 0);
    std::string output = ex.runProg();
    RunResult r = runLopwort({"-w", "-p", ex.dir, ex.facts});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\t(LF) never_used:18 wrote\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("2 files updated\n"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(ex.dir + "/shapes.cpp"), before);
    ASSERT_EQ(ex.build("-I.", "main.cpp.dead", "shapes.cpp.dead"), 0);
    EXPECT_EQ(ex.runProg(), output);
    EXPECT_NE(ex.build("-I. -D_DEAD_", "main.cpp.dead", "shapes.cpp.dead"), 0);
    EXPECT_EQ(ex.build("-I. -D_DEAD_ -Wno-unused-function", "main.cpp.dead", "shapes.cpp.dead"), 0);
}

TEST(Example, UpdatedSourcesStillBuildAndRun) {
    Example ex;
    // The original has an unused static function, which guarding removes.
    ASSERT_EQ(ex.build("-Wno-unused-function"), 0);
    std::string output = ex.runProg();
    RunResult r = runLopwort({"-u", "-p", ex.dir, ex.facts});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\t(GF) unused_report:30 update\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("4 functions are dead\n2 files updated\n"), std::string::npos) << r.out;
    std::string guarded = readFile(ex.dir + "/shapes.cpp");
    EXPECT_NE(guarded.find("#ifndef _DEAD_"), std::string::npos);
    ASSERT_EQ(ex.build(""), 0);
    EXPECT_EQ(ex.runProg(), output);
    // The guarded functions come back with -D_DEAD_: never_used is then an
    // unused static function, which -Werror would refuse.
    EXPECT_NE(ex.build("-D_DEAD_"), 0);
    EXPECT_EQ(ex.build("-D_DEAD_ -Wno-unused-function"), 0);
}

} // namespace
