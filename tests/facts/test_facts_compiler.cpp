// The recorded compiler's defaults: reading its answers (in-process, on
// texts as gcc and clang print them), and end to end, that a unit parsed by
// lopwort-facts takes the same "#if" branches as the build, for g++ and
// clang, C and C++, and for each form a compilation database entry takes.
#include "compiler.h"
#include "merge.h"

#include "facts_project.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

TEST(CompilerAnswer, MacrosSearchListAndStandard) {
    const std::string out = "#define __GNUC__ 12\n#define __cplusplus 201703L\n"
                            "#define __VERSION__ \"12.2.0\"\n#define __has_include(STR) x\n"
                            "#define _GNU_SOURCE 1\n#define __STRICT_ANSI_NOT\n";
    const std::string err = "ignoring nonexistent directory \"/x\"\n"
                            "#include \"...\" search starts here:\n"
                            " /quoted/only\n"
                            "#include <...> search starts here:\n"
                            " /usr/include/c++/12\n"
                            " /usr/lib/gcc/x86_64-linux-gnu/12/include\n"
                            " /System/Library/Frameworks (framework directory)\n"
                            " /usr/include\n"
                            "End of search list.\n"
                            " /after/the/end\n";
    CCompilerDefaults d;
    d.m_language = "c++";
    read_compiler_answer(out, err, d);
    EXPECT_EQ(d.m_macros.at("__GNUC__"), "12");
    EXPECT_EQ(d.m_macros.at("__VERSION__"), "\"12.2.0\"");
    EXPECT_EQ(d.m_macros.at("__STRICT_ANSI_NOT"), "");
    EXPECT_EQ(d.m_macros.count("__has_include"), 0u);
    EXPECT_EQ(d.m_includeDirs,
              (std::vector<std::string>{"/usr/include/c++/12",
                                        "/usr/lib/gcc/x86_64-linux-gnu/12/include", "/usr/include"}));
    EXPECT_EQ(d.standard(), "gnu++17");
}

TEST(CompilerAnswer, StandardFromTheVersionMacros) {
    struct Row {
        const char* language;
        std::map<std::string, std::string> macros;
        const char* standard;
    };
    const Row rows[] = {
        {"c++", {{"__cplusplus", "199711L"}}, "gnu++98"},
        {"c++", {{"__cplusplus", "201103L"}, {"__STRICT_ANSI__", "1"}}, "c++11"},
        {"c++", {{"__cplusplus", "201402L"}}, "gnu++14"},
        {"c++", {{"__cplusplus", "202002L"}}, "gnu++20"},
        {"c++", {{"__cplusplus", "202100L"}}, "gnu++2b"},
        {"c++", {}, ""},
        {"c", {{"__STDC__", "1"}}, "gnu89"},
        {"c", {{"__STDC__", "1"}, {"__STDC_VERSION__", "199409L"}}, "iso9899:199409"},
        {"c", {{"__STDC__", "1"}, {"__STDC_VERSION__", "199901L"}, {"__STRICT_ANSI__", "1"}}, "c99"},
        {"c", {{"__STDC__", "1"}, {"__STDC_VERSION__", "201112L"}}, "gnu11"},
        {"c", {{"__STDC__", "1"}, {"__STDC_VERSION__", "201710L"}}, "gnu17"},
        {"c", {{"__STDC__", "1"}, {"__STDC_VERSION__", "202000L"}}, "gnu2x"},
        {"c", {}, ""},
        {"objective-c", {{"__STDC__", "1"}, {"__STDC_VERSION__", "201112L"}}, "gnu11"},
    };
    for (const Row& r : rows) {
        CCompilerDefaults d;
        d.m_language = r.language;
        d.m_macros = r.macros;
        EXPECT_EQ(d.standard(), r.standard) << r.language;
    }
}

TEST(CompilerAnswer, LanguageQuestionAndDirectories) {
    auto command = [](const std::string& compiler, const std::string& file,
                      std::vector<std::string> args) {
        CCompileCommand c;
        c.m_directory = "/b";
        c.m_file = file;
        c.m_compiler = compiler;
        args.insert(args.begin(), compiler);
        c.m_arguments = args;
        return c;
    };
    EXPECT_EQ(unit_language(command("/usr/bin/gcc", "a.c", {})), "c");
    EXPECT_EQ(unit_language(command("/usr/bin/g++", "a.c", {})), "c++");
    EXPECT_EQ(unit_language(command("/opt/x86_64-linux-gnu-g++-12", "a.c", {})), "c++");
    EXPECT_EQ(unit_language(command("/usr/bin/gcc", "a.cpp", {})), "c++");
    EXPECT_EQ(unit_language(command("/usr/bin/gcc", "a.C", {})), "c++");
    EXPECT_EQ(unit_language(command("/usr/bin/gcc", "a.txt", {"-x", "c++"})), "c++");
    EXPECT_EQ(unit_language(command("/usr/bin/g++", "a.cc", {"-xc"})), "c");
    EXPECT_EQ(unit_language(command("/usr/bin/gcc", "a.h", {"-x", "c-header"})), "c");
    EXPECT_EQ(unit_language(command("/usr/bin/gcc", "a.s", {})), "");
    EXPECT_EQ(unit_language(command("/usr/bin/gcc", "a.cu", {})), "");

    // Only what changes the answers is in the question, so units with
    // other -D, -I, -O or warnings share one answer.
    CCompilerQuestion a = compiler_question(command(
        "/usr/bin/g++", "a.cc", {"-DX=1", "-O2", "-I", "inc", "-std=c++20", "-m32", "-c", "a.cc"}));
    CCompilerQuestion b = compiler_question(
        command("/usr/bin/g++", "b.cc", {"-Wall", "-std=c++20", "-m32", "-c", "b.cc", "-o", "b.o"}));
    EXPECT_FALSE(a < b || b < a);
    EXPECT_EQ(a.m_options, (std::vector<std::string>{"-std=c++20", "-m32"}));
    EXPECT_EQ(a.m_directory, "");
    CCompilerQuestion c = compiler_question(
        command("/usr/bin/g++", "a.cc", {"--sysroot", "sysroot", "-target", "arm-linux-gnueabi"}));
    EXPECT_EQ(c.m_options,
              (std::vector<std::string>{"--sysroot", "sysroot", "-target", "arm-linux-gnueabi"}));
    EXPECT_EQ(c.m_directory, "/b"); // a relative sysroot is the directory's
    EXPECT_TRUE(a < c || c < a);

    for (const char* dir : {"/usr/lib/gcc/x86_64-linux-gnu/12/include",
                            "/usr/lib/gcc/x86_64-linux-gnu/12/include-fixed",
                            "/opt/cross/lib/gcc-cross/arm-linux-gnueabi/10/include",
                            "/usr/lib/llvm-14/lib/clang/14.0.6/include"})
        EXPECT_TRUE(is_compiler_internal_dir(dir)) << dir;
    for (const char* dir : {"/usr/include", "/usr/include/c++/12",
                            "/usr/lib/gcc/x86_64-linux-gnu/12/../../../../include",
                            "/usr/lib/gcc/x86_64-linux-gnu/12/../../../../include/c++/12",
                            "/home/gcc/include", "/usr/lib/gcc/include"})
        EXPECT_FALSE(is_compiler_internal_dir(dir)) << dir;
}

TEST(CompilerAnswer, NamesAFailedUnitWouldSpell) {
    const char* const rows[][2] = {
        {"f", "f"},
        {"ns::C::method", "method"},
        {"ns::C<int, std::pair<int, int>>::method", "method"},
        {"ns::C<int>::C", "C"},
        {"ns::C<int>::~C", "C"},
        {"ns::apply<std::less<int>>", "apply"},
        {"(anonymous namespace)::helper", "helper"},
        {"C::operator+", ""},
        {"C::operator int", ""},
        {"operator<<", ""},
    };
    for (const auto& r : rows)
        EXPECT_EQ(spelled_name(r[0]), r[1]) << r[0];
}

// One program whose calls depend on the compiler's identity, its default
// standard and, in C, on __STDC_VERSION__; each function is named after the
// branch that calls it.
void write_branching_program(FactsProject& p) {
    p.file("a.cc", R"(#include "h.h"
int viaGnu12() { return 1; }
int viaOlderGnu() { return 2; }
int viaClang() { return 3; }
int viaNotClang() { return 4; }
#if __cplusplus >= 201703L
#include <optional>
int viaCxx17() { std::optional<int> o = 5; return *o; }
#else
int viaCxx14() { return 6; }
#endif
int main() {
#if __GNUC__ >= 12
  int r = viaGnu12();
#else
  int r = viaOlderGnu();
#endif
#ifdef __clang__
  r += viaClang();
#else
  r += viaNotClang();
#endif
#if __cplusplus >= 201703L
  r += viaCxx17();
#else
  r += viaCxx14();
#endif
  return r + header_pick();
}
)");
    p.file("h.h", R"(inline int h_gcc() { return 1; }
inline int h_clang() { return 2; }
static inline int header_pick() {
#if defined(__GNUC__) && !defined(__clang__)
  return h_gcc();
#else
  return h_clang();
#endif
}
)");
    p.file("c.c", R"(#include <stdio.h>
int c_new(void) { return 1; }
int c_old(void) { return 2; }
int main(void) {
#if __STDC_VERSION__ >= 201710L
  return c_new();
#else
  return c_old();
#endif
}
)");
}

TEST(FactsCompilers, EachUnitTakesTheBranchesItsOwnCompilerTakes) {
    struct Row {
        const char* cxx;
        const char* cc;
        std::set<std::string> dead;
    };
    const Row rows[] = {
        // g++ 12: gnu++17 and gnu17 by default.
        {"/usr/bin/g++", "/usr/bin/gcc", {"viaOlderGnu:3", "viaClang:4", "h_clang:2", "c_old:3"}},
        // clang 14: gnu++14 and gnu17, and the __GNUC__ of gcc 4.2.
        {"/usr/bin/clang++", "/usr/bin/clang", {"viaGnu12:2", "viaNotClang:5", "h_gcc:1", "c_old:3"}},
    };
    for (const Row& r : rows) {
        if (access(r.cxx, X_OK) != 0 || access(r.cc, X_OK) != 0)
            continue;
        FactsProject p;
        write_branching_program(p);
        p.unit("a.cc", {"-c", "a.cc", "-o", "a.o"}, r.cxx);
        p.unit("c.c", {"-c", "c.c", "-o", "c.o"}, r.cc);
        ASSERT_EQ(p.shell(std::string(r.cxx) + " -c a.cc && " + r.cc + " -c c.c"), 0) << r.cxx;
        RunResult x = p.extract();
        ASSERT_EQ(x.status, 0) << r.cxx << x.err;
        EXPECT_EQ(p.dead(), r.dead) << r.cxx;
    }
}

TEST(FactsCompilers, EveryFormOfADatabaseEntry) {
    FactsProject p;
    write_branching_program(p);
    p.file("inc dir/opts.h", "#define FROM_RSP_HEADER 1\n");
    p.file("rsp.cc", R"(#include "opts.h"
int rsp_on() { return 1; }
int rsp_off() { return 2; }
int main() {
#if FROM_RSP && FROM_RSP_HEADER
  return rsp_on();
#else
  return rsp_off();
#endif
}
)");
    p.file("args.rsp", "-DFROM_RSP=1 \"-Iinc dir\" -c rsp.cc -o rsp.o\n");
    // A precompiled header that only gcc can read, beside its text.
    p.file("pch.h", "#include <vector>\ninline int pch_used() { return 7; }\n#define FROM_PCH 1\n");
    p.file("usepch.cc", R"(int pch_on() { return pch_used(); }
int pch_off() { return 0; }
int main() {
#if FROM_PCH
  return pch_on();
#else
  return pch_off();
#endif
}
)");
    p.file("cmake_pch.hxx", "#include \"pch.h\"\n");
    ASSERT_EQ(p.shell("g++ -x c++-header pch.h -o pch.h.gch && "
                      "g++ -x c++-header cmake_pch.hxx -o cmake_pch.hxx.gch"),
              0);
    std::string relative; // /usr/bin/g++ as seen from the project directory
    for (char c : p.dir)
        if (c == '/')
            relative += "../";
    relative += "usr/bin/g++";
    // Options that clang does not know, and one it knows but refuses.
    p.unit("a.cc", {"-fipa-pta", "-ftrivial-auto-var-init=zero", "-c", "a.cc", "-o", "a.o"},
           "ccache");
    p.entries.back().insert(p.entries.back().find("\"ccache\"") + 8, ", \"g++\"");
    p.unit("c.c", {"-std=c99", "-c", "c.c", "-o", "c99.o"}, "/usr/bin/gcc");
    p.unit("c.c", {"-c", "c.c", "-o", "c.o"}, "/usr/bin/gcc");
    p.unit("rsp.cc", {"@args.rsp"}, relative);
    p.unit("usepch.cc", {"-include", "pch.h", "-c", "usepch.cc"}, "/usr/bin/g++");
    p.unit("usepch.cc", {"-Winvalid-pch", "-include", p.dir + "/cmake_pch.hxx", "-c", "usepch.cc"},
           "/usr/bin/g++");
    std::string db = p.database();
    std::string text = readFile(db);
    // The same as one "command" behind two wrappers.
    text.insert(text.rfind(']'), ",{\"directory\": " + FactsProject::json(p.dir) +
                                     ", \"file\": \"usepch.cc\", \"command\": "
                                     "\"sccache distcc g++ -include pch.h -O2 -c usepch.cc\"}\n");
    writeFile(db, text);
    ASSERT_EQ(p.shell("g++ -fipa-pta -ftrivial-auto-var-init=zero -c a.cc && gcc -std=c99 -c c.c && g++ @args.rsp && "
                      "g++ -Winvalid-pch -include pch.h -c usepch.cc"),
              0);
    RunResult r = runProgram(LOPWORT_FACTS_BIN, {"-o", p.dir + "/facts.ta", db});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("does not parse"), std::string::npos) << r.err;
    // c.c is compiled both ways, so both of its branches live.
    EXPECT_EQ(p.dead(), (std::set<std::string>{"viaOlderGnu:3", "viaClang:4", "h_clang:2",
                                               "rsp_off:3", "pch_off:2"}));
    std::string facts = p.facts();
    // Wrappers are gone and response files read, so lopwort runs the
    // compiler itself with the options it must filter.
    EXPECT_NE(facts.find(p.dir + " /usr/bin/g++ -fipa-pta \"-ftrivial-auto-var-init=zero\" -c a.cc "
                                 "-o a.o)"),
              std::string::npos)
        << facts;
    EXPECT_NE(facts.find(" /usr/bin/g++ -include pch.h -O2 -c usepch.cc)"), std::string::npos);
    EXPECT_NE(facts.find("\"-DFROM_RSP=1\" \"-Iinc\\ dir\" -c rsp.cc -o rsp.o)"), std::string::npos)
        << facts;
    EXPECT_EQ(facts.find("ccache"), std::string::npos);
}

// A command that compiles several sources and links a library is recorded
// once per source (as bear does); each entry parses only its own file.
TEST(FactsCompilers, ACommandWithSeveralInputsParsesEachEntrysOwnFile) {
    FactsProject p;
    p.file("one.c", "int two(void);\nint one_dead(void) { return 1; }\n"
                    "int main(void) { return two(); }\n");
    p.file("two.c", "int two(void) { return 2; }\nint two_dead(void) { return 3; }\n");
    ASSERT_EQ(p.shell("gcc -c two.c && ar rc libtwo.a two.o"), 0);
    for (const char* source : {"one.c", "two.c"})
        p.unit(source, {"-O2", "-o", "prog", "one.c", "two.c", "libtwo.a"}, "/usr/bin/g++");
    RunResult r = p.extract();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(p.dead(), (std::set<std::string>{"one_dead:2", "two_dead:2"}));
}

// A compiler other than the ones on this machine (an older gcc for another
// target), played by a script around gcc: its version and target decide.
TEST(FactsCompilers, AnOlderCrossCompilersVersionAndTargetDecide) {
    FactsProject p;
    p.file("cross-gcc", R"(#!/bin/sh
for a in "$@"; do
  case "$a" in
    -dumpmachine) echo aarch64-linux-gnu; exit 0;;
    -dM) /usr/bin/gcc "$@" | /bin/sed -e 's/^#define __GNUC__ .*/#define __GNUC__ 7/' \
           -e '/__x86_64__/d'; echo '#define __aarch64__ 1'; exit 0;;
  esac
done
exec /usr/bin/gcc "$@"
)");
    ASSERT_EQ(p.shell("chmod +x cross-gcc"), 0);
    p.file("m.c", R"(int via_new_gnu(void) { return 1; }
int via_old_gnu(void) { return 2; }
int via_arm(void) { return 3; }
int via_other(void) { return 4; }
int main(void) {
#if __GNUC__ >= 12
  int r = via_new_gnu();
#else
  int r = via_old_gnu();
#endif
#ifdef __aarch64__
  return r + via_arm();
#else
  return r + via_other();
#endif
}
)");
    p.unit("m.c", {"-c", "m.c"}, p.dir + "/cross-gcc");
    RunResult r = p.extract({"-v"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("cross-gcc c: default -std=gnu17"), std::string::npos) << r.err;
    EXPECT_EQ(p.dead(), (std::set<std::string>{"via_new_gnu:1", "via_other:4"}));
}

} // namespace
