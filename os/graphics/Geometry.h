#pragma once
// Points, sizes, rectangles and the 2D and 3D transforms that views and drawing use.
// Coordinates are doubles in points; y grows downward in view space.
#include <string>

namespace os {

struct Point {
  double x = 0, y = 0;
  static Point zero() { return {}; }
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0, height = 0;
  static Size zero() { return {}; }
  bool operator==(const Size&) const = default;
};

struct Rect {
  Point origin;
  Size size;

  Rect() = default;
  Rect(Point o, Size s) : origin(o), size(s) {}
  Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}

  static Rect zero() { return {}; }
  // The rectangle that stands for "no rectangle": what an empty intersection gives.
  static Rect null();
  bool isNull() const;
  // Null, or no area.
  bool isEmpty() const;

  // Edges read from the standardised rectangle, so negative sizes behave.
  double minX() const;
  double midX() const;
  double maxX() const;
  double minY() const;
  double midY() const;
  double maxY() const;
  double width() const;
  double height() const;

  Rect standardized() const;
  Rect insetBy(double dx, double dy) const;
  Rect offsetBy(double dx, double dy) const;
  // Smallest rectangle with whole-number edges that holds this one.
  Rect integral() const;
  Rect unionWith(const Rect& o) const;
  // Null when the two do not overlap; touching edges give a zero-area rectangle.
  Rect intersection(const Rect& o) const;
  bool intersects(const Rect& o) const;
  // Half-open: the max edges are outside.
  bool contains(Point p) const;
  bool contains(const Rect& r) const;

  std::string description() const;
  bool operator==(const Rect&) const = default;
};

struct EdgeInsets {
  double top = 0, left = 0, bottom = 0, right = 0;
  static EdgeInsets zero() { return {}; }
  bool operator==(const EdgeInsets&) const = default;
};
Rect insetRect(const Rect& r, const EdgeInsets& insets);

// 2D affine transform; x' = a·x + c·y + tx, y' = b·x + d·y + ty (row-vector form, so
// `a.concat(b)` applies a first, then b).
struct AffineTransform {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

  static AffineTransform identity() { return {}; }
  static AffineTransform makeTranslation(double tx, double ty);
  static AffineTransform makeScale(double sx, double sy);
  static AffineTransform makeRotation(double radians);

  bool isIdentity() const;
  // this, then o.
  AffineTransform concat(const AffineTransform& o) const;
  // These prepend the operation: the translation (scale, rotation) happens first, then this.
  AffineTransform translate(double tx, double ty) const;
  AffineTransform scale(double sx, double sy) const;
  AffineTransform rotate(double radians) const;
  // A singular transform is returned unchanged.
  AffineTransform inverted() const;

  Point apply(Point p) const;
  Size apply(Size s) const;
  // Bounding box of the transformed corners.
  Rect apply(const Rect& r) const;

  std::string description() const;
  bool operator==(const AffineTransform&) const = default;
};

// 4x4 transform in row-vector form ([x y z 1] · M): translation in m41..m43, perspective in m34
// (usually -1/distance). Composition order matches AffineTransform.
struct Transform3D {
  double m11 = 1, m12 = 0, m13 = 0, m14 = 0;
  double m21 = 0, m22 = 1, m23 = 0, m24 = 0;
  double m31 = 0, m32 = 0, m33 = 1, m34 = 0;
  double m41 = 0, m42 = 0, m43 = 0, m44 = 1;

  static Transform3D identity() { return {}; }
  static Transform3D makeTranslation(double tx, double ty, double tz);
  static Transform3D makeScale(double sx, double sy, double sz);
  // Rotation by the angle about the axis (x, y, z); a zero axis gives the identity.
  static Transform3D makeRotation(double radians, double x, double y, double z);
  static Transform3D makeAffine(const AffineTransform& t);

  bool isIdentity() const;
  // Whether it is a plain 2D affine transform (no z, no perspective).
  bool isAffine() const;
  AffineTransform affine() const;

  Transform3D concat(const Transform3D& o) const;
  Transform3D translate(double tx, double ty, double tz) const;
  Transform3D scale(double sx, double sy, double sz) const;
  Transform3D rotate(double radians, double x, double y, double z) const;

  // Projects a point in the z = 0 plane (divides by w).
  Point apply(Point p) const;

  bool operator==(const Transform3D&) const = default;
};

}  // namespace os
