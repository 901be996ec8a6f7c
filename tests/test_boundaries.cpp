// The preprocessor run and the boundary scanner. Exact scanner cases go
// through a fake compiler, a shell script that prints a prepared text
// whatever its arguments, so that records and scan file can be compared byte
// for byte; runs of the real compiler check that the scanner reads what it
// actually writes (its opening "# 0" markers, tabs, raw strings, odd paths).
#include "cli.h"

#include "EntityClass.h"
#include "EntityInstance.h"
#include "RelationClass.h"
#include "RelationInstance.h"
#include "boundaries.h"
#include "lopwort.h"
#include "xmalloc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Records = std::vector<std::string>;

// A function entity contained by a file entity whose "args" is argsP.
CEntityInstance* deadFunction(const std::string* argsP) {
    static CEntityClass* fileClassP = new CEntityClass("cFile");
    static CEntityClass* functionClassP = new CEntityClass("GF");
    static CRelationClass* containP = new CRelationClass("contain");
    CEntityInstance* fileP = fileClassP->newEntity("x.c");
    CEntityInstance* functionP = functionClassP->newEntity("f");
    new CRelationInstance(containP, fileP, functionP);
    if (argsP != nullptr)
        fileP->putAttribute("args", arena_strdup(argsP->c_str(), argsP->size()));
    return functionP;
}

void setCurrentFile(const std::string& path) {
    g_filenameP = arena_strdup(path.c_str(), path.size());
}

// A text with NUL bytes in it, taken whole from a string literal.
template <size_t N> std::string bytes(const char (&textR)[N]) {
    return std::string(textR, N - 1);
}

Records records() {
    Records out;
    for (int i = 0; i < g_boundaries; ++i) {
        const boundaryT& r = g_boundariesP[i];
        out.push_back(std::to_string(r.lineno[0]) + "." + std::to_string(r.character[0]) + " - " +
                      std::to_string(r.lineno[1]) + "." + std::to_string(r.character[1]));
    }
    return out;
}

// Standard output and error while body runs, the children's included.
std::pair<std::string, std::string> capture(const std::function<void()>& body) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    body();
    std::string out = testing::internal::GetCapturedStdout();
    return {out, testing::internal::GetCapturedStderr()};
}

// A temporary directory holding the fake compiler "cc", which prints pre.i;
// the wanted file is x.c there.
struct FakeCompiler {
    std::string dir = makeTempDir();
    std::string cc = dir + "/cc";
    std::string file = dir + "/x.c";

    explicit FakeCompiler(const std::string& script = "exec /bin/cat pre.i\n") {
        writeFile(cc, "#!/bin/sh\n" + script);
        chmod(cc.c_str(), 0700);
        setCurrentFile(file);
        g_debug_flag = 0;
        g_trace_flag = 0;
    }
    std::string args() const { return "(" + dir + " " + cc + " -c x.c)"; }
    int run(const std::string& text) {
        writeFile(dir + "/pre.i", text);
        std::string a = args();
        return establish_boundaries(deadFunction(&a));
    }
};

std::string vectorText() {
    std::string out;
    for (char** argPP = g_argsPP; *argPP != nullptr; ++argPP)
        out += (argPP == g_argsPP ? "" : "|") + std::string(*argPP);
    return out;
}

TEST(RecoverArgs, CutsQuotesEscapesAndFiltersOptions) {
    struct {
        const char* valueP;
        const char* vectorP; // elements joined by "|"
        int words;           // g_args, the two constants included
    } const cases[] = {
        {"(/src /usr/bin/gcc -c -O2 -o foo.o -g foo.c)",
         "/src|/usr/bin/gcc|-E|-ftabstop=1|-O2|foo.c", 10},
        {"/d cc ", "/d|cc|-E|-ftabstop=1", 4},
        {"(/d cc x.c -o)", "/d|cc|-E|-ftabstop=1|x.c", 6},
        {"(/d cc -ox.o -o -o y.c)", "/d|cc|-E|-ftabstop=1|y.c", 8},
        {"(/d cc -g3 -CC -P -S -cx -Dx - -E)", "/d|cc|-E|-ftabstop=1|-Dx|-|-E", 12},
        {"(/d cc \"-DF(x)=x\" \"-I /i\" \"-DS=\\\"a b\\\"\")",
         "/d|cc|-E|-ftabstop=1|-DFx=x|-I/i|-DS=\"ab\"", 7},
        {"\t/d\n\f\r\x1b cc,{x\xc3\xa9.c}\x7f", "/d|cc|-E|-ftabstop=1|x\xc3\xa9.c", 5},
        {"(/d cc a\\nb\\rc \\(p\\) \\-c)", "/d|cc|-E|-ftabstop=1|a\nb\rc|(p)", 7},
        {"(\"/my dir\" cc \"\" x.c)", "/mydir|cc|-E|-ftabstop=1||x.c", 6},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(recover_args(c.valueP), 1) << c.valueP;
        EXPECT_EQ(vectorText(), c.vectorP) << c.valueP;
        EXPECT_EQ(g_args, c.words) << c.valueP;
    }
    // Malformed: no word, one word, ending inside a word (bare or quoted), a
    // quote inside a bare word, a lone backslash at the end.
    for (const char* valueP : {"", "(/d)", "(/d cc", "(/d cc \"x)", "(/d c\"c x)", "(/d cc)\\"}) {
        EXPECT_EQ(recover_args(valueP), 0) << valueP;
        EXPECT_EQ(g_argsPP[0], nullptr) << valueP;
    }
}

TEST(RecoverArgs, VectorGrowsForLongerCommands) {
    ASSERT_EQ(recover_args("(/d cc a)"), 1);
    std::string many = "(/d cc";
    for (int i = 0; i < 300; ++i)
        many += " w" + std::to_string(i);
    ASSERT_EQ(recover_args((many + ")").c_str()), 1);
    EXPECT_STREQ(g_argsPP[303], "w299");
    EXPECT_EQ(g_argsPP[304], nullptr);
}

TEST(EstablishBoundaries, NoRunWithoutContainerOrWithBadArgs) {
    FakeCompiler fake("echo ran >ran\n");
    std::string bad = "(" + fake.dir + " " + fake.cc + " c\"c)";
    g_boundaries = 5;
    auto [out, err] = capture([&] {
        EXPECT_EQ(establish_boundaries((new CEntityClass("GF"))->newEntity("alone")), 0);
        EXPECT_EQ(establish_boundaries(deadFunction(nullptr)), 0);
        EXPECT_EQ(establish_boundaries(deadFunction(&bad)), 0);
    });
    EXPECT_EQ(err, "** " + fake.file + " has malformed compile arguments\n");
    EXPECT_EQ(g_boundaries, 0);
    EXPECT_NE(access((fake.dir + "/ran").c_str(), F_OK), 0);
}

TEST(Scan, RecordsTopLevelConstructs) {
    const struct {
        std::string text;
        Records records;
    } cases[] = {
        {"# 10 \"x.c\"\nint f(void)\n{\n return 0;\n}\n", {"10.1 - 13.2"}},
        {"# 5 \"x.c\"\nint g(int);\nstruct s { int a; };\n", {"5.1 - 5.12", "6.12 - 6.18"}},
        {"# 1 \"x.c\"\nint f(a)\nint a;\n{\n return a;\n}\n", {"1.1 - 5.2"}},
        {"# 1 \"x.c\"\nA::A(int x) : m(x), n(x)\n{\n}\n", {"1.1 - 3.2"}},
        // A label is dropped; the next character that is no blank opens.
        {"# 1 \"x.c\"\nclass A {\npublic:\n  void f() { }\nprotected:int x;\n};\n",
         {"3.3 - 3.15", "4.11 - 4.17"}},
        {"# 1 \"x.c\"\nstruct s {\n int a:3;\n};\n", {"2.8 - 2.10"}},
        {"# 1 \"x.c\"\nint (*fp)(int);\nint y;\n", {"1.1 - 1.16", "2.1 - 2.7"}},
        {"# 1 \"x.c\"\nchar* s = \"a;{b}\\\";\";\nchar d = '\\'';\nint f() { return '{'; }\n",
         {"1.1 - 1.22", "2.1 - 2.15", "3.1 - 3.24"}},
        // A braced initialiser belongs to its declaration; a directive
        // other than a marker is no code.
        {"# 1 \"x.c\"\nint v[] = { 1, 2 };\n", {"1.1 - 1.20"}},
        {"# 1 \"x.c\"\n#pragma pack(1)\nstruct s { int a; };\n", {"2.12 - 2.18"}},
        {"# 1 \"x.c\"\nint a;\n# 1 \"/h.h\" 1 3 4\nint b;\nint f() {}\n# 3 \"x.c\" 2\nint c;\n",
         {"1.1 - 1.7", "3.1 - 3.7"}},
        // A body closed in another file stays open; the next one is found.
        {"# 1 \"x.c\"\nint f() {\n# 1 \"inc.h\" 1\n}\n# 3 \"x.c\" 2\nint c;\n",
         {"1.1 - -1.0", "3.1 - 3.7"}},
        {"int a;\n#  2   \"x.c\" 2 3\t4 \r\nint b;\n", {"1.1 - 1.7", "2.1 - 2.7"}},
        {"# 4 \"./x.c\"\nint a;\n# 1 \"x.c\"\nint b;\n", {"1.1 - 1.7"}},
        {"# 1 \"x.c\"\n# x;\n#1\"x.c\";\nint a;\n", {"3.1 - 3.7"}},
        // Both bytes of an escape are columns; raw strings span lines.
        {"# 1 \"x.c\"\nint f(void) { return '\\n'; }\n", {"1.1 - 1.29"}},
        {"# 1 \"x.c\"\nchar* s = R\"(a\nb)\";\nint b;\n", {"1.1 - 2.5", "3.1 - 3.7"}},
        // The compiler's "# 0" preamble is no code; line 0 records nothing.
        {"# 0 \"x.c\"\n# 0 \"<built-in>\"\n# 0 \"<command-line>\"\n# 1 "
         "\"/usr/include/stdc-predef.h\" 1 3 4\n"
         "# 0 \"<command-line>\" 2\n# 1 \"x.c\"\nint f(void) { return 0; }\n",
         {"1.1 - 1.26"}},
        {"# 0 \"x.c\"\nint a;\nint b;\n# 03 \"x.c\"\nint d;\n", {"3.1 - 3.7"}},
        // An earlier prototype makes no body of a struct, namespace, extern
        // block or class brace, nor keeps a label from being dropped.
        {"# 1 \"x.c\"\nint g(int);\nnamespace n {\nint f() { return 1; }\n}\n",
         {"1.1 - 1.12", "3.1 - 3.22"}},
        {"# 1 \"x.c\"\nint g(int);\nextern \"C\" {\nint h(void);\n}\n",
         {"1.1 - 1.12", "3.1 - 3.13"}},
        {"# 1 \"x.c\"\nvoid g();\nclass A {\npublic:\n A() {}\n};\n", {"1.1 - 1.10", "4.2 - 4.8"}},
        {"# 1 \"x.c\"\nint g(int);\nint f(a)\nint a;\n{\n}\n", {"1.1 - 1.12", "2.1 - 5.2"}},
        // NUL bytes are ordinary characters.
        {bytes("# 1 \"x.c\"\nint \0a;\n\0int b;\n"), {"1.1 - 1.8", "2.1 - 2.8"}},
    };
    FakeCompiler fake;
    for (const auto& c : cases) {
        std::string err = capture([&] { EXPECT_EQ(fake.run(c.text), g_boundaries); }).second;
        EXPECT_EQ(records(), c.records) << c.text;
        EXPECT_EQ(err, "") << c.text;
    }
}

// The shapes of today's C and C++ that a scan of braces alone gets wrong:
// each function must be one record from its first character (attributes
// included) to its last, and class, namespace and extern bodies none.
TEST(Scan, ModernShapesGetTheirWholeExtent) {
    const struct {
        const char* textP;
        Records records;
    } cases[] = {
        // Member initialisers in braces, also after noexcept and packs.
        {"S::S(const S& o) : ptr_{clone(o.ptr_)} {}\n", {"1.1 - 1.42"}},
        {"D::D(int a, int b) : Base{a}, m_{b} {\n}\n", {"1.1 - 2.2"}},
        {"template <class... X> V::V(X... x) : v{x...}, B<X>{x}... { }\n", {"1.1 - 1.61"}},
        {"S::S() noexcept : a{1} { }\n", {"1.1 - 1.27"}},
        // Function-try-blocks: the handlers are part of the function.
        {"int f(int x) try { return g(x); } catch (const E& e) { return 1; }"
         " catch (...) { return 2; }\nint y;\n",
         {"1.1 - 1.93", "2.1 - 2.7"}},
        {"S::S() try : a{1} {\n} catch (...) {\n}\nint z;\n", {"1.1 - 3.2", "4.1 - 4.7"}},
        {"int f() try { } catch (...) { }\ntry_me x;\n", {"1.1 - 1.32", "2.1 - 2.10"}},
        // Class and namespace heads with attributes and template arguments.
        {"struct __attribute__((visibility(\"default\"))) S {\n int f() { return 1; }\n};\n",
         {"2.2 - 2.23"}},
        {"class alignas(16) [[nodiscard]] __declspec(dllexport) S : public Base<S> {\n"
         "  void g() {}\n};\n",
         {"2.3 - 2.14"}},
        {"struct S : B<void(int)>, C<decltype(f())> {\n  void g() {}\n};\n", {"2.3 - 2.14"}},
        {"template <typename T, void (*F)(T)> struct W {\n void g() {}\n};\n", {"2.2 - 2.13"}},
        {"namespace __attribute__((visibility(\"hidden\"))) n {\nint f() { return 0; }\n}\n",
         {"2.1 - 2.22"}},
        {"extern \"C\" {\nint c1(void) { return 1; }\n}\n", {"2.1 - 2.27"}},
        {"enum class E : int { A, B };\nint f() { return 0; }\n", {"2.1 - 2.22"}},
        // Attributes before a function, on their own line; braces inside
        // their strings.
        {"[[nodiscard]]\nint f() { return 1; }\n[[deprecated(\"use {g} instead\")]]\n"
         "int g() { return 2; }\n",
         {"1.1 - 2.22", "3.1 - 4.22"}},
        {"__attribute__((noinline))\nstatic int k(void) { return 4; }\n", {"1.1 - 2.33"}},
        // Braces in parameters, trailing return types, requires clauses and
        // expressions, noexcept, defaulted and deleted definitions,
        // deduction guides.
        {"int f(int x = int{5}, F g = [] { return; }) { return x; }\n"
         "auto g() -> int { return 1; }\n",
         {"1.1 - 1.58", "2.1 - 2.30"}},
        {"template <class T> requires requires (T x) { x + 1; } void f(T) {}\n"
         "template <class T> void g(T) requires (sizeof(T) > 1) { }\n"
         "template <class T> concept C = requires(T a) { a + a; };\n",
         {"1.1 - 1.67", "2.1 - 2.58", "3.1 - 3.57"}},
        {"void h(int) noexcept(noexcept(f(1))) { }\nS::S() = default;\n"
         "S& S::operator=(const S&) = delete;\ntemplate <class T> S(T) -> S<T>;\n",
         {"1.1 - 1.41", "2.1 - 2.18", "3.1 - 3.36", "4.1 - 4.33"}},
        // Operators, whose "<" and ">" open no template arguments.
        {"bool S::operator()(int a) const { return a < 1; }\n"
         "bool operator<(const A& a, const A& b) { return true; }\n"
         "A operator<<(A a, int) { return a; }\nbool operator>(A, A) { return 0; }\n",
         {"1.1 - 1.50", "2.1 - 2.56", "3.1 - 3.37", "4.1 - 4.35"}},
        // Raw strings with quotes, braces and backslashes; digit separators.
        {"const char* r = R\"x(a \" } b)x\";\nint f() { return 1; }\n"
         "const char* s = R\"(\\)\";\nint g() { return 2; }\n",
         {"1.1 - 1.32", "2.1 - 2.22", "3.1 - 3.24", "4.1 - 4.22"}},
        {"long n = 1'000'000'000;\nint f() { return 1; }\n", {"1.1 - 1.24", "2.1 - 2.22"}},
        {"char c = u8'a', d = L'\\'';\nint f() { return '}'; }\n", {"1.1 - 1.27", "2.1 - 2.24"}},
        // A stray quote ends at its line.
        {"int a = x';\nint b;\nint f() { return 1; }\n", {"1.1 - 2.7", "3.1 - 3.22"}},
        // Tables and braced variables are one declaration each.
        {"static const fp table[] = { f, g };\nint x{5};\nstd::vector<int> v{1, 2};\n",
         {"1.1 - 1.36", "2.1 - 2.10", "3.1 - 3.26"}},
        {"auto l = [](int a) { return a; };\nint f() { return 0; }\n", {"1.1 - 1.34", "2.1 - 2.22"}},
        {"int x = g(1) ? h(2) : [] { return 3; }();\nint f() { return 0; }\n",
         {"1.1 - 1.42", "2.1 - 2.22"}},
    };
    FakeCompiler fake;
    for (const auto& c : cases) {
        fake.run(std::string("# 1 \"x.c\"\n") + c.textP);
        EXPECT_EQ(records(), c.records) << c.textP;
    }
}

// Whether a construct begins with its line's first token: the preprocessor
// may move that token (a macro expanding to nothing before it), but not off
// the front of the line.
TEST(Scan, ConstructsThatBeginTheirLineAreMarked) {
    FakeCompiler fake;
    fake.run("# 1 \"x.c\"\n int h(void) { return 0; }\nint x; int g(void) {}\n"
             "const char* s = R\"(\n)\"; int k;\nint f(a)\nint a;\n{\n}\n");
    EXPECT_EQ(records(), (Records{"1.2 - 1.27", "2.1 - 2.7", "2.8 - 2.22", "3.1 - 4.4",
                                  "4.5 - 4.11", "5.1 - 8.2"}));
    std::vector<int> starts;
    for (int i = 0; i < g_boundaries; ++i)
        starts.push_back(g_boundariesP[i].linestart);
    EXPECT_EQ(starts, (std::vector<int>{1, 1, 0, 1, 0, 1}));
}

TEST(Scan, DebugFileIsAnAnnotatedCopy) {
    const struct {
        const char* textP;
        const char* scanP;
    } cases[] = {
        {"# 1 \"x.c\"\nint f(a, b)\nint a;\nchar *b;\n{\n}\n",
         "0001 # 1 \"x.c\"\n0001 \n##START lineno=1+1\nint f(a, b)\n0002+int a;\n##END "
         "lineno=2+6\n\n0003+\n"
         "##START lineno=3+1\nchar *b;\n##END lineno=3+8\n\n0004+!!{\n0005+}\n##END "
         "lineno=5+1\n\n0006+\n\n"
         "1.1 - 5.2\n"},
        {"# 0 \"x.c\"\n# 1 \"<built-in>\"\nx\n# 1 \"x.c\" 2\nchar c = '\\n';\n",
         "0001 # 0 \"x.c\"\n0000 # 1 \"<built-in>\"\n     x\n     # 1 \"x.c\" 2\n0001 \n##START "
         "lineno=1+1\n"
         "char c = '\\n';\n##END lineno=1+14\n\n0002+\n\n1.1 - 1.15\n"},
    };
    FakeCompiler fake;
    g_debug_flag = 1;
    for (const auto& c : cases) {
        fake.run(c.textP);
        EXPECT_EQ(readFile(fake.file + ".scan"), c.scanP) << c.textP;
    }
    // A scan file that cannot be created, or whose name does not fit, is
    // left out; the records are made all the same.
    std::string longName = fake.dir + "/" + std::string(2100 - fake.dir.size(), 'n');
    for (const std::string& name : {fake.dir + "/missing/x.c", longName}) {
        setCurrentFile(name);
        EXPECT_EQ(capture([&] { fake.run("int a;\n"); }).second,
                  "Can't create " + name + ".scan\n");
        EXPECT_EQ(records(), Records{"1.1 - 1.7"});
    }
}

TEST(Scan, MarkerNamesThatDoNotFitNameNoFileOfOurs) {
    FakeCompiler fake;
    // A relative name that fits, to the byte, with the directory in front.
    std::string name(2047 - fake.dir.size() - 1, 'r');
    setCurrentFile(fake.dir + "/" + name);
    fake.run("# 2 \"" + name + "\"\nint a;\n");
    EXPECT_EQ(records(), Records{"2.1 - 2.7"});
    // One byte more; an overlong absolute name; a NUL; a number too large.
    setCurrentFile(fake.dir + "/" + name + "r");
    fake.run("# 2 \"" + name + "r\"\nint a;\n# 5 \"/" + std::string(5000, 'a') + "\"\nint b;\n");
    EXPECT_EQ(records(), Records{});
    setCurrentFile(fake.file);
    fake.run(bytes("# 1 \"x.c\0\"\nint a;\n# 99999999999 \"x.c\"\nint b;\n# 4 \"x.c\"\nint c;\n"));
    EXPECT_EQ(records(), Records{"4.1 - 4.7"});
}

TEST(Scan, ManyConstructsHugeLinesAndBinaryText) {
    FakeCompiler fake;
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += "int a;\n";
    EXPECT_EQ(fake.run(text), 5000);
    EXPECT_EQ(records()[4999], "5000.1 - 5000.7");
    boundaryT* arrayP = g_boundariesP;
    EXPECT_EQ(fake.run("int f() {" + std::string(3 << 20, ' ') + "}\n"), 1);
    EXPECT_EQ(records(), Records{"1.1 - 1.3145739"});
    EXPECT_EQ(g_boundariesP, arrayP); // the array keeps its room

    std::string junk; // megabytes of every byte value, a backslash last
    for (unsigned i = 0, seed = 1; i < (6u << 20); ++i)
        junk += static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    g_debug_flag = 1;
    fake.run(junk + "\\");
    EXPECT_LE(g_boundaries, g_boundaries_max);
}

// Text of several files as a preprocessor writes it, made of the tokens the
// scanner acts on: markers that enter and leave the files anywhere (inside
// bodies, parameter lists and raw strings too), directives, continued lines
// and literals that span lines.
std::string markedText(unsigned seed, const std::vector<std::string>& spellings) {
    static const char* const kPieces[] = {
        "class", "struct", "namespace", "try", "catch", "requires", "operator", "template",
        "extern", "int", "f", "x", "enum", "decltype", "noexcept", "R", "u8", "const", "{", "}",
        "(", ")", "[", "]", ";", ":", "=", "<", ">", ">>", "&&", "||", "!", ",", "~", "?", "::",
        "...", "<=>", "\"s\"", "'c'", "R\"x(a)\nb)x\"", "\"a\\\"b\"", "\"open", "R\"(\n# 1 \"b.h\"\n)\"",
        "1'000", "1e+5", "\\\n", "\n", "\n", "\n#pragma x\n", "\t"};
    const size_t pieces = sizeof kPieces / sizeof *kPieces;
    auto next = [&seed](size_t n) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<size_t>(seed >> 8) % n;
    };
    std::string text;
    for (size_t i = 0, n = 50 + next(400); i < n; ++i) {
        if (next(16) == 0) {
            size_t f = next(spellings.size() + 1); // the last is a file no one wants
            text += "\n# " + std::to_string(next(30)) + " \"" +
                    (f < spellings.size() ? spellings[f] : "other.h") + "\"" +
                    (next(2) ? " " + std::to_string(1 + next(2)) : "") + "\n";
        } else {
            text += kPieces[next(pieces)];
            text += next(3) ? " " : "";
        }
    }
    return text;
}

TEST(ScanFiles, EachFileGetsTheRecordsOfItsOwnScan) {
    std::string dir = makeTempDir(), textFile = dir + "/pre.i";
    // Spelled relative, absolute, and relative with a directory: all are
    // made absolute against the preprocessor's directory.
    std::vector<std::string> spellings = {"a.c", dir + "/b.h", "sub/c.h"};
    std::vector<std::string> wanted = {dir + "/a.c", dir + "/b.h", dir + "/sub/c.h", dir + "/a.c"};
    auto each = [&](const std::string& text, const std::string& what) -> size_t {
        writeFile(textFile, text);
        std::vector<std::vector<boundaryT>> together;
        scan_files(dir.c_str(), open(textFile.c_str(), O_RDONLY), wanted, together);
        if (together.size() != wanted.size()) {
            ADD_FAILURE() << what << ": " << together.size() << " record lists";
            return 0;
        }
        size_t made = 0;
        for (size_t i = 0; i < wanted.size(); ++i) {
            // With its scan file, a scan gives every step to its file's
            // constructs, in the file or not, where scan_files passes over
            // what cannot change them.
            setCurrentFile(wanted[i]);
            g_debug_flag = 1;
            scan(dir.c_str(), open(textFile.c_str(), O_RDONLY));
            g_debug_flag = 0;
            bool same = together[i].size() == static_cast<size_t>(g_boundaries);
            for (size_t r = 0; same && r < together[i].size(); ++r)
                same = memcmp(&together[i][r], &g_boundariesP[r], sizeof(boundaryT)) == 0;
            if (!same)
                ADD_FAILURE() << what << ": the records of " << wanted[i] << " differ";
            made += together[i].size();
        }
        return made;
    };
    // A body that another file's text continues, and a handler that may
    // follow in another file: what is open follows the text out of its file.
    EXPECT_EQ(each("# 1 \"a.c\"\nint f() {\n# 1 \"sub/c.h\" 1\nint g() { return 1; }\n}\n"
                   "# 3 \"a.c\" 2\nint h() try {} \n# 1 \"" + dir + "/b.h\"\ncatch (...) {}\n",
                   "crossing"),
              6u);
    size_t made = 0;
    for (unsigned seed = 1; seed <= 400; ++seed)
        made += each(markedText(seed, spellings), "seed " + std::to_string(seed));
    EXPECT_GT(made, 400u); // the texts do make records
}

TEST(CallCc, ChildGetsTheVectorInItsDirectoryWithNoEnvironment) {
    FakeCompiler fake("echo \"$0 $*\" >seen\necho \"${HOME-none} ${LOPWORT_PROBE-none}\" >>seen\n"
                      "pwd >>seen\nexec /bin/cat pre.i\n");
    setenv("LOPWORT_PROBE", "set", 1);
    g_trace_flag = 1;
    writeFile(fake.dir + "/pre.i", "int a;\n");
    std::string args = "(" + fake.dir + " " + fake.cc + " -c -g -DX=1 \"-I a\" -o x.o x.c)";
    std::string err =
        capture([&] { EXPECT_EQ(establish_boundaries(deadFunction(&args)), 1); }).second;
    EXPECT_EQ(err, fake.dir + " " + fake.cc + " -E -ftabstop=1 -DX=1 -Ia x.c \n");
    EXPECT_EQ(readFile(fake.dir + "/seen"),
              fake.cc + " -E -ftabstop=1 -DX=1 -Ia x.c\nnone none\n" + fake.dir + "\n");
}

TEST(CallCc, ExitStatusOrSignalIsReturnedAndTheRecordsStand) {
    FakeCompiler fake("/bin/cat pre.i\nexit 3\n");
    writeFile(fake.dir + "/pre.i", "int a;\n");
    ASSERT_EQ(recover_args(fake.args().c_str()), 1);
    EXPECT_EQ(call_cc(g_argsPP), 3);
    EXPECT_EQ(g_boundaries, 1);
    writeFile(fake.cc, "#!/bin/sh\n/bin/cat pre.i\nkill -KILL $$\n");
    std::string err = capture([&] { EXPECT_EQ(call_cc(g_argsPP), -1); }).second;
    EXPECT_EQ(err, fake.cc + " did not terminate normally\n");
    EXPECT_EQ(records(), Records{"1.1 - 1.7"});
}

// A child that cannot start the preprocessor says why and writes nothing on
// the pipe; what the report had buffered is neither repeated nor swallowed.
TEST(CallCc, FailingChildEndsAloneAndLeavesTheReportAlone) {
    FakeCompiler fake;
    const std::pair<std::string, std::string> cases[] = {
        {"(" + fake.dir + " " + fake.dir + "/nope -c x.c)",
         "Return from execve " + fake.dir + "/nope\nExit code 1\n"},
        {"(" + fake.dir + "/gone " + fake.cc + " x.c)",
         "Can't change directory to " + fake.dir +
             "/gone\nNo such file or directory\nExit code 1\n"},
    };
    for (const auto& c : cases) {
        auto [out, err] = capture([&] {
            printf("\t(GF) earlier report line\n");
            EXPECT_EQ(establish_boundaries(deadFunction(&c.first)), 0);
        });
        EXPECT_EQ(out, "\t(GF) earlier report line\n");
        EXPECT_EQ(err, c.second);
    }
}

TEST(ScanDeathTest, UnreadablePipeEndsTheRun) {
    EXPECT_EXIT(scan("/", -1), testing::ExitedWithCode(2),
                "^Can't open input pipe from cpp\nExit code 2\n$");
}

// Runs the real compiler on source written to dir/name; the recorded command
// runs in cwdWord on fileWord.
Records realRun(const std::string& compiler, const std::string& dir, const std::string& name,
                const std::string& source, const std::string& cwdWord,
                const std::string& fileWord) {
    g_debug_flag = g_trace_flag = 0;
    writeFile(dir + "/" + name, source);
    setCurrentFile(dir + "/" + name);
    std::string args =
        "(" + cwdWord + " " + compiler + " -c -O2 -g -DX=1 -o out.o " + fileWord + ")";
    EXPECT_EQ(capture([&] { establish_boundaries(deadFunction(&args)); }).second, "");
    EXPECT_NE(access((cwdWord + "/out.o").c_str(), F_OK), 0) << "compiled instead";
    return records();
}

TEST(RealCompiler, CFile) {
    // Line 1 is a construct: the compiler's "# 0" markers must not swallow it.
    const char* source = "int first(void) { return 1; }\n#include <stddef.h>\n"
                         "/* don't { ; */\nstruct point { int x; int y; };\n"
                         "static int helper(int);\nint\nmain(void)\n{\n"
                         "\tsize_t n = sizeof(struct point);   // it's \"odd\" {\n"
                         "\treturn helper((int)n) + first() + X;\n}\n"
                         "static int helper(int v) { return v + '\\n'; }\n\tint tabbed;\n"
                         "int oldstyle(a)\nint a;\n{\n  return a;\n}\n";
    std::string dir = makeTempDir();
    EXPECT_EQ(realRun("/usr/bin/gcc", dir, "x.c", source, dir, "x.c"),
              (Records{"1.1 - 1.30", "4.16 - 4.22", "4.23 - 4.29", "5.1 - 5.24", "6.1 - 11.2",
                       "12.1 - 12.46", "13.2 - 13.13", "14.1 - 18.2"}));
}

TEST(RealCompiler, CxxFile) {
    // After prototypes: a namespace, a class with a label before an inline
    // constructor whose initialiser holds a raw string over two lines.
    const char* source = "int g(int);\nnamespace n {\nstruct B { virtual ~B() {} };\n"
                         "class A : public B {\n  void p();\npublic:\n"
                         "  A() : m_(0), s_(R\"(x\ny)\") {}\n"
                         "  int get() const { return m_; }\nprivate:\n  int m_;\n"
                         "  const char* s_;\n};\n}\nint h(int x) { return x; }\n";
    std::string dir = makeTempDir();
    EXPECT_EQ(realRun("/usr/bin/g++", dir, "x.cc", source, dir, "x.cc"),
              (Records{"1.1 - 1.12", "3.12 - 3.27", "5.3 - 5.12", "7.3 - 8.8", "9.3 - 9.33",
                       "11.3 - 11.10", "12.3 - 12.18", "15.1 - 15.27"}));
}

TEST(RealCompiler, QuotesInThePathOfTheFile) {
    std::string dir = makeTempDir() + "/it's \"odd\"";
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    std::string word; // the path as the recorded command escapes it
    for (char c : dir + "/x.c")
        word += (c == ' ' || c == '"' ? "\\" : "") + std::string(1, c);
    EXPECT_EQ(realRun("/usr/bin/gcc", dir, "x.c", "int f(void) { return 0; }\n", "/tmp", word),
              Records{"1.1 - 1.26"});
}

} // namespace
