// --why as users see it: for each function a name matches, that it is dead
// or one shortest chain from a root, through calls, an address, a virtual
// call resolved three classes down and functions merged as duplicates.
#include "cli.h"

#include <gtest/gtest.h>
#include <string>

namespace {

// main calls a, which takes cb's address, and cb calls helper, which two
// units define alike (merged); twin is the label of two functions; a calls
// A::f virtually, which D, three derivations below A, overrides.
const std::string kFacts = std::string(LOPWORT_SOURCE_DIR) + "/tests/data/why.ta";

const std::string kReport = "/p/a.c \n\t(GF) dead:20 dead code\n"
                            "0 lines of code #ifdef'd out\n1 functions are dead\n";

TEST(Why, ChainsFromARootThroughEveryKindOfStep) {
    RunResult r = runLopwort({"--why", "helper", "--why", "twin", "--why=a.c:9", "--why", "f",
                              kFacts});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              versionLine() + kReport +
                  "why helper: (LF) helper /p/h.h:2 is live\n"
                  "\t(GF) main /p/a.c:1 [root]\n"
                  "\t(GF) a /p/a.c:5 [call]\n"
                  "\t(FA) FA:cb [ref]\n"
                  "\t(LF) cb /p/a.c:9 [owner of the address]\n"
                  "\t(LF) helper /p/h.h:2 [call]\n"
                  "\t(LF) helper /p/h.h:2 [h1, merged into the above as its duplicate]\n"
                  "why twin: (GF) twin /p/a.c:30 is live\n"
                  "\t(GF) main /p/a.c:1 [root]\n"
                  "\t(GF) twin /p/a.c:30 [call]\n"
                  "why twin: (GF) twin /p/b.c:3 is live\n"
                  "\t(GF) main /p/a.c:1 [root]\n"
                  "\t(GF) a /p/a.c:5 [call]\n"
                  "\t(GF) twin /p/b.c:3 [call]\n"
                  "why a.c:9: (LF) cb /p/a.c:9 is live\n"
                  "\t(GF) main /p/a.c:1 [root]\n"
                  "\t(GF) a /p/a.c:5 [call]\n"
                  "\t(FA) FA:cb [ref]\n"
                  "\t(LF) cb /p/a.c:9 [owner of the address]\n"
                  "why f: (VF) A::f /p/s.cpp:2 is live\n"
                  "\t(GF) main /p/a.c:1 [root]\n"
                  "\t(GF) a /p/a.c:5 [call]\n"
                  "\t(VF) A::f /p/s.cpp:2 [CVF]\n"
                  "why f: (VF) D::f /p/s.cpp:9 is live\n"
                  "\t(GF) main /p/a.c:1 [root]\n"
                  "\t(GF) a /p/a.c:5 [call]\n"
                  "\t(VF) A::f /p/s.cpp:2 [CVF]\n"
                  "\t(VF) D::f /p/s.cpp:9 [virtual call of (VF) A::f /p/s.cpp:2, overrider in "
                  "the table of (TV) \"vtable for D\"]\n");
}

TEST(Why, DeadFunctionsUnknownNamesAndTheTrace) {
    RunResult r = runLopwort({"--why", "dead", "--why", "_ZN1D1fEv", "--why", "nothing",
                              "--why", "a.c:6", kFacts});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, versionLine() + kReport +
                         "why dead: (GF) dead /p/a.c:20 is dead\n"
                         "why _ZN1D1fEv: (VF) D::f /p/s.cpp:9 is live\n"
                         "\t(GF) main /p/a.c:1 [root]\n"
                         "\t(GF) a /p/a.c:5 [call]\n"
                         "\t(VF) A::f /p/s.cpp:2 [CVF]\n"
                         "\t(VF) D::f /p/s.cpp:9 [virtual call of (VF) A::f /p/s.cpp:2, "
                         "overrider in the table of (TV) \"vtable for D\"]\n"
                         "why nothing: no function matches\n"
                         "why a.c:6: no function matches\n");
    // With -T the trace is the depth-first walk's, and the chains are still
    // the shortest.
    RunResult traced = runLopwort({"-T", "--why", "twin", kFacts});
    EXPECT_NE(traced.err.find("(GF) main 1:/p/a.c"), std::string::npos) << traced.err;
    EXPECT_NE(traced.out.find("why twin: (GF) twin /p/b.c:3 is live\n"
                              "\t(GF) main /p/a.c:1 [root]\n"
                              "\t(GF) a /p/a.c:5 [call]\n"),
              std::string::npos)
        << traced.out;
}

} // namespace
