// The shapes: called virtually through Shape pointers from main.
#include "shapes.h"

static int g_calls = 0;

const char* Shape::name() const { return "shape"; }

double Square::area() const {
    ++g_calls;
    return m_side * m_side;
}

const char* Square::name() const { return "square"; }

double Circle::area() const {
    ++g_calls;
    return 3.14159 * m_radius * m_radius;
}

double total_area(Shape** shapes, int n) {
    double sum = 0;
    for (int i = 0; i < n; ++i)
        sum = largest(sum, sum + shapes[i]->area());
    return sum;
}

int count_calls() { return g_calls; }

// Never called: reported dead.
void unused_report() { g_calls = 0; }

static int unused_helper(int x) { return x * 2; }

int uses_unused_helper() { return unused_helper(21); }
