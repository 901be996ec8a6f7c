// Guarding out what the facts call dead must not change what the program
// does: functions whose presence a class or a template can observe, and
// functions that lopwort's scanner cannot isolate, are kept alive. Each case
// builds and runs a program before and after lopwort -u.
#include "facts_project.h"

#include <gtest/gtest.h>

namespace {

// Extracts, guards everything dead under the project, and returns the
// report; the program must print the same before and after.
std::string guardAndCompare(FactsProject& p, const std::string& sources) {
    EXPECT_EQ(p.shell("g++ -std=c++17 " + sources + " -o before && ./before > before.txt"), 0);
    RunResult x = p.extract();
    EXPECT_EQ(x.status, 0) << x.err;
    RunResult r = runLopwort({"-u", "-p", p.dir, p.dir + "/facts.ta"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(p.shell("g++ -std=c++17 -Wno-unused-function " + sources +
                      " -o after && ./after > after.txt"),
              0)
        << r.out;
    EXPECT_EQ(readFile(p.dir + "/before.txt"), readFile(p.dir + "/after.txt")) << r.out;
    return r.out;
}

TEST(FactsSafety, MembersWhosePresenceTemplatesObserveStay) {
    FactsProject p;
    p.file("m.cpp", R"(#include <cstdio>
#include <type_traits>
#include <utility>
struct NoDefault {
    explicit NoDefault(int) {}
};
struct Probed {
    int DebugString() const { return 1; }
};
struct Plain {
    int Unprobed() const { return 2; }
};
template <class T, class = void> struct HasDebug : std::false_type {};
template <class T>
struct HasDebug<T, decltype(void(std::declval<const T&>().DebugString()))> : std::true_type {};
int main() {
    std::printf("%d %d %d\n", int(std::is_default_constructible<NoDefault>::value),
                int(HasDebug<Probed>::value), int(HasDebug<Plain>::value));
}
)");
    p.unit("m.cpp", {"-std=c++17", "-c", "m.cpp"});
    std::string report = guardAndCompare(p, "m.cpp");
    // Only the member that nothing can observe goes.
    EXPECT_NE(report.find("(GF) Plain::Unprobed:11 update"), std::string::npos) << report;
    EXPECT_EQ(report.find("NoDefault"), std::string::npos) << report;
    EXPECT_EQ(report.find("DebugString"), std::string::npos) << report;
}

TEST(FactsSafety, FunctionsLopwortCannotIsolateStay) {
    FactsProject p;
    // An attribute in a class head is no parameter list: the members are
    // constructs of their own. Functions written by one macro on one line,
    // or sharing a line with another, cannot be guarded alone.
    p.file("n.cpp", R"(#include <cstdio>
#define PAIR(x) int x##_a() { return 1; } int x##_b() { return 2; }
int prototype(int);
namespace space {
struct __attribute__((aligned(8))) Holder {
    int used() const { return 1; }
    int unused() const { return 2; }
};
}
PAIR(p)
PAIR(q)
int prototype(int x) { return x; }
int lonely() { return 3; } int after() { return 4; }
int main() { std::printf("%d\n", space::Holder().used() + prototype(1) + p_a()); }
)");
    p.unit("n.cpp");
    std::string report = guardAndCompare(p, "n.cpp");
    EXPECT_NE(report.find("(GF) space::Holder::unused:7 update"), std::string::npos) << report;
    // A guard ends at a column only where the source agrees with the
    // preprocessed line, else at the line's end: functions sharing a line
    // stay, whichever begins it.
    EXPECT_EQ(report.find("lonely"), std::string::npos) << report;
    EXPECT_EQ(report.find("after"), std::string::npos) << report;
    // One macro's functions live and die together: p_b lives with p_a, and
    // the line of q_a and q_b goes when both are dead.
    EXPECT_EQ(report.find("p_b"), std::string::npos) << report;
    EXPECT_NE(report.find("(GF) q_a:11 update"), std::string::npos) << report;
    EXPECT_NE(report.find("(GF) q_b:11 update"), std::string::npos) << report;
}

TEST(FactsSafety, StartupAndExitWorkKeepsItsFunctions) {
    FactsProject p;
    p.file("s.cpp", R"(#include <cstdio>
#include <cstdlib>
static int made() { return 5; }
struct Global {
    Global() { std::printf("up %d\n", made()); }
    ~Global() { std::printf("down\n"); }
};
static Global g_global;
static void on_exit_hook() { std::printf("hook\n"); }
__attribute__((constructor)) static void early() { std::atexit(on_exit_hook); }
template <class T> T twice(T x) { return x + x; }
template int twice<int>(int);
static int never() { return 6; }
int main() { std::printf("main\n"); }
)");
    p.unit("s.cpp");
    std::string report = guardAndCompare(p, "s.cpp");
    EXPECT_NE(report.find("(LF) never:13 update"), std::string::npos) << report;
    EXPECT_NE(report.find("1 functions are dead"), std::string::npos) << report;
}

TEST(FactsSafety, VirtualDestructionThroughABasePointer) {
    FactsProject p;
    p.file("d.cpp", R"(#include <cstdio>
#include <memory>
struct Base {
    virtual ~Base();
    virtual void hello() const;
};
Base::~Base() {}
void Base::hello() const {}
struct Loud : Base {
    ~Loud() override;
    void hello() const override;
};
Loud::~Loud() { std::printf("bye\n"); }
void Loud::hello() const { std::printf("hi\n"); }
std::unique_ptr<Base> make();
int main() { make()->hello(); }
std::unique_ptr<Base> make() { return std::unique_ptr<Base>(new Loud); }
)");
    p.unit("d.cpp");
    std::string report = guardAndCompare(p, "d.cpp");
    EXPECT_NE(report.find("0 functions are dead"), std::string::npos) << report;
    std::string ta = p.facts();
    EXPECT_NE(ta.find("ref _ZTV4Loud FA:_ZN4LoudD1Ev"), std::string::npos);
    EXPECT_NE(ta.find("CVF _Z4makev"), std::string::npos) << "no virtual call recorded";
}

TEST(FactsSafety, OutputDoesNotDependOnTheNumberOfWorkers) {
    FactsProject p;
    p.file("h.h", "template <class T> T one(T x) { return x; }\ninline int two() { return 2; }\n");
    for (const char* name : {"a.cpp", "b.cpp", "c.cpp"}) {
        p.file(name, std::string("#include \"h.h\"\nint f_") + name[0] + "() { return one('" +
                         name[0] + "') + two(); }\n");
        p.unit(name);
    }
    p.file("m.cpp", "int f_a();\nint main() { return f_a() == 99; }\n");
    p.unit("m.cpp");
    ASSERT_EQ(p.extract({"-j", "1"}).status, 0);
    std::string serial = p.facts();
    ASSERT_EQ(p.extract({"-j", "4"}).status, 0);
    EXPECT_EQ(p.facts(), serial);
    // A source compiled twice is two units with ids of their own.
    p.unit("m.cpp", {"-DAGAIN", "-c", "m.cpp"});
    ASSERT_EQ(p.extract().status, 0);
    EXPECT_NE(p.facts().find("$INSTANCE " + p.dir + "/m.cpp#2 file"), std::string::npos);
}

} // namespace
