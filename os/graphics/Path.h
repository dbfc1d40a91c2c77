#pragma once
// A drawing path: subpaths of lines, curves and arcs, in the coordinates they were added in.
#include <string>
#include <vector>

#include "os/graphics/Geometry.h"

namespace os {

class Path {
 public:
  enum class Verb { Move, Line, Quad, Curve, Arc, Close };
  struct Element {
    Verb verb;
    Point points[3];  // Move/Line: [0]; Quad: control, end; Curve: control 1, control 2, end
    // Arc: centre in points[0]; radius, angles in radians, direction (clockwise in a y-down
    // space means decreasing angle, as the platform counts it).
    double radius = 0, startAngle = 0, endAngle = 0;
    bool clockwise = false;
  };

  void moveTo(Point p);
  void lineTo(Point p);
  void quadCurveTo(Point control, Point end);
  void curveTo(Point c1, Point c2, Point end);
  // Starts with a line from the current point to the arc's start, if there is a current point.
  void addArc(Point center, double radius, double startAngle, double endAngle, bool clockwise);
  void closeSubpath();
  void addRect(const Rect& r);
  void addEllipseInRect(const Rect& r);
  // Radius clamped to half the shorter side.
  void addRoundedRect(const Rect& r, double radius);

  bool isEmpty() const { return elements_.empty(); }
  const std::vector<Element>& elements() const { return elements_; }
  // Where the next element starts (the last end point); zero when empty.
  Point currentPoint() const { return current_; }

  // Polygons (one per subpath) after the transform, curves and arcs cut into short lines.
  std::vector<std::vector<Point>> flatten(const AffineTransform& t = {}, double tolerance = 0.25) const;
  // Box of the flattened outline.
  Rect boundingBox() const;
  // "M 0 0 L 10 0 C ... A cx cy r a0 a1 cw|ccw Z".
  std::string description() const;

  bool operator==(const Path&) const = default;

 private:
  std::vector<Element> elements_;
  Point current_, start_;
  bool hasCurrent_ = false;
};

}  // namespace os
