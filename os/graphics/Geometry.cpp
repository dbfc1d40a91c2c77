#include "os/graphics/Geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace os {

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string fmt(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v == 0 ? 0.0 : v);  // no "-0"
  return buf;
}
}  // namespace

Rect Rect::null() { return Rect(kInf, kInf, 0, 0); }
bool Rect::isNull() const { return std::isinf(origin.x) || std::isinf(origin.y); }
bool Rect::isEmpty() const { return isNull() || size.width == 0 || size.height == 0; }

Rect Rect::standardized() const {
  Rect r = *this;
  if (r.size.width < 0) {
    r.origin.x += r.size.width;
    r.size.width = -r.size.width;
  }
  if (r.size.height < 0) {
    r.origin.y += r.size.height;
    r.size.height = -r.size.height;
  }
  return r;
}

double Rect::minX() const { return standardized().origin.x; }
double Rect::minY() const { return standardized().origin.y; }
double Rect::width() const { return std::fabs(size.width); }
double Rect::height() const { return std::fabs(size.height); }
double Rect::maxX() const { return minX() + width(); }
double Rect::maxY() const { return minY() + height(); }
double Rect::midX() const { return minX() + width() / 2; }
double Rect::midY() const { return minY() + height() / 2; }

Rect Rect::insetBy(double dx, double dy) const {
  if (isNull()) return *this;
  Rect r = standardized();
  r.origin.x += dx;
  r.origin.y += dy;
  r.size.width -= 2 * dx;
  r.size.height -= 2 * dy;
  if (r.size.width < 0 || r.size.height < 0) return null();
  return r;
}

Rect Rect::offsetBy(double dx, double dy) const {
  if (isNull()) return *this;
  Rect r = standardized();
  r.origin.x += dx;
  r.origin.y += dy;
  return r;
}

Rect Rect::integral() const {
  if (isNull()) return *this;
  double x0 = std::floor(minX()), y0 = std::floor(minY());
  double x1 = std::ceil(maxX()), y1 = std::ceil(maxY());
  return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect Rect::unionWith(const Rect& o) const {
  if (isNull()) return o.standardized();
  if (o.isNull()) return standardized();
  double x0 = std::min(minX(), o.minX()), y0 = std::min(minY(), o.minY());
  double x1 = std::max(maxX(), o.maxX()), y1 = std::max(maxY(), o.maxY());
  return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect Rect::intersection(const Rect& o) const {
  if (isNull() || o.isNull()) return null();
  double x0 = std::max(minX(), o.minX()), y0 = std::max(minY(), o.minY());
  double x1 = std::min(maxX(), o.maxX()), y1 = std::min(maxY(), o.maxY());
  if (x1 < x0 || y1 < y0) return null();
  return Rect(x0, y0, x1 - x0, y1 - y0);
}

bool Rect::intersects(const Rect& o) const { return !intersection(o).isEmpty(); }

bool Rect::contains(Point p) const {
  if (isNull()) return false;
  return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
}

bool Rect::contains(const Rect& r) const {
  if (isNull() || r.isNull()) return false;
  return r.minX() >= minX() && r.maxX() <= maxX() && r.minY() >= minY() && r.maxY() <= maxY();
}

std::string Rect::description() const {
  if (isNull()) return "{null}";
  return "{{" + fmt(origin.x) + ", " + fmt(origin.y) + "}, {" + fmt(size.width) + ", " + fmt(size.height) + "}}";
}

Rect insetRect(const Rect& r, const EdgeInsets& in) {
  Rect s = r.standardized();
  return Rect(s.origin.x + in.left, s.origin.y + in.top, s.size.width - in.left - in.right,
              s.size.height - in.top - in.bottom);
}

// ---- AffineTransform

AffineTransform AffineTransform::makeTranslation(double tx, double ty) { return {1, 0, 0, 1, tx, ty}; }
AffineTransform AffineTransform::makeScale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
AffineTransform AffineTransform::makeRotation(double r) {
  double s = std::sin(r), c = std::cos(r);
  return {c, s, -s, c, 0, 0};
}

bool AffineTransform::isIdentity() const { return *this == AffineTransform{}; }

AffineTransform AffineTransform::concat(const AffineTransform& o) const {
  return {a * o.a + b * o.c,         a * o.b + b * o.d,         c * o.a + d * o.c,
          c * o.b + d * o.d,         tx * o.a + ty * o.c + o.tx, tx * o.b + ty * o.d + o.ty};
}

AffineTransform AffineTransform::translate(double x, double y) const { return makeTranslation(x, y).concat(*this); }
AffineTransform AffineTransform::scale(double sx, double sy) const { return makeScale(sx, sy).concat(*this); }
AffineTransform AffineTransform::rotate(double r) const { return makeRotation(r).concat(*this); }

AffineTransform AffineTransform::inverted() const {
  double det = a * d - b * c;
  if (det == 0 || !std::isfinite(det)) return *this;
  AffineTransform r;
  r.a = d / det;
  r.b = -b / det;
  r.c = -c / det;
  r.d = a / det;
  r.tx = (c * ty - d * tx) / det;
  r.ty = (b * tx - a * ty) / det;
  return r;
}

Point AffineTransform::apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
Size AffineTransform::apply(Size s) const { return {a * s.width + c * s.height, b * s.width + d * s.height}; }

Rect AffineTransform::apply(const Rect& r) const {
  if (r.isNull()) return r;
  Point ps[4] = {apply(Point{r.minX(), r.minY()}), apply(Point{r.maxX(), r.minY()}),
                 apply(Point{r.minX(), r.maxY()}), apply(Point{r.maxX(), r.maxY()})};
  double x0 = ps[0].x, x1 = ps[0].x, y0 = ps[0].y, y1 = ps[0].y;
  for (const Point& p : ps) {
    x0 = std::min(x0, p.x);
    x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y);
    y1 = std::max(y1, p.y);
  }
  return Rect(x0, y0, x1 - x0, y1 - y0);
}

std::string AffineTransform::description() const {
  return "[" + fmt(a) + ", " + fmt(b) + ", " + fmt(c) + ", " + fmt(d) + ", " + fmt(tx) + ", " + fmt(ty) + "]";
}

// ---- Transform3D

Transform3D Transform3D::makeTranslation(double tx, double ty, double tz) {
  Transform3D t;
  t.m41 = tx;
  t.m42 = ty;
  t.m43 = tz;
  return t;
}

Transform3D Transform3D::makeScale(double sx, double sy, double sz) {
  Transform3D t;
  t.m11 = sx;
  t.m22 = sy;
  t.m33 = sz;
  return t;
}

Transform3D Transform3D::makeRotation(double r, double x, double y, double z) {
  double len = std::sqrt(x * x + y * y + z * z);
  if (len == 0) return {};
  x /= len;
  y /= len;
  z /= len;
  double s = std::sin(r), c = std::cos(r), t = 1 - c;
  Transform3D m;
  m.m11 = t * x * x + c;
  m.m12 = t * x * y + s * z;
  m.m13 = t * x * z - s * y;
  m.m21 = t * x * y - s * z;
  m.m22 = t * y * y + c;
  m.m23 = t * y * z + s * x;
  m.m31 = t * x * z + s * y;
  m.m32 = t * y * z - s * x;
  m.m33 = t * z * z + c;
  return m;
}

Transform3D Transform3D::makeAffine(const AffineTransform& a) {
  Transform3D m;
  m.m11 = a.a;
  m.m12 = a.b;
  m.m21 = a.c;
  m.m22 = a.d;
  m.m41 = a.tx;
  m.m42 = a.ty;
  return m;
}

bool Transform3D::isIdentity() const { return *this == Transform3D{}; }

bool Transform3D::isAffine() const {
  return m13 == 0 && m14 == 0 && m23 == 0 && m24 == 0 && m31 == 0 && m32 == 0 && m33 == 1 && m34 == 0 &&
         m43 == 0 && m44 == 1;
}

AffineTransform Transform3D::affine() const { return {m11, m12, m21, m22, m41, m42}; }

Transform3D Transform3D::concat(const Transform3D& o) const {
  const double A[4][4] = {{m11, m12, m13, m14}, {m21, m22, m23, m24}, {m31, m32, m33, m34}, {m41, m42, m43, m44}};
  const double B[4][4] = {{o.m11, o.m12, o.m13, o.m14},
                          {o.m21, o.m22, o.m23, o.m24},
                          {o.m31, o.m32, o.m33, o.m34},
                          {o.m41, o.m42, o.m43, o.m44}};
  double R[4][4];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += A[i][k] * B[k][j];
      R[i][j] = s;
    }
  return {R[0][0], R[0][1], R[0][2], R[0][3], R[1][0], R[1][1], R[1][2], R[1][3],
          R[2][0], R[2][1], R[2][2], R[2][3], R[3][0], R[3][1], R[3][2], R[3][3]};
}

Transform3D Transform3D::translate(double tx, double ty, double tz) const {
  return makeTranslation(tx, ty, tz).concat(*this);
}
Transform3D Transform3D::scale(double sx, double sy, double sz) const { return makeScale(sx, sy, sz).concat(*this); }
Transform3D Transform3D::rotate(double r, double x, double y, double z) const {
  return makeRotation(r, x, y, z).concat(*this);
}

Point Transform3D::apply(Point p) const {
  double x = p.x * m11 + p.y * m21 + m41;
  double y = p.x * m12 + p.y * m22 + m42;
  double w = p.x * m14 + p.y * m24 + m44;
  if (w == 0) return {x, y};
  return {x / w, y / w};
}

}  // namespace os
