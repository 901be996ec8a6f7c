// Entry point of the example: a static initialiser, a callback reached only
// through its address, and virtual calls through a base pointer.
#include "shapes.h"

#include <cstdio>

static int on_start() { return 7; }
static int g_start = on_start(); // run by the static initialiser

static int compare(const void* a, const void* b) {
    return *static_cast<const int*>(a) - *static_cast<const int*>(b);
}

typedef int (*compare_fn)(const void*, const void*);

static compare_fn pick_comparator() { return &compare; }

static void never_used() { std::puts("dead"); }

int main() {
    Square square(2);
    Circle circle(1);
    Shape* shapes[] = {&square, &circle};
    int a = 1, b = 2;
    compare_fn cmp = pick_comparator();
    std::printf("%s %.2f %d %d %d\n", shapes[0]->name(), total_area(shapes, 2), count_calls(),
                cmp(&a, &b), g_start);
    return 0;
}
