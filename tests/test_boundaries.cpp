// The preprocessor run and the boundary scanner. Exact scanner cases go
// through a fake compiler, a shell script that prints a prepared text
// whatever its arguments, so that the records and the scan file can be
// compared byte for byte; the real compiler checks that the scanner reads
// what it actually writes (its opening "# 0" markers, tabs, raw strings).
#include "cli.h"

#include "EntityClass.h"
#include "EntityInstance.h"
#include "RelationClass.h"
#include "RelationInstance.h"
#include "boundaries.h"
#include "lopwort.h"
#include "xmalloc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Makes a function entity contained by a file entity whose "args" holds
// argsP (none when null). The strings live as long as the fact base.
CEntityInstance* deadFunction(const char* argsP) {
    static CEntityClass* fileClassP = new CEntityClass("cFile");
    static CEntityClass* functionClassP = new CEntityClass("GF");
    static CRelationClass* containP = new CRelationClass("contain");
    CEntityInstance* fileP = fileClassP->newEntity("x.c");
    CEntityInstance* functionP = functionClassP->newEntity("f");
    new CRelationInstance(containP, fileP, functionP);
    if (argsP != nullptr)
        fileP->putAttribute("args", arena_strdup(argsP, strlen(argsP)));
    return functionP;
}

void setCurrentFile(const std::string& path) {
    g_filenameP = arena_strdup(path.c_str(), path.size());
}

std::vector<std::string> records() {
    std::vector<std::string> out;
    for (int i = 0; i < g_boundaries; ++i) {
        const boundaryT& r = g_boundariesP[i];
        out.push_back(std::to_string(r.lineno[0]) + "." + std::to_string(r.character[0]) +
                      " - " + std::to_string(r.lineno[1]) + "." +
                      std::to_string(r.character[1]));
    }
    return out;
}

std::string vectorText() {
    std::string out;
    for (char** argPP = g_argsPP; argPP != nullptr && *argPP != nullptr; ++argPP)
        out += (out.empty() ? "" : "|") + std::string(*argPP);
    return out;
}

// What the code under test wrote on descriptors 1 and 2, children included.
struct Output {
    std::string out;
    std::string err;
};

Output capture(const std::function<void()>& body) {
    std::string dir = makeTempDir();
    std::string outPath = dir + "/out", errPath = dir + "/err";
    fflush(stdout);
    fflush(stderr);
    int savedOut = dup(1), savedErr = dup(2);
    int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(outFd, 1);
    dup2(errFd, 2);
    close(outFd);
    close(errFd);
    body();
    fflush(stdout);
    fflush(stderr);
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(savedOut);
    close(savedErr);
    Output o{readFile(outPath), readFile(errPath)};
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    rmdir(dir.c_str());
    return o;
}

// A temporary directory with a fake compiler "cc" in it; the wanted file is
// x.c there, and the fake compiler prints pre.i.
struct FakeCompiler {
    std::string dir = makeTempDir();
    std::string cc = dir + "/cc";
    std::string file = dir + "/x.c";

    explicit FakeCompiler(const std::string& script = "exec /bin/cat pre.i\n") {
        writeFile(cc, "#!/bin/sh\n" + script);
        chmod(cc.c_str(), 0700);
        setCurrentFile(file);
    }
    std::string args() const { return "(" + dir + " " + cc + " -c x.c)"; }
    // Runs the whole establishment on the text; returns its result.
    int run(const std::string& text) {
        writeFile(dir + "/pre.i", text);
        return establish_boundaries(deadFunction(args().c_str()));
    }
    std::string scanFile() const { return readFile(file + ".scan"); }
};

// ---------------------------------------------------------------------------
// Compile-argument recovery

struct ArgsCase {
    const char* valueP;
    const char* vectorP; // elements joined by "|"
    int words;           // g_args, the two constants included
};

TEST(RecoverArgs, CutsQuotesEscapesAndFiltersOptions) {
    const ArgsCase cases[] = {
        {"(/src /usr/bin/gcc -c -O2 -o foo.o -g foo.c)",
         "/src|/usr/bin/gcc|-E|-ftabstop=1|-O2|foo.c", 10},
        {"(/d cc)", "/d|cc|-E|-ftabstop=1", 4},
        {"/d cc ", "/d|cc|-E|-ftabstop=1", 4},
        // -o as the last word goes alone; -ofile goes alone; -o takes -o.
        {"(/d cc x.c -o)", "/d|cc|-E|-ftabstop=1|x.c", 6},
        {"(/d cc -ox.o -o -o y.c)", "/d|cc|-E|-ftabstop=1|y.c", 8},
        // Every -c, -g, -S, -C, -P word goes, whatever follows the letter;
        // a lone "-" and other options stay, recorded -E included.
        {"(/d cc -g3 -CC -P -S -cx -Dx -I/i - -E -Wall)",
         "/d|cc|-E|-ftabstop=1|-Dx|-I/i|-|-E|-Wall", 14},
        // Separators inside quotes are dropped; an escaped quote is kept.
        {"(/d cc \"-DF(x)=x\" \"-I /usr/include\" \"-DS=\\\"a b\\\"\")",
         "/d|cc|-E|-ftabstop=1|-DFx=x|-I/usr/include|-DS=\"ab\"", 7},
        // All separators; bytes above 127 are ordinary.
        {"\t/d\n\f\r\x1b cc,{x\xc3\xa9.c}\x7f", "/d|cc|-E|-ftabstop=1|x\xc3\xa9.c", 5},
        // Escapes: \n and \r, any other character literally, also one that
        // begins a word; an escaped -c is still filtered.
        {"(/d cc a\\nb\\rc \\(p\\) \\-c)", "/d|cc|-E|-ftabstop=1|a\nb\rc|(p)", 7},
        // An empty quoted word is a word; the directory may be quoted.
        {"(\"/my dir\" cc \"\" x.c)", "/mydir|cc|-E|-ftabstop=1||x.c", 6},
    };
    for (const ArgsCase& c : cases) {
        ASSERT_EQ(recover_args(c.valueP), 1) << c.valueP;
        EXPECT_EQ(vectorText(), c.vectorP) << c.valueP;
        EXPECT_EQ(g_args, c.words) << c.valueP;
    }
}

TEST(RecoverArgs, MalformedValuesLeaveAnEmptyVector) {
    ASSERT_EQ(recover_args("(/d cc x.c)"), 1);
    const char* malformed[] = {
        "",                  // no word
        "(/d)",              // one word
        "(/d cc",            // ends inside the compiler's word
        "(/d cc x.c",        // ends inside the last word
        "(/d cc \"x.c)",     // ends inside a quoted word
        "(/d c\"c x.c)",     // a quote inside a bare word
        "(/d cc x.c)\\",     // a lone backslash at the end
        "(/d cc x\\",        // the same inside a word
    };
    for (const char* valueP : malformed) {
        EXPECT_EQ(recover_args(valueP), 0) << valueP;
        ASSERT_NE(g_argsPP, nullptr);
        EXPECT_EQ(g_argsPP[0], nullptr) << valueP;
    }
}

TEST(RecoverArgs, VectorGrowsForLongerCommandsAndIsReused) {
    ASSERT_EQ(recover_args("(/d cc a b c d e f g h)"), 1);
    char** firstPP = g_argsPP;
    int capacity = g_max_args; // 12, unless an earlier command was longer
    EXPECT_GE(capacity, 12);
    ASSERT_EQ(recover_args("(/d cc a)"), 1);
    EXPECT_EQ(g_argsPP, firstPP);
    EXPECT_EQ(g_max_args, capacity);
    EXPECT_EQ(vectorText(), "/d|cc|-E|-ftabstop=1|a");
    std::string many = "(/d cc";
    for (int i = 0; i < 300; ++i)
        many += " w" + std::to_string(i);
    many += ")";
    ASSERT_EQ(recover_args(many.c_str()), 1);
    EXPECT_EQ(g_max_args, 304);
    EXPECT_EQ(g_args, 304);
    EXPECT_STREQ(g_argsPP[303], "w299");
    EXPECT_EQ(g_argsPP[304], nullptr);
}

// ---------------------------------------------------------------------------
// Establishment without a run

TEST(EstablishBoundaries, NoContainerOrNoArgsMeansNoRun) {
    setCurrentFile("/nowhere/x.c");
    static CEntityClass* loneClassP = new CEntityClass("GF");
    g_boundaries = 5;
    Output o = capture([] {
        EXPECT_EQ(establish_boundaries(loneClassP->newEntity("alone")), 0);
        EXPECT_EQ(establish_boundaries(deadFunction(nullptr)), 0);
    });
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(g_boundaries, 0);
}

TEST(EstablishBoundaries, MalformedArgsAreReportedAndNotRun) {
    FakeCompiler fake("echo ran >ran\nexec /bin/cat pre.i\n");
    ASSERT_EQ(recover_args(fake.args().c_str()), 1);
    std::string bad = "(" + fake.dir + " " + fake.cc + " c\"c)";
    Output o = capture([&] { EXPECT_EQ(establish_boundaries(deadFunction(bad.c_str())), 0); });
    EXPECT_EQ(o.err, "** " + fake.file + " has malformed compile arguments\n");
    EXPECT_EQ(g_argsPP[0], nullptr);
    EXPECT_NE(access((fake.dir + "/ran").c_str(), F_OK), 0);
}

// ---------------------------------------------------------------------------
// The scanner, fed by the fake compiler

struct ScanCase {
    const char* nameP;
    const char* textP;
    std::vector<std::string> records;
};

TEST(Scan, RecordsTopLevelConstructs) {
    const ScanCase cases[] = {
        {"definition", "# 10 \"x.c\"\nint f(void)\n{\n return 0;\n}\n", {"10.1 - 13.2"}},
        {"prototype", "# 5 \"x.c\"\nint g(int);\n", {"5.1 - 5.12"}},
        {"struct body is dropped", "# 7 \"x.c\"\nstruct s { int a; };\n", {"7.12 - 7.18"}},
        {"old-style definition", "# 1 \"x.c\"\nint f(a)\nint a;\n{\n return a;\n}\n",
         {"1.1 - 5.2"}},
        {"old-style with two parameters",
         "# 1 \"x.c\"\nint x;\nint f(a, b)\nint a;\nchar *b;\n{\n}\nint y;\n",
         {"1.1 - 1.7", "2.1 - 6.2", "7.1 - 7.7"}},
        {"constructor initialiser list",
         "# 1 \"x.c\"\nA::A(int x) : m(x), n(x)\n{\n}\n", {"1.1 - 3.2"}},
        {"qualified names", "# 1 \"x.c\"\nint N::A::f() { return ::g(); }\n",
         {"1.1 - 1.32"}},
        {"access label is dropped at the next character",
         "# 1 \"x.c\"\nclass A {\npublic:\n  void f() { }\nprotected:int x;\n};\n",
         {"3.3 - 3.15", "4.11 - 4.17"}},
        {"bit-field width", "# 1 \"x.c\"\nstruct s {\n int a:3;\n};\n", {"2.8 - 2.10"}},
        {"function pointer declaration", "# 1 \"x.c\"\nint (*fp)(int);\nint y;\n",
         {"1.1 - 1.16", "2.1 - 2.7"}},
        {"function returning a function pointer",
         "# 1 \"x.c\"\nvoid (*sig(int n, void (*h)(int)))(int)\n{\n}\n", {"1.1 - 3.2"}},
        {"literals hide braces and semicolons",
         "# 1 \"x.c\"\nchar* s = \"a;{b}\\\";\";\nchar c = '}';\nchar d = '\\'';\n"
         "int f() { return '{'; }\n",
         {"1.1 - 1.22", "2.1 - 2.14", "3.1 - 3.15", "4.1 - 4.24"}},
        {"nested braces in a body", "# 1 \"x.c\"\nint f() {\n if (1) { { } }\n}\nint z;\n",
         {"1.1 - 3.2", "4.1 - 4.7"}},
        // The values after the dropped brace open a construct of their own.
        {"braced initialiser is dropped",
         "# 1 \"x.c\"\nint v[] = { 1, 2 };\nint w;\n", {"1.13 - 1.20", "2.1 - 2.7"}},
        {"pragma line opens a construct at its second column",
         "# 1 \"x.c\"\n#pragma pack(1)\nstruct s { int a; };\n", {"1.2 - 2.20"}},
        {"included text opens nothing and keeps the line count",
         "# 1 \"x.c\"\nint a;\n# 1 \"/usr/include/h.h\" 1 3 4\nint b;\nint f() {}\n"
         "# 3 \"x.c\" 2\nint c;\n",
         {"1.1 - 1.7", "3.1 - 3.7"}},
        {"a body closed in another file stays open, the next construct is found",
         "# 1 \"x.c\"\nint f() {\n# 1 \"inc.h\" 1\n}\n# 3 \"x.c\" 2\nint c;\n",
         {"1.1 - -1.0", "3.1 - 3.7"}},
        {"text before any marker is line 1", "int a;\nint b;\n", {"1.1 - 1.7", "2.1 - 2.7"}},
        {"relative names are relative to the preprocessor's directory",
         "# 4 \"./x.c\"\nint a;\n# 1 \"x.c\"\nint b;\n", {"1.1 - 1.7"}},
        {"marker flags and blanks", "#  2   \"x.c\" 2 3\t4 \r\nint a;\n", {"2.1 - 2.7"}},
        {"not markers: handled as code",
         "# 1 \"x.c\"\n# x;\n#1\"x.c\";\n", {"1.3 - 1.5", "2.7 - 2.9"}},
        {"a construct open at the end stays open",
         "# 1 \"x.c\"\nint a;\nint f() {\n", {"1.1 - 1.7", "2.1 - -1.0"}},
        {"an escape counts both of its bytes as columns",
         "# 1 \"x.c\"\nint f(void) { return '\\n'; }\nint b;\n", {"1.1 - 1.29", "2.1 - 2.7"}},
        {"a line feed in a literal is a line", "# 1 \"x.c\"\nchar* s = R\"(a\nb)\";\nint b;\n",
         {"1.1 - 2.5", "3.1 - 3.7"}},
    };
    FakeCompiler fake;
    for (const ScanCase& c : cases) {
        int made = 0;
        Output o = capture([&] { made = fake.run(c.textP); });
        EXPECT_EQ(made, g_boundaries) << c.nameP;
        EXPECT_EQ(records(), c.records) << c.nameP;
        EXPECT_EQ(o.err, "") << c.nameP;
    }
}

} // namespace
