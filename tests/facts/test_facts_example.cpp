// The bundled example: facts extracted from its sources must give lopwort
// the same dead functions as the hand-written fact file beside them.
#include "facts_project.h"

#include <gtest/gtest.h>

namespace {

TEST(FactsExample, ExtractedFactsFindWhatTheHandWrittenOnesFind) {
    FactsProject p;
    std::string src = std::string(LOPWORT_SOURCE_DIR) + "/examples/shapes";
    std::string db = "[\n";
    for (const char* unit : {"shapes.cpp", "main.cpp"})
        db += std::string(db.size() > 2 ? ",\n" : "") + "{\"directory\": \"" + src +
              "\", \"file\": \"" + unit + "\", \"arguments\": [\"/usr/bin/g++\", \"-c\", \"-O0\", \"" +
              unit + "\", \"-o\", \"" + unit + ".o\"]}";
    writeFile(p.dir + "/compile_commands.json", db + "\n]\n");
    RunResult r = runProgram(LOPWORT_FACTS_BIN,
                             {"-o", p.dir + "/shapes.ta", p.dir + "/compile_commands.json"});
    ASSERT_EQ(r.status, 0) << r.err;

    std::string hand = readFile(src + "/shapes.ta.in");
    for (size_t at; (at = hand.find("@EXAMPLE_DIR@")) != std::string::npos;)
        hand.replace(at, 13, src);
    writeFile(p.dir + "/hand.ta", hand);

    RunResult extracted = runLopwort({p.dir + "/shapes.ta"});
    RunResult written = runLopwort({p.dir + "/hand.ta"});
    EXPECT_EQ(extracted.out, written.out);
    EXPECT_NE(extracted.out.find("4 functions are dead"), std::string::npos) << extracted.out;
    EXPECT_EQ(extracted.err, "");
}

} // namespace
