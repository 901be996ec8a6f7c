#include "geometry.h"

#include <cmath>

double distance(Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); }

double perimeter(const Point* points, int count) {
    double sum = 0;
    for (int i = 0; i < count; ++i)
        sum += distance(points[i], points[(i + 1) % count]);
    return sum;
}

// Nothing calls it: lopwort reports it dead.
double unused_area(const Point* points, int count) {
    double twice = 0;
    for (int i = 0; i < count; ++i)
        twice += points[i].x * points[(i + 1) % count].y - points[(i + 1) % count].x * points[i].y;
    return twice / 2;
}
