// What the extracted facts make lopwort find dead, on small programs that
// exercise each kind of use: the dead sets must be exactly the functions
// nothing live reaches, and guarding them out must leave programs that
// build and behave as before.
#include "facts_project.h"

#include <gtest/gtest.h>

namespace {

using Set = std::set<std::string>;

const char* g_cppUses = R"(#include <algorithm>
#include <functional>
#include <memory>
#include <vector>
struct Cmp { bool operator()(int a, int b) const { return a < b; } };
struct Owned { ~Owned(); };
Owned::~Owned() {}
struct Never { ~Never(); void f(); };
Never::~Never() {}
void Never::f() {}
static int from_lambda() { return 3; }
static int from_function() { return 4; }
static int init_value() { return 5; }
static int g = init_value();
int helper_of_dead() { return 6; }
int dead_caller() { return helper_of_dead(); }
struct Conv { operator int() const { return 7; } };
struct Op { int v; Op operator+(const Op& o) const { return Op{v + o.v}; } };
static int by_address() { return 8; }
static int (*pick())() { return &by_address; }
int main() {
    std::vector<int> v{3, 1, 2};
    std::sort(v.begin(), v.end(), Cmp());
    std::unique_ptr<Owned> p(new Owned);
    auto l = [] { return from_lambda(); };
    std::function<int()> fn = [] { return from_function(); };
    int c = Conv();
    Op a{1}, b{2};
    Op s = a + b;
    return l() + fn() + g + c + s.v + pick()() + v[0] - 31;
}
)";

TEST(FactsUses, CallsReferencesConstructionAndSystemTemplatesKeepFunctionsAlive) {
    FactsProject p;
    p.file("uses.cpp", g_cppUses);
    p.unit("uses.cpp");
    RunResult r = p.extract();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(p.dead(), (Set{"Never::~Never:9", "Never::f:10", "helper_of_dead:15",
                             "dead_caller:16"}));
    // Lambdas are part of the function that holds them, not entities.
    EXPECT_EQ(p.facts().find("(lambda"), std::string::npos);
}

TEST(FactsUses, GuardedProgramStillBuildsAndBehavesTheSame) {
    FactsProject p;
    p.file("uses.cpp", g_cppUses);
    p.file("virt.cpp", R"(struct Base {
    virtual ~Base() {}
    virtual int f() const = 0;
    virtual int g() const { return 0; }
};
struct Made : Base {
    int f() const override { return 1; }
    int g() const override;
};
int Made::g() const { return 2; }
struct Lonely { virtual int h() const; int k() const { return 9; } };
int Lonely::h() const { return 4; }
int use(const Base& b) { return b.f(); }
int virt() { Made m; return use(m); }
)");
    p.unit("uses.cpp");
    p.unit("virt.cpp");
    ASSERT_EQ(p.extract().status, 0);
    ASSERT_EQ(p.shell("g++ -Wall -Werror uses.cpp -o before && ./before"), 0);
    RunResult r = runLopwort({"-u", "-p", p.dir, p.dir + "/facts.ta"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("(VF) Lonely::h:12 update"), std::string::npos) << r.out;
    // k starts on a line that another declaration holds first, and Base::g
    // is overridden by a declaration that says "override": both stay.
    EXPECT_EQ(r.out.find("Lonely::k"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Base::g"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(GF) virt:14 update"), std::string::npos) << r.out;
    EXPECT_NE(readFile(p.dir + "/uses.cpp").find("#ifndef _DEAD_"), std::string::npos);
    EXPECT_EQ(p.shell("g++ -Wall -Werror -Wno-unused-function uses.cpp -o after && ./after"), 0);
    EXPECT_EQ(p.shell("g++ -c -Wall -Werror virt.cpp"), 0);
}

TEST(FactsUses, VirtualFunctionsLiveThroughTablesOfConstructedClassesAndVirtualCalls) {
    FactsProject p;
    p.file("v.cpp", R"(struct Base {
    virtual ~Base() {}
    virtual int f() const = 0;
    virtual int g() const { return 0; }
};
struct Made : Base {
    int f() const override { return 1; }
    int g() const override;
};
int Made::g() const { return 2; }
struct NeverMade : Base { int f() const override; };
int NeverMade::f() const { return 3; }
struct Lonely { virtual int h() const; };
int Lonely::h() const { return 4; }
int use(const Base& b) { return b.f(); }
int main() { Made m; return use(m); }
)");
    p.unit("v.cpp");
    ASSERT_EQ(p.extract().status, 0);
    // Made's slots live by its table and by the virtual call to Base::f;
    // nothing builds a NeverMade, so the call never runs its f; nothing
    // needs Lonely's.
    EXPECT_EQ(p.dead(), (Set{"Lonely::h:14", "NeverMade::f:12"}));
    std::string ta = p.facts();
    EXPECT_NE(ta.find("CVF _Z3useRK4Base _ZNK4Base1fEv"), std::string::npos);
    EXPECT_NE(ta.find("ref _ZTI4Made VA:_ZTI4Base"), std::string::npos);
    EXPECT_NE(ta.find("contain _ZTI4Made VA:_ZTI4Made"), std::string::npos);
    EXPECT_NE(ta.find("ref _ZTV4Made FA:_ZNK4Made1gEv"), std::string::npos);
    // The pure function is a "VF" without a line.
    EXPECT_NE(ta.find("_ZNK4Base1fEv { label = Base::f file = " + p.dir + "/v.cpp mangle"),
              std::string::npos);
}

// lopwort never guards a variable, so a function that a table names stays
// while the table's text does, even when nothing reads the table: guarding
// it would leave the table naming a function that no longer exists.
TEST(FactsUses, TablesOfFunctionPointersKeepTheirFunctions) {
    FactsProject p;
    p.file("t.c", R"(static int in_used(void) { return 0; }
static int in_unused(void);
static int (*const used_table[])(void) = {in_used};
static int (*const unused_table[])(void) = {in_unused};
static int in_unused(void) { return 1; }
static int by_init(void) { return 2; }
int main(void) { return used_table[0](); }
)");
    p.unit("t.c", {"-c", "t.c"}, "/usr/bin/gcc");
    ASSERT_EQ(p.extract().status, 0);
    EXPECT_EQ(p.dead(), (Set{"by_init:6"}));
    RunResult r = runLopwort({"-u", "-p", p.dir, p.dir + "/facts.ta"});
    EXPECT_NE(r.out.find("(LF) by_init:6 update"), std::string::npos) << r.out;
    EXPECT_EQ(p.shell("gcc -Wall -Werror -Wno-unused-const-variable t.c -o t && ./t"), 0);
}

TEST(FactsUses, TemplatesAndFunctionsSharingALine) {
    FactsProject p;
    p.file("t.cpp", R"(template <class T> T twice(T x) { return x + x; }
template <class T>
T thrice(T x) { return 3 * x; }
int dead_user() { return thrice(2); }
int a() { return 1; } int b() { return 2; }
int main() { return twice(1) + a() - 3; }
)");
    p.unit("t.cpp");
    ASSERT_EQ(p.extract().status, 0);
    // b starts on the line a() holds, and lopwort would guard a() for it:
    // b is kept.
    EXPECT_EQ(p.dead(), (Set{"dead_user:4", "thrice<int>:3"}));
    std::string ta = p.facts();
    EXPECT_NE(ta.find("$INSTANCE T:" + p.dir + "/t.cpp:3:3:thrice T"), std::string::npos)
        << ta;
    RunResult r = runLopwort({"-u", "-p", p.dir, p.dir + "/facts.ta"});
    EXPECT_NE(r.out.find("(GF) thrice<int>:3 update template"), std::string::npos) << r.out;
    EXPECT_EQ(p.shell("g++ -Wall -Werror t.cpp -o t && ./t"), 0);
}

TEST(FactsUses, EntryPointsAndExportedHeadersAreRoots) {
    FactsProject p;
    p.file("include/lib.h", "int api();\nint internal();\n");
    p.file("lib.cpp", R"(#include "include/lib.h"
int api() { return 1; }
int internal() { return 2; }
static int hidden() { return 3; }
int other() { return hidden(); }
)");
    p.unit("lib.cpp");
    ASSERT_EQ(p.extract().status, 0);
    EXPECT_EQ(p.dead(), (Set{"api:2", "internal:3", "hidden:4", "other:5"}));
    ASSERT_EQ(p.extract({"--exported", p.dir + "/include"}).status, 0);
    EXPECT_EQ(p.dead(), (Set{"hidden:4", "other:5"}));
    ASSERT_EQ(p.extract({"--entry", "other", "--entry", "nothing"}).status, 0);
    EXPECT_EQ(p.dead(), (Set{"api:2", "internal:3"}));
    RunResult r = p.extract({"--entry", "nothing"});
    EXPECT_NE(r.err.find("--entry nothing matches no function"), std::string::npos);
}

TEST(FactsUses, InlineFunctionsOfHeadersAreOneEntityAcrossUnits) {
    FactsProject p;
    p.file("h.h", "inline int shared() { return 1; }\ninline int unused() { return 2; }\n"
                  "static int local_copy() { return 3; }\n");
    p.file("a.cpp", "#include \"h.h\"\nint fa() { return shared() + local_copy(); }\n");
    p.file("b.cpp", "#include \"h.h\"\nint fb();\nint main() { return fb(); }\n"
                    "int fb() { return shared(); }\n");
    p.unit("a.cpp");
    p.unit("b.cpp");
    ASSERT_EQ(p.extract().status, 0);
    // local_copy has one entity per unit (internal linkage); lopwort merges
    // the two, and the copy that fa uses is dead with fa.
    EXPECT_EQ(p.dead(), (Set{"fa:2", "unused:2", "local_copy:3"}));
    std::string ta = p.facts();
    EXPECT_NE(ta.find("$INSTANCE _Z6sharedv GF"), std::string::npos);
    EXPECT_EQ(ta.find("$INSTANCE _Z6sharedv GF"), ta.rfind("$INSTANCE _Z6sharedv GF"));
}

} // namespace

namespace {

// What the compiler never runs is no use: operands that are never
// evaluated, classes that nothing builds, bodies of pure virtual functions,
// templates that no unit instantiates.
// Next to each a live twin that one of the exceptions keeps.
const char* g_neverHeader = R"(#pragma once
#include <cstdio>
#include <memory>
#include <typeinfo>
int unevaluated_sizeof();
int unevaluated_decltype();
int unevaluated_noexcept();
int live_called();
struct Plain { int x; };
Plain unevaluated_typeid();
int discarded_branch();
int discarded_in_template();
void noexcept_user() noexcept(noexcept(unevaluated_noexcept()));
template <class T> int branchy(T) {
    if constexpr (sizeof(T) == 1)
        return discarded_in_template();
    else
        return 2;
}
struct Shape {
    virtual ~Shape();
    virtual int area() const = 0;
    virtual const char* name() const;
};
struct Square : Shape { int area() const override; const char* name() const override; };
struct Ghost : Shape { int area() const override; const char* name() const override; };
struct Named : Shape { int area() const override; };
struct Keyed : Shape { const char* name() const override; int area() const override; };
struct Mid : Shape { int area() const override; };
struct Leaf : Mid {};
struct Circle : Shape { int area() const override; };
struct Abstract {
    virtual int run() = 0;
    virtual int stop() = 0;
    virtual ~Abstract() = 0;
};
struct Impl : Abstract { int run() override; int stop() override; };
template <class T> T twice(T x) { return x + x; }
template <class T> T never_made(T x) { return x * 3; }
template <class T> T made_in_main_only(T x) { return x - 1; }
template <class T> struct Box {
    T v;
    T get() const { return v; }
    T unused() const { return v + v; }
    void out_of_line();
};
template <class T> void Box<T>::out_of_line() {}
template <class T> int named_in_decltype(T) { return 1; }
template <class T> struct Kept {
    int all_made() const { return 5; }
};
)";

const char* g_neverSource = R"(#include "never.h"
int unevaluated_sizeof() { return 1; }
int unevaluated_decltype() { return 2; }
int unevaluated_noexcept() { return 3; }
int live_called() { return 4; }
Plain unevaluated_typeid() { return Plain{5}; }
int discarded_branch() { return 6; }
int discarded_in_template() { return 7; }
void noexcept_user() noexcept(noexcept(unevaluated_noexcept())) { std::puts("noexcept"); }
auto deduced_in_decltype() { return 8; }
constexpr int constant_in_assert() { return 9; }
static_assert(constant_in_assert() == 9);
static int only_defined_here() { return 10; }
int evaluate_all() {
    int r = live_called();
    r += sizeof(unevaluated_sizeof());
    decltype(unevaluated_decltype()) d = 1;
    decltype(deduced_in_decltype()) e = 2;
    r += sizeof(only_defined_here());
    r += typeid(unevaluated_typeid()).name()[0] != 0;
    if constexpr (sizeof(int) == 1)
        r += discarded_branch();
    r += branchy(5);
    noexcept_user();
    return r + d + e;
}
Shape::~Shape() {}
const char* Shape::name() const { return "shape"; }
int Square::area() const { return 4; }
const char* Square::name() const { return "square"; }
int Ghost::area() const { return 100; }
const char* Ghost::name() const { return "ghost"; }
int Named::area() const { return 50; }
const char* Keyed::name() const { return "keyed"; }
int Keyed::area() const { return 60; }
int Mid::area() const { return 9; }
int Circle::area() const { return 3; }
int Abstract::run() { return 11; }
int Abstract::stop() { return 12; }
Abstract::~Abstract() {}
int Impl::run() { return 1; }
int Impl::stop() { return Abstract::stop(); }
)";

const char* g_neverMain = R"(#include "never.h"
template struct Kept<int>;
int evaluate_all();
static int area_of(const Shape& s) { return s.area(); }
int main(int argc, char**) {
    Square sq;
    Leaf leaf;
    auto circle = std::make_unique<Circle>();
    const Shape* shapes[] = {&sq, &leaf, circle.get()};
    int total = 0;
    for (const Shape* s : shapes)
        total += area_of(*s) + s->name()[0];
    bool isNamed = typeid(*shapes[0]) == typeid(Named);
    // Never taken: the key function is called, so its unit emits Keyed's
    // table, which names every slot.
    if (argc > 100)
        std::puts(static_cast<const Keyed*>(shapes[0])->Keyed::name());
    Impl impl;
    Abstract& a = impl;
    std::printf("%d %d %d %d %d\n", evaluate_all(), total, isNamed, a.run(), a.stop());
    Box<int> b{2};
    decltype(named_in_decltype(1)) x = 3;
    std::printf("%d %d %d\n", twice(b.get()), x, made_in_main_only(4));
    return 0;
}
)";

TEST(FactsUses, WhatNeverRunsIsNoUseAndTheGuardedProgramStillBuilds) {
    FactsProject p;
    p.file("never.h", g_neverHeader);
    p.file("never.cpp", g_neverSource);
    p.file("main.cpp", g_neverMain);
    p.unit("never.cpp", {"-std=c++17", "-c", "never.cpp", "-o", "never.o"});
    p.unit("main.cpp", {"-std=c++17", "-c", "main.cpp", "-o", "main.o"});
    const char* build = "g++ -std=c++17 -c never.cpp -o never.o && "
                        "g++ -std=c++17 -c main.cpp -o main.o && g++ never.o main.o -o prog";
    ASSERT_EQ(p.shell(std::string(build) + " && ./prog > before.txt"), 0);
    ASSERT_EQ(p.extract().status, 0);
    Set dead = {"unevaluated_sizeof:2", "unevaluated_decltype:3", "unevaluated_noexcept:4",
                "unevaluated_typeid:6",  "discarded_branch:7",     "discarded_in_template:8",
                "Ghost::area:31",        "Ghost::name:32",         "Abstract::run:38",
                "never_made:39",         "Box::unused:44",         "Box::out_of_line:47"};
    EXPECT_EQ(p.dead(), dead);
    RunResult r = runLopwort({"-u", "-p", p.dir, p.dir + "/facts.ta"});
    EXPECT_NE(r.out.find(std::to_string(dead.size()) + " lines of code #ifdef'd out"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(p.shell(std::string(build) + " && ./prog > after.txt"), 0) << r.out;
    EXPECT_EQ(readFile(p.dir + "/before.txt"), readFile(p.dir + "/after.txt"));
}

} // namespace

namespace {

// The facts behind those rules, on one unit: the pure function's body is an
// entity of its own, the unbuilt class's table keeps no slots, and the
// template nobody instantiates stands at its text.
TEST(FactsUses, FactsOfPureBodiesUnbuiltClassesAndUninstantiatedTemplates) {
    FactsProject p;
    p.file("t.cpp", R"(struct B { virtual int f() const = 0; virtual ~B() {} };
int B::f() const { return 0; }
struct Built : B { int f() const override { return 1; } };
struct Unbuilt : B { int f() const override; };
int Unbuilt::f() const { return 2; }
template <class T> int tmpl(T) { return 3; }
int main() { Built b; const B& r = b; return r.f(); }
)");
    p.unit("t.cpp");
    ASSERT_EQ(p.extract().status, 0);
    EXPECT_EQ(p.dead(), (Set{"B::f:2", "Unbuilt::f:5", "tmpl:6"}));
    std::string ta = p.facts();
    EXPECT_NE(ta.find("$INSTANCE body:_ZNK1B1fEv GF"), std::string::npos) << ta;
    EXPECT_NE(ta.find("$INSTANCE _ZNK1B1fEv VF"), std::string::npos);
    EXPECT_NE(ta.find("ref _ZTV5Built FA:_ZNK5Built1fEv"), std::string::npos);
    EXPECT_EQ(ta.find("ref _ZTV7Unbuilt FA:"), std::string::npos);
    EXPECT_NE(ta.find("ref _ZTV7Unbuilt VA:_ZTI7Unbuilt"), std::string::npos);
    EXPECT_NE(ta.find("$INSTANCE P:" + p.dir + "/t.cpp:6:24:tmpl GF"), std::string::npos) << ta;
}

} // namespace
