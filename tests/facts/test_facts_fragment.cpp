// Extraction in steps and from the cache: one fragment per unit merged into
// the facts of a whole run, fragments that must be refused, and a cache that
// parses a unit again only when something its facts follow from changed.
#include "facts_project.h"

#include <gtest/gtest.h>

namespace {

// Three units sharing a header, one of them calling what another defines.
void writeProgram(FactsProject& p) {
    p.file("inc/shared.h", "#pragma once\ninline int shared_used(int x) { return x + 1; }\n"
                           "inline int shared_dead(int x) { return x - 1; }\n"
                           "int lib(int);\n");
    p.file("main.cpp", "#include \"inc/shared.h\"\nint main() { return lib(shared_used(1)); }\n");
    p.file("lib.cpp", "#include \"inc/shared.h\"\nint lib(int x) { return x; }\n"
                      "int lib_dead() { return 2; }\n");
    p.file("other.cpp", "#include \"inc/shared.h\"\nstatic int alone() { return 3; }\n"
                        "int other_dead() { return alone(); }\n");
    for (const char* unit : {"main.cpp", "lib.cpp", "other.cpp"})
        p.unit(unit, {"-Iinc", "-c", unit, "-o", std::string(unit) + ".o"});
}

// The facts without their first line, which names where they came from.
std::string body(const std::string& facts) { return facts.substr(facts.find('\n') + 1); }

std::string cacheOption(const FactsProject& p) { return p.dir + "/cache"; }

TEST(FactsFragment, UnitStepsMergedGiveTheFactsOfAWholeRun) {
    FactsProject p;
    writeProgram(p);
    RunResult whole = p.extract({"--no-cache"});
    ASSERT_EQ(whole.status, 0) << whole.err;
    std::string expected = body(p.facts());
    std::string db = p.database();
    // The units in another order than the database's, one named by path.
    std::vector<std::string> fragments;
    for (const char* unit : {"other.cpp", "main.cpp", "lib.cpp"}) {
        std::string fragment = p.dir + "/" + unit + ".fragment";
        std::string name = std::string(unit) == "main.cpp" ? p.dir + "/main.cpp" : unit;
        RunResult r = runProgram(LOPWORT_FACTS_BIN,
                                 {"--unit", name, "-o", fragment, "--no-cache", db},
                                 RunOptions{"", false, false, p.dir});
        ASSERT_EQ(r.status, 0) << r.err;
        fragments.push_back(fragment);
    }
    std::vector<std::string> merge = {"--merge", "-o", p.dir + "/merged.ta"};
    merge.insert(merge.end(), fragments.begin(), fragments.end());
    RunResult r = runProgram(LOPWORT_FACTS_BIN, merge);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(body(readFile(p.dir + "/merged.ta")), expected);
    EXPECT_EQ(readFile(p.dir + "/merged.ta").substr(0, 47),
              "// Facts written by lopwort-facts from 3 fragme");
    // Its scans in child processes find the same.
    merge[2] = p.dir + "/merged2.ta";
    merge.insert(merge.begin() + 1, {"-j3", "--no-cache"});
    r = runProgram(LOPWORT_FACTS_BIN, merge);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(body(readFile(p.dir + "/merged2.ta")), expected);

    // What the merge refuses: a fragment of another format, one cut short,
    // something else, a unit that is not in the database.
    std::string text = readFile(fragments[0]);
    writeFile(p.dir + "/v1", "lopwort-facts fragment 1" + text.substr(text.find('\n')));
    writeFile(p.dir + "/short", text.substr(0, text.size() - 10));
    writeFile(p.dir + "/other", "FACT TUPLE :\n");
    const std::pair<const char*, const char*> refused[] = {
        {"v1", "v1 is a fragment of format 1, and this lopwort-facts reads format 2: extract it "
               "again\n"},
        {"short", "short is cut short\n"},
        {"other", "other is not a lopwort-facts fragment\n"},
    };
    for (const auto& [name, message] : refused) {
        r = runProgram(LOPWORT_FACTS_BIN, {"--merge", fragments[1], p.dir + "/" + name});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.err, "lopwort-facts: " + p.dir + "/" + message);
        EXPECT_EQ(r.out, "");
    }
    r = runProgram(LOPWORT_FACTS_BIN, {"--unit", "none.cpp", "-o", p.dir + "/x", db});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "lopwort-facts: " + db + " has no entry none.cpp\n");
}

TEST(FactsFragment, AUnitThatFailsInItsOwnStep) {
    FactsProject p;
    writeProgram(p);
    p.file("bad.cpp", "int f() { return undeclared; }\n");
    p.unit("bad.cpp");
    std::string db = p.database();
    RunResult r = runProgram(LOPWORT_FACTS_BIN, {"--unit", "bad.cpp", "-o", p.dir + "/bad.f", db});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("bad.cpp: does not parse: "), std::string::npos) << r.err;
    r = runProgram(LOPWORT_FACTS_BIN, {"--unit", "main.cpp", "-o", p.dir + "/main.f", db});
    ASSERT_EQ(r.status, 0) << r.err;
    r = runProgram(LOPWORT_FACTS_BIN, {"--merge", p.dir + "/main.f", p.dir + "/bad.f"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("1 of 2 units did not parse; no facts written"), std::string::npos);
    r = runProgram(LOPWORT_FACTS_BIN,
                   {"--merge", "--keep-going", "-o", p.dir + "/f.ta", p.dir + "/main.f",
                    p.dir + "/bad.f"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(readFile(p.dir + "/f.ta").find("_GLOBAL__failed_units"), std::string::npos);
}

TEST(FactsFragment, TheCacheParsesOnlyWhatChanged) {
    FactsProject p;
    writeProgram(p);
    auto run = [&](std::vector<std::string> extra = {}) {
        extra.insert(extra.end(), {"--stats", "--cache", cacheOption(p)});
        RunResult r = p.extract(extra);
        EXPECT_EQ(r.status, 0) << r.err;
        size_t at = r.err.find(" parsed, ");
        return at == std::string::npos ? r.err
                                       : r.err.substr(r.err.rfind(' ', at - 1) + 1,
                                                      r.err.find('\n', at) - r.err.rfind(' ', at - 1) - 1);
    };
    EXPECT_EQ(run(), "3 parsed, 0 from the cache");
    std::string first = body(p.facts());
    EXPECT_EQ(run(), "0 parsed, 3 from the cache");
    EXPECT_EQ(body(p.facts()), first);
    // The merge's scans of unchanged texts came from the cache as well.
    EXPECT_EQ(p.shell("ls cache/*/*.s > /dev/null"), 0);

    // A change in one unit parses that unit; one in a header, every unit
    // that includes it. A file touched but not changed is no change.
    p.file("lib.cpp", readFile(p.dir + "/lib.cpp") + "int lib_new() { return 4; }\n");
    EXPECT_EQ(run(), "1 parsed, 2 from the cache");
    EXPECT_NE(p.facts().find("lib_new"), std::string::npos);
    ASSERT_EQ(p.shell("touch other.cpp inc/shared.h"), 0);
    EXPECT_EQ(run(), "0 parsed, 3 from the cache");
    p.file("inc/shared.h", readFile(p.dir + "/inc/shared.h") + "inline int more() { return 5; }\n");
    EXPECT_EQ(run(), "3 parsed, 0 from the cache");
    // Other options, another key.
    EXPECT_EQ(run({"--exported", p.dir + "/inc"}), "3 parsed, 0 from the cache");

    // A header that now shadows the one a unit read, earlier in its search
    // path, is a change too, although no file the unit read changed.
    p.file("alt/keep.txt", "");
    p.file("uses_alt.cpp", "#include \"shared.h\"\nint use_alt() { return shared_used(2); }\n");
    p.unit("uses_alt.cpp", {"-Ialt", "-Iinc", "-c", "uses_alt.cpp", "-o", "uses_alt.o"});
    EXPECT_EQ(run(), "1 parsed, 3 from the cache");
    EXPECT_EQ(run(), "0 parsed, 4 from the cache");
    p.file("alt/shared.h", "inline int shared_used(int x) { return x * 7; }\n"
                           "inline int only_in_alt() { return 6; }\n");
    EXPECT_EQ(run(), "1 parsed, 3 from the cache");
    EXPECT_NE(p.facts().find("alt/shared.h"), std::string::npos);

    // A damaged entry is not used, and --no-cache reads none.
    ASSERT_EQ(p.shell("for f in cache/*/*; do head -c 20 \"$f\" > x && mv x \"$f\"; done"), 0);
    EXPECT_EQ(run(), "4 parsed, 0 from the cache");
    RunResult r = p.extract({"--stats", "--no-cache"});
    EXPECT_NE(r.err.find("4 parsed, 0 from the cache"), std::string::npos) << r.err;
}

} // namespace

namespace {

// The CMake example builds its facts as a target: the same facts as a whole
// run over its database, and again, after a change, from the cache.
TEST(FactsFragment, TheCMakeExampleBuildsItsFactsAsATarget) {
    FactsProject p;
    std::string build = p.dir + "/build";
    std::string configure = "cmake -S '" + std::string(LOPWORT_SOURCE_DIR) + "/examples/cmake' -B '" +
                            build + "' -DLOPWORT_FACTS='" + LOPWORT_FACTS_BIN + "'";
    ASSERT_EQ(p.shell(configure), 0);
    ASSERT_EQ(p.shell("cmake --build build --target facts"), 0);
    RunResult whole = runProgram(LOPWORT_FACTS_BIN, {"--no-cache", "-o", p.dir + "/whole.ta",
                                                     build + "/compile_commands.json"});
    ASSERT_EQ(whole.status, 0) << whole.err;
    EXPECT_EQ(body(readFile(build + "/facts.ta")), body(readFile(p.dir + "/whole.ta")));
    RunResult r = runLopwort({build + "/facts.ta"});
    EXPECT_NE(r.out.find("(GF) unused_area:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(LF) never_called:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("2 functions are dead"), std::string::npos) << r.out;
}

} // namespace
