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

// A text with NUL bytes in it, taken whole from a string literal.
template <size_t N> std::string bytes(const char (&textR)[N]) { return std::string(textR, N - 1); }

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
        g_debug_flag = 0;
        g_trace_flag = 0;
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

TEST(Scan, MarkersWithLineNumberZeroAreMarkers) {
    const ScanCase cases[] = {
        // The compiler's own preamble must not open a construct that would
        // swallow the first one of the file.
        {"compiler preamble",
         "# 0 \"x.c\"\n# 0 \"<built-in>\"\n# 0 \"<command-line>\"\n"
         "# 1 \"/usr/include/stdc-predef.h\" 1 3 4\n# 0 \"<command-line>\" 2\n"
         "# 1 \"x.c\"\nint f(void) { return 0; }\n",
         {"1.1 - 1.26"}},
        // Line 0 of the wanted file records nothing and counts no lines.
        {"text at line 0", "# 0 \"x.c\"\nint a;\nint b;\n# 00 \"x.c\"\nint c;\n# 3 \"x.c\"\nint d;\n",
         {"3.1 - 3.7"}},
        {"leading zeros", "# 012 \"x.c\"\nint a;\n", {"12.1 - 12.7"}},
    };
    FakeCompiler fake;
    for (const ScanCase& c : cases) {
        fake.run(c.textP);
        EXPECT_EQ(records(), c.records) << c.nameP;
    }
}

TEST(Scan, AnEarlierPrototypeDoesNotMakeABodyOfTheNextBrace) {
    const ScanCase cases[] = {
        {"struct", "# 1 \"x.c\"\nint g(int);\nstruct s { int a; };\n",
         {"1.1 - 1.12", "2.12 - 2.18"}},
        {"namespace", "# 1 \"x.c\"\nint g(int);\nnamespace n {\nint f() { return 1; }\n}\n",
         {"1.1 - 1.12", "3.1 - 3.22"}},
        {"extern block", "# 1 \"x.c\"\nint g(int);\nextern \"C\" {\nint h(void);\n}\n",
         {"1.1 - 1.12", "3.1 - 3.13"}},
        // Nor does it keep an access label from being cut off.
        {"access label", "# 1 \"x.c\"\nvoid g();\nclass A {\npublic:\n A() {}\n};\n",
         {"1.1 - 1.10", "4.2 - 4.8"}},
        // Old-style definitions still become one construct.
        {"old-style definition", "# 1 \"x.c\"\nint g(int);\nint f(a)\nint a;\n{\n}\n",
         {"1.1 - 1.12", "2.1 - 5.2"}},
    };
    FakeCompiler fake;
    for (const ScanCase& c : cases) {
        fake.run(c.textP);
        EXPECT_EQ(records(), c.records) << c.nameP;
    }
}

struct ScanFileCase {
    const char* nameP;
    const char* textP;
    const char* scanP;
};

TEST(Scan, DebugFileIsAnAnnotatedCopy) {
    const ScanFileCase cases[] = {
        {"definition", "# 1 \"x.c\"\nint f(void)\n{\n}\n",
         "0001 # 1 \"x.c\"\n0001 \n##START lineno=1+1\nint f(void)\n0002+{\n0003+}\n"
         "##END lineno=3+1\n\n0004+\n\n1.1 - 3.2\n"},
        {"old-style definition discards the parameter records",
         "# 1 \"x.c\"\nint f(a, b)\nint a;\nchar *b;\n{\n}\n",
         "0001 # 1 \"x.c\"\n0001 \n##START lineno=1+1\nint f(a, b)\n0002+int a;\n"
         "##END lineno=2+6\n\n0003+\n##START lineno=3+1\nchar *b;\n##END lineno=3+8\n"
         "\n0004+!!{\n0005+}\n##END lineno=5+1\n\n0006+\n\n1.1 - 5.2\n"},
        {"other files, line 0, literals and escapes",
         "# 0 \"x.c\"\n# 1 \"<built-in>\"\nx\n# 1 \"x.c\" 2\nchar c = '\\n';\n",
         "0001 # 0 \"x.c\"\n0000 # 1 \"<built-in>\"\n     x\n     # 1 \"x.c\" 2\n0001 \n"
         "##START lineno=1+1\nchar c = '\\n';\n##END lineno=1+14\n\n0002+\n\n1.1 - 1.15\n"},
        {"label dropped, nothing written for it",
         "public: int a;", "0001 \n##START lineno=1+1\npublic: \n##START lineno=1+9\nint a;\n"
         "##END lineno=1+14\n\n\n1.9 - 1.15\n"},
    };
    FakeCompiler fake;
    g_debug_flag = 1;
    for (const ScanFileCase& c : cases) {
        Output o = capture([&] { fake.run(c.textP); });
        EXPECT_EQ(fake.scanFile(), c.scanP) << c.nameP;
        EXPECT_EQ(o.err, "") << c.nameP;
    }
}

TEST(Scan, DebugFileThatCannotBeCreatedIsSkipped) {
    FakeCompiler fake;
    g_debug_flag = 1;
    setCurrentFile(fake.dir + "/missing/x.c");
    Output o = capture([&] { fake.run("# 1 \"missing/x.c\"\nint a;\n"); });
    EXPECT_EQ(o.err, "Can't create " + fake.dir + "/missing/x.c.scan\n");
    EXPECT_EQ(records(), std::vector<std::string>{"1.1 - 1.7"});

    // A name that does not fit the name buffer is not written either.
    std::string longName = fake.dir + "/" + std::string(2100 - fake.dir.size(), 'n');
    setCurrentFile(longName);
    o = capture([&] { fake.run("int a;\n"); });
    EXPECT_EQ(o.err, "Can't create " + longName + ".scan\n");
    EXPECT_EQ(records(), std::vector<std::string>{"1.1 - 1.7"});
}

TEST(Scan, MarkerNamesThatDoNotFitNameNoFileOfOurs) {
    FakeCompiler fake;
    // A relative name that fits with the directory in front, to the byte.
    std::string name(2047 - fake.dir.size() - 1, 'r');
    std::string path = fake.dir + "/" + name;
    ASSERT_EQ(path.size(), 2047u);
    setCurrentFile(path);
    fake.run("# 2 \"" + name + "\"\nint a;\n");
    EXPECT_EQ(records(), std::vector<std::string>{"2.1 - 2.7"});
    // One byte more does not fit, however the current file is named.
    setCurrentFile(path + "r");
    fake.run("# 2 \"" + name + "r\"\nint a;\n# 5 \"/" + std::string(5000, 'a') + "\"\nint b;\n");
    EXPECT_TRUE(records().empty());
    // Neither does a name holding a NUL byte, nor a line number too large.
    setCurrentFile(fake.file);
    fake.run(bytes("# 1 \"x.c\0\"\nint a;\n# 99999999999 \"x.c\"\nint b;\n# 4 \"x.c\"\nint c;\n"));
    EXPECT_EQ(records(), std::vector<std::string>{"4.1 - 4.7"});
}

TEST(Scan, ManyConstructsGrowTheArray) {
    FakeCompiler fake;
    std::string text = "# 1 \"x.c\"\n";
    for (int i = 0; i < 5000; ++i)
        text += "int a;\n";
    EXPECT_EQ(fake.run(text), 5000);
    EXPECT_GE(g_boundaries_max, 5000);
    std::vector<std::string> r = records();
    EXPECT_EQ(r[0], "1.1 - 1.7");
    EXPECT_EQ(r[2048], "2049.1 - 2049.7");
    EXPECT_EQ(r[4999], "5000.1 - 5000.7");
    // The array keeps its room for the next, smaller file.
    boundaryT* arrayP = g_boundariesP;
    EXPECT_EQ(fake.run("int a;\n"), 1);
    EXPECT_EQ(g_boundariesP, arrayP);
}

TEST(Scan, BinaryAndHugeOutputIsScannedToItsEnd) {
    FakeCompiler fake;
    EXPECT_EQ(fake.run(bytes("# 1 \"x.c\"\nint \0a;\n\0int b;\n")), 2);
    EXPECT_EQ(records(), (std::vector<std::string>{"1.1 - 1.8", "2.1 - 2.8"}));

    // Some megabytes of every byte value, a trailing backslash last.
    std::string junk;
    unsigned seed = 12345;
    for (int i = 0; i < 6 * 1024 * 1024; ++i) {
        seed = seed * 1103515245u + 12345u;
        junk += static_cast<char>(seed >> 16);
    }
    junk += "\\";
    g_debug_flag = 1;
    fake.run(junk);
    EXPECT_GE(g_boundaries, 0);
    // One line far longer than any source line.
    fake.run("int f() {" + std::string(3 * 1024 * 1024, ' ') + "}\n");
    EXPECT_EQ(records(), std::vector<std::string>{"1.1 - 1.3145739"});
}

// ---------------------------------------------------------------------------
// The child process

TEST(CallCc, ChildGetsTheVectorInItsDirectoryWithNoEnvironment) {
    FakeCompiler fake("echo \"$0 $*\" >seen\necho \"${HOME-none} ${LOPWORT_PROBE-none}\" >>seen\n"
                      "pwd >>seen\nexec /bin/cat pre.i\n");
    setenv("LOPWORT_PROBE", "set", 1);
    std::string args = "(" + fake.dir + " " + fake.cc + " -c -g -DX=1 \"-I a\" -o x.o x.c)";
    Output o = capture([&] {
        writeFile(fake.dir + "/pre.i", "int a;\n");
        EXPECT_EQ(establish_boundaries(deadFunction(args.c_str())), 1);
    });
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(readFile(fake.dir + "/seen"),
              fake.cc + " -E -ftabstop=1 -DX=1 -Ia x.c\nnone none\n" + fake.dir + "\n");
}

TEST(CallCc, TraceLineListsTheWholeVector) {
    FakeCompiler fake;
    g_trace_flag = 1;
    Output o = capture([&] { fake.run("int a;\n"); });
    EXPECT_EQ(o.err, fake.dir + " " + fake.cc + " -E -ftabstop=1 x.c \n");
}

TEST(CallCc, ExitStatusOrSignalIsReturnedAndTheRecordsStand) {
    FakeCompiler fake("/bin/cat pre.i\nexit 3\n");
    writeFile(fake.dir + "/pre.i", "int a;\n");
    ASSERT_EQ(recover_args(fake.args().c_str()), 1);
    EXPECT_EQ(call_cc(g_argsPP), 3);
    EXPECT_EQ(g_boundaries, 1);

    writeFile(fake.cc, "#!/bin/sh\n/bin/cat pre.i\nkill -KILL $$\n");
    int status = 0;
    Output o = capture([&] { status = call_cc(g_argsPP); });
    EXPECT_EQ(status, -1);
    EXPECT_EQ(o.err, fake.cc + " did not terminate normally\n");
    EXPECT_EQ(records(), std::vector<std::string>{"1.1 - 1.7"});
}

// A child that cannot start the preprocessor says why, writes nothing on the
// pipe, and neither repeats nor swallows what the report had buffered.
TEST(CallCc, FailingChildEndsAloneAndLeavesTheReportAlone) {
    FakeCompiler fake;
    std::string noCompiler = "(" + fake.dir + " " + fake.dir + "/nope -c x.c)";
    std::string noDirectory = "(" + fake.dir + "/gone " + fake.cc + " -c x.c)";
    struct {
        const std::string& argsR;
        std::string err;
    } cases[] = {
        {noCompiler, "Return from execve " + fake.dir + "/nope\nExit code 1\n"},
        {noDirectory, "Can't change directory to " + fake.dir +
                          "/gone\nNo such file or directory\nExit code 1\n"},
    };
    for (const auto& c : cases) {
        int made = -1;
        Output o = capture([&] {
            printf("\t(GF) earlier report line\n");
            made = establish_boundaries(deadFunction(c.argsR.c_str()));
            printf("after\n");
        });
        EXPECT_EQ(made, 0) << c.argsR;
        EXPECT_EQ(o.out, "\t(GF) earlier report line\nafter\n") << c.argsR;
        EXPECT_EQ(o.err, c.err) << c.argsR;
    }
}

TEST(ScanDeathTest, UnreadablePipeEndsTheRun) {
    EXPECT_EXIT(scan("/", -1), testing::ExitedWithCode(2),
                "^Can't open input pipe from cpp\nExit code 2\n$");
}

// ---------------------------------------------------------------------------
// The real compiler

struct RealRun {
    std::string dir = makeTempDir();
    RealRun() {
        g_debug_flag = 0;
        g_trace_flag = 0;
    }
    std::vector<std::string> run(const std::string& compiler, const std::string& name,
                                 const std::string& source, const std::string& dirWord = "",
                                 const std::string& fileWord = "") {
        std::string path = dir + "/" + name;
        writeFile(path, source);
        setCurrentFile(path);
        std::string args = "(" + (dirWord.empty() ? dir : dirWord) + " " + compiler +
                           " -c -O2 -g -DX=1 -o out.o " + (fileWord.empty() ? name : fileWord) +
                           ")";
        int made = 0;
        Output o = capture([&] { made = establish_boundaries(deadFunction(args.c_str())); });
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(made, g_boundaries);
        EXPECT_NE(access((dir + "/out.o").c_str(), F_OK), 0) << "compiled instead";
        return records();
    }
};

TEST(RealCompiler, CFile) {
    const char* source = "int first(void) { return 1; }\n"
                         "#include <stddef.h>\n"
                         "/* don't { ; */\n"
                         "struct point { int x; int y; };\n"
                         "static int helper(int);\n"
                         "int\n"
                         "main(void)\n"
                         "{\n"
                         "\tsize_t n = sizeof(struct point);   // it's \"odd\" {\n"
                         "\treturn helper((int)n) + first() + X;\n"
                         "}\n"
                         "static int helper(int v) { return v + '\\n'; }\n"
                         "\tint tabbed;\n"
                         "int oldstyle(a)\n"
                         "int a;\n"
                         "{\n"
                         "  return a;\n"
                         "}\n";
    RealRun real;
    EXPECT_EQ(real.run("/usr/bin/gcc", "x.c", source),
              (std::vector<std::string>{"1.1 - 1.30", "4.16 - 4.22", "4.23 - 4.29", "5.1 - 5.24",
                                        "6.1 - 11.2", "12.1 - 12.46", "13.2 - 13.13",
                                        "14.1 - 18.2"}));
}

TEST(RealCompiler, CxxFile) {
    const char* source = "int g(int);\n"
                         "namespace n {\n"
                         "struct B { virtual ~B() {} };\n"
                         "class A : public B {\n"
                         "  void p();\n"
                         "public:\n"
                         "  A() : m_(0), s_(R\"(x\n"
                         "y)\") {}\n"
                         "  int get() const { return m_; }\n"
                         "private:\n"
                         "  int m_;\n"
                         "  const char* s_;\n"
                         "};\n"
                         "}\n"
                         "int h(int x) { return x; }\n";
    RealRun real;
    EXPECT_EQ(real.run("/usr/bin/g++", "x.cc", source),
              (std::vector<std::string>{"1.1 - 1.12", "3.12 - 3.27", "5.3 - 5.12", "7.3 - 8.8",
                                        "9.3 - 9.33", "11.3 - 11.10", "12.3 - 12.18",
                                        "15.1 - 15.27"}));
}

TEST(RealCompiler, QuotesInThePathOfTheFile) {
    RealRun real;
    std::string odd = real.dir + "/it's \"odd\"";
    ASSERT_EQ(mkdir(odd.c_str(), 0700), 0);
    // In the recorded command the blanks and quotes of the path are escaped.
    std::string word;
    for (char c : odd + "/x.c")
        word += (c == ' ' || c == '"' ? "\\" : "") + std::string(1, c);
    real.dir = odd;
    EXPECT_EQ(real.run("/usr/bin/gcc", "x.c", "int f(void) { return 0; }\n", "/", word),
              std::vector<std::string>{"1.1 - 1.26"});
}

} // namespace
