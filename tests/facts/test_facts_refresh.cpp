// Guards over time: a tree guarded by an earlier run is extracted and
// stripped again after its code changed. The guards that come out must be
// those of a fresh run on the changed tree without guards, and the tree
// must build and behave as before.
#include "facts_project.h"

#include <gtest/gtest.h>
#include <regex>

namespace {

std::string plain(const std::string& text) {
    static const std::regex stampOrDate(
        "_DEAD_[0-9]{14}|[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} "
        "[0-9]{4}");
    return std::regex_replace(text, stampOrDate, "S");
}

const char* const kFiles[] = {"src/util.h", "src/main.cpp", "src/lib.cpp", "src/other.cpp"};

// A program whose guards change when main changes: revived and
// only_dead_here are dead at first, lib_b after the change.
void writeProgram(FactsProject& p, bool changed) {
    p.file("src/util.h", "#pragma once\n"
                         "inline int live_inline(int x) { return x + 1; }\n"
                         "inline int dead_inline(int x) { return x * 3; }\n"
                         "template <class T> T twice(T x) { return x + x; }\n"
                         "int lib_a(int);\nint lib_b(int);\nint revived(int);\n"
                         "int only_dead_here(int);\n");
    p.file("src/main.cpp",
           std::string("#include \"util.h\"\n#include <cstdio>\n\n"
                       "static int local_dead(int x) { return x - 1; }\n\n"
                       "int main(int argc, char**) {\n"
                       "    int v = lib_a(argc) + live_inline(2);\n") +
               (changed ? "    v += revived(argc) + only_dead_here(3);\n"
                        : "    v += lib_b(argc);\n") +
               "    std::printf(\"%d\\n\", v);\n    return 0;\n}\n");
    p.file("src/lib.cpp", "#include \"util.h\"\n\n"
                          "int lib_a(int x) { return twice(x); }\n\n"
                          "int lib_b(int x)\n{\n    return x + 40;\n}\n\n"
                          "int revived(int x)\n{\n    return dead_inline(x) + 7;\n}\n");
    p.file("src/other.cpp", "#include \"util.h\"\n\n"
                            "/* squares */\nint only_dead_here(int x)\n{\n    return x * x;\n}\n");
}

std::string build(FactsProject& p, const std::string& extra = "") {
    EXPECT_EQ(p.shell("/usr/bin/g++ -O1 " + extra + " -o prog src/main.cpp src/lib.cpp "
                      "src/other.cpp"),
              0);
    return runProgram(p.dir + "/prog", {}).out;
}

void addUnits(FactsProject& p) {
    for (const char* unit : {"src/main.cpp", "src/lib.cpp", "src/other.cpp"})
        p.unit(unit);
}

TEST(FactsRefresh, AChangedGuardedTreeGetsTheGuardsOfAFreshRun) {
    FactsProject p;
    writeProgram(p, false);
    addUnits(p);
    std::string unchangedOther = readFile(p.dir + "/src/other.cpp");
    ASSERT_EQ(p.extract().status, 0);
    RunResult r = runLopwort({"-u", "-p", p.dir, p.dir + "/facts.ta"});
    ASSERT_NE(r.out.find("(GF) only_dead_here:4 update"), std::string::npos) << r.out;
    EXPECT_EQ(build(p), "46\n");

    // New code calls two guarded functions, and lib_b loses its last call:
    // the line changes in the guarded main.cpp.
    std::string mainText = readFile(p.dir + "/src/main.cpp");
    size_t at = mainText.find("    v += lib_b(argc);\n");
    ASSERT_NE(at, std::string::npos);
    mainText.replace(at, 22, "    v += revived(argc) + only_dead_here(3);\n");
    p.file("src/main.cpp", mainText);
    r = p.extract();
    ASSERT_EQ(r.status, 0) << r.err;
    r = runLopwort({"-s", "-p", p.dir, p.dir + "/facts.ta"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("(GF) lib_b:"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("revived"), std::string::npos) << r.out;
    EXPECT_EQ(build(p), "24\n");
    // A file with nothing dead now is given back whole, header included.
    EXPECT_EQ(readFile(p.dir + "/src/other.cpp"), unchangedOther);

    FactsProject fresh;
    writeProgram(fresh, true);
    addUnits(fresh);
    ASSERT_EQ(fresh.extract().status, 0);
    r = runLopwort({"-u", "-p", fresh.dir, fresh.dir + "/facts.ta"});
    for (const char* file : kFiles)
        EXPECT_EQ(plain(readFile(p.dir + "/" + file)), plain(readFile(fresh.dir + "/" + file)))
            << file;
    EXPECT_EQ(build(p, "-D_DEAD_"), "24\n");
}

TEST(FactsRefresh, TheBundledExampleRefreshedUnchangedKeepsItsGuards) {
    FactsProject p;
    std::string src = std::string(LOPWORT_SOURCE_DIR) + "/examples/shapes/";
    for (const char* name : {"shapes.h", "shapes.cpp", "main.cpp"})
        p.file(name, readFile(src + name));
    p.unit("shapes.cpp");
    p.unit("main.cpp");
    auto buildAndRun = [&] {
        EXPECT_EQ(p.shell("/usr/bin/g++ -o prog main.cpp shapes.cpp"), 0);
        return runProgram(p.dir + "/prog", {}).out;
    };
    std::string output = buildAndRun();
    ASSERT_EQ(p.extract().status, 0);
    RunResult r = runLopwort({"-u", "-p", p.dir, p.dir + "/facts.ta"});
    EXPECT_NE(r.out.find("4 functions are dead\n2 files updated\n"), std::string::npos) << r.out;
    std::string guarded[] = {plain(readFile(p.dir + "/main.cpp")),
                             plain(readFile(p.dir + "/shapes.cpp"))};

    ASSERT_EQ(p.extract().status, 0);
    r = runLopwort({"-s", "-p", p.dir, p.dir + "/facts.ta"});
    EXPECT_NE(r.out.find("\t(GF) unused_report:35 stripped\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("4 functions are dead\n2 files updated\n"), std::string::npos) << r.out;
    EXPECT_EQ(plain(readFile(p.dir + "/main.cpp")), guarded[0]);
    EXPECT_EQ(plain(readFile(p.dir + "/shapes.cpp")), guarded[1]);
    EXPECT_EQ(buildAndRun(), output);
}

} // namespace
