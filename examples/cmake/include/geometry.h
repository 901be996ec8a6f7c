#pragma once

struct Point {
    double x, y;
};

double distance(Point a, Point b);
double perimeter(const Point* points, int count);
double unused_area(const Point* points, int count);
