// The dead-function report as users see it: file lines, status words,
// counters and summary, the -v, -p, -f and -F variants, and the source-mode
// statuses, from fact files run through the built program.
#include "cli.h"

#include <gtest/gtest.h>
#include <string>

namespace {

RunResult runFacts(const std::string& facts, const std::vector<std::string>& args) {
    RunOptions o;
    o.input = facts;
    o.hasInput = true;
    return runLopwort(args, o);
}

// main in /p/a.c calls used; dead and its caller-less friends lie in two
// files, one of them outside /p.
const std::string kFacts = R"(FACT TUPLE :
$INSTANCE main GF
$INSTANCE used GF
$INSTANCE dead GF
$INSTANCE cb LF
$INSTANCE cbaddr FA
$INSTANCE other GF
$INSTANCE noline GF
$INSTANCE anon GF
call main used
call dead used
call dead other
contain cb cbaddr
ref used cbaddr
ref dead cbaddr
FACT ATTRIBUTE :
main { label = main file = /p/a.c lineno = 1 }
used { label = used file = /p/a.c lineno = 5 }
dead { label = dead file = /p/a.c lineno = 9 }
cb { label = cb file = /p/a.c lineno = 3 }
other { label = other file = /q/b.c lineno = 2 }
noline { label = noline file = /p/a.c }
anon { file = /p/a.c lineno = 20 }
)";

TEST(Report, ReportOnlyListsDeadFunctionsByFileAndLine) {
    RunResult r = runFacts(kFacts, {});
    EXPECT_EQ(r.out, versionLine() +
                         "/p/a.c \n"
                         "\t(GF) dead:9 dead code\n"
                         "\t(GF) (null):20 dead code\n"
                         "\t(GF) noline dead code\n"
                         "/q/b.c \n"
                         "\t(GF) other:2 dead code\n"
                         "0 lines of code #ifdef'd out\n"
                         "4 functions are dead\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(Report, OutsideTheDirectoryIsCountedOrListedAsSkipped) {
    RunResult r = runFacts(kFacts, {"-p/q"});
    EXPECT_EQ(r.out, versionLine() +
                         "/q/b.c \n"
                         "\t(GF) other:2 dead code\n"
                         "0 lines of code #ifdef'd out\n"
                         "1 functions are dead\n"
                         "3 functions 1 files not updated because not under /q\n");
    r = runFacts(kFacts, {"-p", "/q", "-v"});
    EXPECT_EQ(r.out, versionLine() +
                         "/p/a.c [skipped]\n"
                         "\t(GF) dead:9 skipped\n"
                         "\t(GF) (null):20 skipped\n"
                         "\t(GF) noline skipped\n"
                         "/q/b.c \n"
                         "\t(GF) other:2 dead code\n"
                         "0 lines of code #ifdef'd out\n"
                         "1 functions are dead\n"
                         "3 functions 1 files not updated because not under /q\n");
}

TEST(Report, CallersAndCalleesOfDeadFunctions) {
    const std::string facts = R"(FACT TUPLE :
$INSTANCE main GF
$INSTANCE f GF
$INSTANCE faddr FA
$INSTANCE g GF
call g f
ref main faddr
ref g faddr
contain f faddr
call f g
FACT ATTRIBUTE :
main { label = main file = a.c lineno = 1 }
f { label = f file = a.c lineno = 2 }
g { label = g file = a.c lineno = 3 }
faddr { label = &f }
)";
    // f is live through its address, so make it dead by renaming main.
    std::string deadFacts = facts;
    deadFacts.replace(deadFacts.find("label = main"), 12, "label = xmain");
    RunResult r = runFacts(deadFacts, {"-F", "-f"});
    EXPECT_EQ(r.out, versionLine() +
                         "a.c \n"
                         "\t(GF) xmain:1 dead code\n"
                         // every other place taking an address it refers to
                         "\t\t<-&(GF) f\n"
                         "\t\t<-&(GF) g\n"
                         "\t\t-> (FA) &f\n"
                         "\t(GF) f:2 dead code\n"
                         "\t\t<- (GF) g\n"
                         "\t\t<-&(GF) g\n"
                         "\t\t<-&(GF) xmain\n"
                         "\t\t-> (GF) g\n"
                         "\t\t-> (FA) &f\n"
                         "\t(GF) g:3 dead code\n"
                         "\t\t<- (GF) f\n"
                         "\t\t<-&(GF) f\n"
                         "\t\t<-&(GF) xmain\n"
                         "\t\t-> (FA) &f\n"
                         "\t\t-> (GF) f\n"
                         "0 lines of code #ifdef'd out\n"
                         "3 functions are dead\n");
    // With main live and f no longer calling g, f is reached through its
    // address and g stays dead; what it refers to is marked as visited.
    std::string liveFacts = facts;
    liveFacts.erase(liveFacts.find("call f g\n"), 9);
    r = runFacts(liveFacts, {"-F"});
    EXPECT_EQ(r.out, versionLine() +
                         "a.c \n"
                         "\t(GF) g:3 dead code\n"
                         "\t\t-> (FA) &f **VISIted**\n"
                         "\t\t-> (GF) f **VISIted**\n"
                         "0 lines of code #ifdef'd out\n"
                         "1 functions are dead\n");
}

TEST(Report, EmptyPathGivesNoFileLine) {
    const std::string facts = "FACT TUPLE :\n$INSTANCE f GF\n"
                              "FACT ATTRIBUTE :\nf { label = f lineno = 4 }\n";
    RunResult r = runFacts(facts, {});
    EXPECT_EQ(r.out, versionLine() + "\t(GF) f:4 dead code\n0 lines of code #ifdef'd out\n"
                                     "1 functions are dead\n");
    // In a source mode nothing was loaded for the empty path.
    r = runFacts(facts, {"-r"});
    EXPECT_EQ(r.out, versionLine() + "\t(GF) f:4 can't read\n0 lines of code #ifdef'd out\n"
                                     "1 functions are dead\n");
}

TEST(Report, SourceModeStatusesWithoutAnExtent) {
    std::string dir = makeTempDir();
    writeFile(dir + "/a.c", "int f(void) { return 0; }\n");
    const std::string facts = "FACT TUPLE :\n$INSTANCE f GF\n$INSTANCE n GF\n$INSTANCE m GF\n"
                              "FACT ATTRIBUTE :\n"
                              "f { label = f file = " + dir + "/a.c lineno = 1 }\n"
                              "n { label = n file = " + dir + "/a.c }\n"
                              "m { label = m file = " + dir + "/missing.c lineno = 1 }\n";
    RunResult r = runFacts(facts, {"-r"});
    // No compile command is known, so no extent is found.
    EXPECT_EQ(r.out, versionLine() + dir + "/a.c \n"
                         "\t(GF) f:1 scan failed\n"
                         "\t(GF) n unknown lineno\n" +
                         dir + "/missing.c  [can't read]\n"
                         "\t(GF) m:1 can't read\n"
                         "0 lines of code #ifdef'd out\n"
                         "3 functions are dead\n"
                         "1 functions had no known boundaries\n");
    EXPECT_EQ(r.err.rfind("** Can't open " + dir + "/missing.c for reading\n", 0), 0u) << r.err;
    EXPECT_EQ(readFile(dir + "/a.c"), "int f(void) { return 0; }\n");
}

TEST(Report, TemplatesWithLiveInstancesAreLeftInPlace) {
    std::string dir = makeTempDir();
    writeFile(dir + "/t.h", "int one() { return 1; }\n");
    const std::string facts = "FACT TUPLE :\n$INSTANCE main GF\n$INSTANCE i1 GF\n$INSTANCE i2 GF\n"
                              "$INSTANCE tpl T\n$INSTANCE dead2 GF\n$INSTANCE tpl2 T\n"
                              "ref tpl i1\nref tpl i2\ncall main i1\nref tpl2 dead2\n"
                              "FACT ATTRIBUTE :\n"
                              "main { label = main file = " + dir + "/m.c lineno = 1 }\n"
                              "i1 { label = i1 file = " + dir + "/t.h lineno = 1 }\n"
                              "i2 { label = i2 file = " + dir + "/t.h lineno = 1 }\n"
                              "dead2 { label = dead2 file = " + dir + "/t.h lineno = 1 }\n";
    RunResult r = runFacts(facts, {"-w", "-p", dir});
    EXPECT_EQ(r.out, versionLine() + dir + "/t.h \n"
                         "\t(GF) dead2:1 scan failed\n"
                         "\t(GF) i2:1 dead template function\n"
                         "0 lines of code #ifdef'd out\n"
                         "2 functions are dead\n"
                         "1 functions had no known boundaries\n");
}

TEST(Report, OddFactsStillRunToAReport) {
    // Unlabelled and unplaced functions, cycles of calls and of containment,
    // self-relations, entities known only from relations, a function whose
    // class is changed after it was created, and a "file" of ".".
    const std::string facts = R"(FACT TUPLE :
$INSTANCE main GF
$INSTANCE a GF
$INSTANCE b LF
$INSTANCE c GF
$INSTANCE d VF
$INSTANCE f1 file
$INSTANCE f2 file
call main a
call a b
call b a
call a a
call ghost1 ghost2
call c ghost1
contain f1 f2
contain f2 f1
contain f2 c
contain d d
$INSTANCE c LF
$INSTANCE d GF
FACT ATTRIBUTE :
main { label = main file = m.c lineno = 1 }
a { file = m.c lineno = 2 }
c { label = c file = . }
f1 { label = one }
f2 { label = two }
)";
    RunResult r = runFacts(facts, {"-f", "-F"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, ">>> Warning (19):Redeclaration of c from instance of GF to instance of LF\n"
                     ">>> Warning (20):Redeclaration of d from instance of VF to instance of GF\n");
    EXPECT_EQ(r.out, versionLine() +
                         "\t(GF) (null) dead code\n"
                         "\t\t<- (GF) (null)\n"
                         "\t\t-> (GF) (null)\n"
                         "one/two \n"
                         "\t(LF) c dead code\n"
                         "\t\t<- (file) two\n"
                         "\t\t-> ($ENTITY) (null)\n"
                         "0 lines of code #ifdef'd out\n"
                         "2 functions are dead\n");
}

} // namespace

// Two functions written on one line by a macro share one record: when one
// of them is live, guarding the record would take it out too.
TEST(Report, ARecordHoldingALiveFunctionsLineIsNotGuarded) {
    std::string dir = makeTempDir();
    const std::string source = "#define PAIR(x) int x##_a(void) { return 1; } "
                               "int x##_b(void) { return 2; }\n"
                               "PAIR(p)\nPAIR(q)\nint main(void) { return p_a(); }\n";
    writeFile(dir + "/m.c", source);
    std::string facts = "FACT TUPLE :\n$INSTANCE m.c cFile\n";
    for (const char* fP : {"main", "p_a", "p_b", "q_a", "q_b"})
        facts += std::string("$INSTANCE ") + fP + " GF\ncontain m.c " + fP + "\n";
    facts += "call main p_a\nFACT ATTRIBUTE :\nm.c { args = (" + dir +
             " /usr/bin/gcc -c m.c) }\n";
    for (const auto& f : {std::make_pair("main", 4), std::make_pair("p_a", 2),
                          std::make_pair("p_b", 2), std::make_pair("q_a", 3),
                          std::make_pair("q_b", 3)})
        facts += std::string(f.first) + " { label = " + f.first + " file = " + dir +
                 "/m.c lineno = " + std::to_string(f.second) + " }\n";
    RunResult r = runFacts(facts, {"-u", "-p", dir});
    EXPECT_NE(r.out.find("\t(GF) p_b:2 shares a live line\n"), std::string::npos) << r.out;
    // Both of the other pair are dead: their line goes.
    EXPECT_NE(r.out.find("\t(GF) q_a:3 update\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\t(GF) q_b:3 update\n"), std::string::npos) << r.out;
    std::string after = readFile(dir + "/m.c");
    EXPECT_NE(after.find("\nPAIR(p)\n"), std::string::npos) << after;
    EXPECT_NE(after.find(" */\nPAIR(q)\n#endif /* _DEAD_"), std::string::npos) << after;
}

// A file compiled in one configuration of several (here with -DB besides
// the -DA=1 that every unit has) gets guards in force in all of them: its
// header's conditions are the settings common to every unit.
TEST(Report, GuardConditionsAreTheSettingsEveryUnitShares) {
    std::string dir = makeTempDir();
    writeFile(dir + "/a.c", "int dead_a(void) { return 1; }\n");
    writeFile(dir + "/b.c", "int main(void) { return 0; }\n");
    const std::string facts =
        "FACT TUPLE :\n$INSTANCE a.c cFile\n$INSTANCE b.c cFile\n$INSTANCE dead_a GF\n"
        "$INSTANCE main GF\ncontain a.c dead_a\ncontain b.c main\nFACT ATTRIBUTE :\n"
        "a.c { args = (" + dir + " /usr/bin/gcc \"-DA=1\" -UC -DB -c a.c) }\n"
        "b.c { args = (" + dir + " /usr/bin/gcc -UC \"-DA=1\" -c b.c) }\n"
        "dead_a { label = dead_a file = " + dir + "/a.c lineno = 1 }\n"
        "main { label = main file = " + dir + "/b.c lineno = 1 }\n";
    RunResult r = runFacts(facts, {"-w", "-p", dir});
    EXPECT_NE(r.out.find("\t(GF) dead_a:1 wrote\n"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(dir + "/a.c.dead").substr(0, 56),
              "#if !defined(_DEAD_) && defined(A) && (A == 1) && !defin");
    EXPECT_NE(readFile(dir + "/a.c.dead").find("&& !defined(C) \n#define _DEAD_"),
              std::string::npos);
}
