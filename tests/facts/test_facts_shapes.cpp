// Every shape of today's C and C++ that once made a guard break a build,
// live and dead side by side in one program of three units: extracted,
// guarded, rebuilt and run, its output must not change, and every function
// that is dead and can be guarded alone must be guarded.
#include "facts_project.h"

#include <gtest/gtest.h>

namespace {

const char* const kHeader = R"SRC(#pragma once
#include <cstdio>
#include <string>
#include <vector>

#define PAIR(x) int x##_one() { return 1; } int x##_two() { return 2; }

template <class T> struct Base { T tag() const { return T{}; } };

struct __attribute__((visibility("default"))) Widget {
    int live_used() const { return 1; }
    int dead_unused() const { return 2; }
};

class alignas(16) [[nodiscard]] Keyed : public Base<Keyed> {
  public:
    Keyed() = default;
    int live_key() const { return 3; }
    int dead_key() const { return 4; }
};

struct Holder {
    Holder(const Holder& o);
    Holder(int a, int b);
    explicit Holder(int a);
    Holder(const char* s);
    int* p_;
    std::vector<int> v_;
};

struct Thrower {
    Thrower(int x);
    Thrower(double x);
    int m_;
};

int live_try(int x);
int dead_try(int x);
int live_defaults(int x = int{5}, int y = [] { return 2; }());
int dead_defaults(int x = int{7});
auto live_trailing() -> int;
auto dead_trailing() -> int;
[[nodiscard]] int live_nodiscard();
int dead_nodiscard();
int live_commented();
int dead_commented();
int live_noexcept() noexcept(noexcept(live_trailing()));
int dead_noexcept() noexcept(noexcept(dead_trailing()));
template <class T> int live_requires(T t) requires(sizeof(T) > 1) { return static_cast<int>(t); }
template <class T>
    requires requires(T x) { x + 1; }
int dead_requires(T t) { return static_cast<int>(t) + 1; }
std::string live_raw();
std::string dead_raw();
long live_digits();
long dead_digits();
extern "C" int live_c_linkage(int);
extern "C" int dead_c_linkage(int);

struct Callable {
    int operator()(int a) const;
    bool operator<(const Callable&) const;
    int dead_member(int a) const;
};
bool operator>(const Callable&, const Callable&);
bool operator==(const Callable&, const Callable&);

template <class T> struct Box { T t; Box(T x) : t(x) {} };
template <class T> Box(T) -> Box<T>;

int live_used_by_table(int);
int live_pair_one();
int live_pair_two();
int dead_pair_one();
int dead_pair_two();
int dead_only_in_table(int);
)SRC";

const char* const kShapes = R"SRC(#include "shapes.h"
#include <cstring>

PAIR(live_pair)
PAIR(dead_pair)

Holder::Holder(const Holder& o) : p_{o.p_}, v_{o.v_} {}
Holder::Holder(int a, int b) : p_{nullptr}, v_{a, b} {}
Holder::Holder(int a) : p_{nullptr}, v_(static_cast<size_t>(a)) {
}
Holder::Holder(const char* s) noexcept(false) : p_{nullptr}, v_{static_cast<int>(std::strlen(s))} {}

Thrower::Thrower(int x) try : m_{x} {
    if (x < 0) throw x;
} catch (...) {
}
Thrower::Thrower(double x) try : m_{static_cast<int>(x)} {
} catch (...) {
}

int live_try(int x) try {
    if (x > 100) throw x;
    return x + 1;
} catch (int e) {
    return e;
} catch (...) {
    return -1;
}
int dead_try(int x) try { return x; } catch (...) { return 0; }

int live_defaults(int x, int y) { return x + y; }
int dead_defaults(int x) { return x + int{1}; }
auto live_trailing() -> int { return 6; }
auto dead_trailing() -> int { return 7; }

[[nodiscard]]
int live_nodiscard() { return 8; }
[[deprecated("use {live_nodiscard} instead")]]
[[nodiscard]] int dead_nodiscard() { return 9; }

/* a comment that ends
   on the first line */ int live_commented() { return 10; }
/* another one
 */ int dead_commented() {
    return 11;
}

int live_noexcept() noexcept(noexcept(live_trailing())) { return 12; }
int dead_noexcept() noexcept(noexcept(dead_trailing())) { return 13; }

int dead_requires_user() { return dead_requires(2.0); }

std::string live_raw() { return R"x(a " } { ')x"; }
std::string dead_raw() { return R"(\)"; }
long live_digits() { return 1'000'000; }
long dead_digits() { return 1'0'0; }

extern "C" {
int live_c_linkage(int a) { return a * 2; }
int dead_c_linkage(int a) { return a * 3; }
}

int Callable::operator()(int a) const { return a + 1; }
bool Callable::operator<(const Callable&) const { return true; }
int Callable::dead_member(int a) const { return a; }
bool operator>(const Callable&, const Callable&) { return false; }
bool operator==(const Callable&, const Callable&) { return true; }

int live_used_by_table(int a) { return a + 100; }
int dead_only_in_table(int a) { return a + 200; }
static int (*const g_table[])(int) = {live_used_by_table, dead_only_in_table};
int table_reader(int i, int a) { return g_table[i](a); }
)SRC";

const char* const kAttributes = R"SRC(#include <stdio.h>

static void early(void) __attribute__((constructor));
static void early(void) { puts("early"); }
static void late(void) __attribute__((destructor));
static void late(void) { puts("late"); }
__attribute__((used)) static int kept_used(void) { return 1; }
__attribute__((weak)) int weak_default(void) { return 2; }
__attribute__((weak)) int weak_unused(void) { return 9; }
int alias_target(void) { return 3; }
int alias_name(void) __attribute__((alias("alias_target")));
static void cleanup_int(int* p) { printf("cleanup %d\n", *p); }
static int by_section(void) { return 4; }
__attribute__((used, section("lw_registry"))) static int (*const s_registered)(void) = by_section;
extern int (*const __start_lw_registry)(void);
static int dead_in_c(void) { return 5; }
static int call_through_registry(void) { return (&__start_lw_registry)[0](); }
static int resolved_impl(void) { return 6; }
static int (*resolve_ifunc(void))(void) { return resolved_impl; }
int ifunc_name(void) __attribute__((ifunc("resolve_ifunc")));
static int dead_table_a(void) { return 7; }
static int dead_table_b(void) { return 8; }
static int (*const s_dead_table[])(void) = {dead_table_a, dead_table_b};
static int dead_reader(int i) { return s_dead_table[i](); }

int c_main(void) {
    int x __attribute__((cleanup(cleanup_int))) = 41;
    (void)x;
    return alias_name() + call_through_registry() + ifunc_name() + weak_default();
}
#define API
API int dead_api(void) { return 10; }
/* empty */ API static int dead_api_static(void) { return 11; }
)SRC";

const char* const kMain = R"SRC(#include "shapes.h"
extern "C" int c_main(void);
extern "C" int live_api(int);
int table_reader(int, int);
int main() {
    Holder a(3);
    Holder b(a);
    Holder c("four");
    Thrower t(1);
    Widget w;
    Keyed k;
    Callable f;
    Box box{2.5};
    std::printf("%d %zu %zu %d %d %d %d\n", w.live_used(), b.v_.size(), c.v_.size(), t.m_, k.live_key(), live_pair_one(), live_try(5));
    std::printf("%d %d %d %d %d %d\n", live_try(500), live_defaults(), live_trailing(), live_nodiscard(), live_commented(), live_noexcept());
    std::printf("%d %s %ld %d %d %d\n", live_requires(3.0), live_raw().c_str(), live_digits(), live_c_linkage(2), f(1), int(f < f));
    std::printf("%d %d %g %d\n", table_reader(0, 1), c_main(), box.t, live_api(3));
    return 0;
}
)SRC";

// With its definition guarded, a static function's declaration left behind
// would be an error under -Werror.
const char* const kPrototypes = R"SRC(static int dead_helper(int);
int dead_entry(int x) { return dead_helper(x); }
int live_api(int x) { return x + 1; }
static int dead_helper(int x) { return x * 2; }
)SRC";

const char* const kBuild =
    "g++ -std=c++20 -c shapes.cpp -o shapes.o && gcc -c attrs.c -o attrs.o && "
    "gcc -Wall -Werror -c proto.c -o proto.o && g++ -std=c++20 -c main.cpp -o main.o && "
    "g++ shapes.o attrs.o proto.o main.o -o prog";

TEST(FactsShapes, GuardedProgramBuildsRunsAlikeAndLosesEveryDeadFunction) {
    FactsProject p;
    p.file("shapes.h", kHeader);
    p.file("shapes.cpp", kShapes);
    p.file("attrs.c", kAttributes);
    p.file("main.cpp", kMain);
    p.file("proto.c", kPrototypes);
    p.unit("shapes.cpp", {"-std=c++20", "-Wall", "-c", "shapes.cpp", "-o", "shapes.o"});
    p.unit("attrs.c", {"-Wall", "-c", "attrs.c", "-o", "attrs.o"}, "/usr/bin/gcc");
    p.unit("main.cpp", {"-std=c++20", "-Wall", "-c", "main.cpp", "-o", "main.o"});
    p.unit("proto.c", {"-Wall", "-Werror", "-c", "proto.c", "-o", "proto.o"}, "/usr/bin/gcc");
    ASSERT_EQ(p.shell(std::string(kBuild) + " && ./prog > before.txt"), 0);
    RunResult x = p.extract({"-v"});
    ASSERT_EQ(x.status, 0) << x.err;
    // Only the constructor of a one-line class, and the never instantiated
    // member of a one-line class template, have no line of their own.
    EXPECT_NE(x.err.find("shapes.h:68 Box<double>::Box\n"), std::string::npos) << x.err;
    EXPECT_NE(x.err.find("shapes.h:8 Base::tag\n"), std::string::npos) << x.err;
    EXPECT_NE(x.err.find(" 2 functions kept that lopwort could not guard alone"),
              std::string::npos)
        << x.err;

    RunResult r = runLopwort({"-u", "-p", p.dir, p.dir + "/facts.ta"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::set<std::string> guarded, other;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] != '\t')
            continue;
        std::string item = line.substr(line.find(") ") + 2);
        for (const char* status : {" update template", " update"}) {
            size_t at = item.rfind(status);
            if (at != std::string::npos && at + strlen(status) == item.size()) {
                guarded.insert(item.substr(0, at));
                item.clear();
                break;
            }
        }
        if (!item.empty())
            other.insert(item);
    }
    EXPECT_EQ(guarded,
              (std::set<std::string>{
                  "dead_entry:2", "dead_helper:4", "\"dead_helper (declaration)\":1", "dead_in_c:16",
                  "dead_reader:24", "dead_api:32", "dead_api_static:33", "Holder::Holder:8", "Thrower::Thrower:17",
                  "dead_try:29", "dead_defaults:32", "dead_nodiscard:39", "dead_commented:44",
                  "dead_noexcept:49", "dead_requires_user:51", "dead_raw:54", "dead_digits:56",
                  "dead_c_linkage:60", "Callable::dead_member:65", "operator>:66",
                  "\"operator==\":67", "dead_pair_one:5", "dead_pair_two:5",
                  "Widget::dead_unused:12", "Keyed::dead_key:19", "dead_requires<double>:52",
                  "dead_trailing:34"}))
        << r.out;
    EXPECT_EQ(other, std::set<std::string>{}) << r.out;
    EXPECT_EQ(p.shell(std::string(kBuild) + " && ./prog > after.txt"), 0) << r.out;
    EXPECT_EQ(readFile(p.dir + "/before.txt"), readFile(p.dir + "/after.txt"));
    // With every guard undone by -D_DEAD_, the program is whole again.
    EXPECT_EQ(p.shell("g++ -std=c++20 -D_DEAD_ -c shapes.cpp -o shapes.o && "
                      "gcc -D_DEAD_ -c attrs.c -o attrs.o && gcc -D_DEAD_ -c proto.c -o proto.o"),
              0);
}

} // namespace
