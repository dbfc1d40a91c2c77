#include "os/graphics/Path.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace os {

namespace {
std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", std::fabs(v) < 1e-9 ? 0.0 : v);
  return buf;
}
Point arcPoint(Point c, double r, double a) { return {c.x + r * std::cos(a), c.y + r * std::sin(a)}; }
}  // namespace

void Path::moveTo(Point p) {
  elements_.push_back({Verb::Move, {p}});
  current_ = start_ = p;
  hasCurrent_ = true;
}

void Path::lineTo(Point p) {
  if (!hasCurrent_) return moveTo(p);
  elements_.push_back({Verb::Line, {p}});
  current_ = p;
}

void Path::quadCurveTo(Point c, Point e) {
  if (!hasCurrent_) moveTo(c);
  elements_.push_back({Verb::Quad, {c, e}});
  current_ = e;
}

void Path::curveTo(Point c1, Point c2, Point e) {
  if (!hasCurrent_) moveTo(c1);
  elements_.push_back({Verb::Curve, {c1, c2, e}});
  current_ = e;
}

void Path::addArc(Point center, double radius, double a0, double a1, bool clockwise) {
  Point start = arcPoint(center, radius, a0);
  if (!hasCurrent_) {
    elements_.push_back({Verb::Move, {start}});
    start_ = start;
    hasCurrent_ = true;
  }
  Element e{Verb::Arc, {center}};
  e.radius = radius;
  e.startAngle = a0;
  e.endAngle = a1;
  e.clockwise = clockwise;
  elements_.push_back(e);
  current_ = arcPoint(center, radius, a1);
}

void Path::closeSubpath() {
  if (!hasCurrent_) return;
  elements_.push_back({Verb::Close, {}});
  current_ = start_;
}

void Path::addRect(const Rect& r0) {
  Rect r = r0.standardized();
  moveTo({r.minX(), r.minY()});
  lineTo({r.maxX(), r.minY()});
  lineTo({r.maxX(), r.maxY()});
  lineTo({r.minX(), r.maxY()});
  closeSubpath();
}

void Path::addEllipseInRect(const Rect& r0) {
  Rect r = r0.standardized();
  // Four cubic quarters; kappa places the controls so each quarter stays within 0.03% of a circle.
  constexpr double k = 0.5522847498;
  double cx = r.midX(), cy = r.midY(), rx = r.width() / 2, ry = r.height() / 2;
  moveTo({cx + rx, cy});
  curveTo({cx + rx, cy + k * ry}, {cx + k * rx, cy + ry}, {cx, cy + ry});
  curveTo({cx - k * rx, cy + ry}, {cx - rx, cy + k * ry}, {cx - rx, cy});
  curveTo({cx - rx, cy - k * ry}, {cx - k * rx, cy - ry}, {cx, cy - ry});
  curveTo({cx + k * rx, cy - ry}, {cx + rx, cy - k * ry}, {cx + rx, cy});
  closeSubpath();
}

void Path::addRoundedRect(const Rect& r0, double radius) {
  Rect r = r0.standardized();
  double rad = std::clamp(radius, 0.0, std::min(r.width(), r.height()) / 2);
  if (rad <= 0) return addRect(r);
  constexpr double pi = std::numbers::pi;
  moveTo({r.minX() + rad, r.minY()});
  lineTo({r.maxX() - rad, r.minY()});
  addArc({r.maxX() - rad, r.minY() + rad}, rad, -pi / 2, 0, false);
  lineTo({r.maxX(), r.maxY() - rad});
  addArc({r.maxX() - rad, r.maxY() - rad}, rad, 0, pi / 2, false);
  lineTo({r.minX() + rad, r.maxY()});
  addArc({r.minX() + rad, r.maxY() - rad}, rad, pi / 2, pi, false);
  lineTo({r.minX(), r.minY() + rad});
  addArc({r.minX() + rad, r.minY() + rad}, rad, pi, 3 * pi / 2, false);
  closeSubpath();
}

std::vector<std::vector<Point>> Path::flatten(const AffineTransform& t, double tolerance) const {
  std::vector<std::vector<Point>> out;
  Point cur, start;
  bool closed = false;
  auto add = [&](Point p) {
    // Drawing on after a close starts a new subpath at the closed one's start.
    if (out.empty() || closed) out.push_back({t.apply(cur)});
    closed = false;
    out.back().push_back(t.apply(p));
    cur = p;
  };
  // Segment count from the size of the control polygon as it will be drawn.
  auto steps = [&](std::initializer_list<Point> pts) {
    double len = 0;
    Point prev = *pts.begin();
    for (Point p : pts) {
      Point a = t.apply(prev), b = t.apply(p);
      len += std::hypot(b.x - a.x, b.y - a.y);
      prev = p;
    }
    return std::clamp(static_cast<int>(std::ceil(std::sqrt(len / std::max(tolerance, 0.01)))), 1, 256);
  };
  for (const Element& e : elements_) {
    switch (e.verb) {
      case Verb::Move:
        cur = start = e.points[0];
        out.push_back({t.apply(cur)});
        closed = false;
        break;
      case Verb::Line: add(e.points[0]); break;
      case Verb::Quad: {
        Point p0 = cur;
        int n = steps({p0, e.points[0], e.points[1]});
        for (int i = 1; i <= n; ++i) {
          double s = static_cast<double>(i) / n, u = 1 - s;
          add({u * u * p0.x + 2 * u * s * e.points[0].x + s * s * e.points[1].x,
               u * u * p0.y + 2 * u * s * e.points[0].y + s * s * e.points[1].y});
        }
        break;
      }
      case Verb::Curve: {
        Point p0 = cur;
        int n = steps({p0, e.points[0], e.points[1], e.points[2]});
        for (int i = 1; i <= n; ++i) {
          double s = static_cast<double>(i) / n, u = 1 - s;
          double b0 = u * u * u, b1 = 3 * u * u * s, b2 = 3 * u * s * s, b3 = s * s * s;
          add({b0 * p0.x + b1 * e.points[0].x + b2 * e.points[1].x + b3 * e.points[2].x,
               b0 * p0.y + b1 * e.points[0].y + b2 * e.points[1].y + b3 * e.points[2].y});
        }
        break;
      }
      case Verb::Arc: {
        double a0 = e.startAngle, a1 = e.endAngle;
        constexpr double twoPi = 2 * std::numbers::pi;
        double sweep = a1 - a0;
        // Sweep in the stated direction, at most one full turn.
        if (!e.clockwise) {
          while (sweep < 0) sweep += twoPi;
          if (sweep > twoPi) sweep = std::fmod(sweep, twoPi);
        } else {
          while (sweep > 0) sweep -= twoPi;
          if (sweep < -twoPi) sweep = std::fmod(sweep, twoPi);
        }
        add(arcPoint(e.points[0], e.radius, a0));
        double scale = std::sqrt(std::fabs(t.a * t.d - t.b * t.c));
        int n = std::clamp(static_cast<int>(std::ceil(std::fabs(sweep) * std::sqrt(e.radius * scale / std::max(tolerance, 0.01)))), 1, 512);
        for (int i = 1; i <= n; ++i) add(arcPoint(e.points[0], e.radius, a0 + sweep * i / n));
        break;
      }
      case Verb::Close:
        add(start);
        closed = true;
        break;
    }
  }
  return out;
}

Rect Path::boundingBox() const {
  Rect box = Rect::null();
  for (const auto& poly : flatten())
    for (Point p : poly) box = box.unionWith(Rect(p.x, p.y, 0, 0));
  return box;
}

std::string Path::description() const {
  std::string s;
  auto sep = [&] {
    if (!s.empty()) s += ' ';
  };
  auto pt = [&](Point p) { s += num(p.x) + " " + num(p.y); };
  for (const Element& e : elements_) {
    sep();
    switch (e.verb) {
      case Verb::Move: s += "M "; pt(e.points[0]); break;
      case Verb::Line: s += "L "; pt(e.points[0]); break;
      case Verb::Quad: s += "Q "; pt(e.points[0]); s += ' '; pt(e.points[1]); break;
      case Verb::Curve:
        s += "C "; pt(e.points[0]); s += ' '; pt(e.points[1]); s += ' '; pt(e.points[2]);
        break;
      case Verb::Arc:
        s += "A "; pt(e.points[0]);
        s += " " + num(e.radius) + " " + num(e.startAngle) + " " + num(e.endAngle) + (e.clockwise ? " cw" : " ccw");
        break;
      case Verb::Close: s += "Z"; break;
    }
  }
  return s;
}

}  // namespace os
