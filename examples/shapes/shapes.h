// A small program for lopwort to analyse: a class hierarchy used through a
// base pointer, a template, static functions and a few dead functions.
#ifndef SHAPES_H
#define SHAPES_H

class Shape {
  public:
    virtual ~Shape() {}
    virtual double area() const = 0;
    virtual const char* name() const;
};

class Square : public Shape {
  public:
    explicit Square(double side) : m_side(side) {}
    double area() const override;
    const char* name() const override;

  private:
    double m_side;
};

class Circle : public Shape {
  public:
    explicit Circle(double radius) : m_radius(radius) {}
    double area() const override;

  private:
    double m_radius;
};

template <typename T> T largest(T a, T b) { return a > b ? a : b; }

double total_area(Shape** shapes, int n);
int count_calls();
void unused_report();

#endif
