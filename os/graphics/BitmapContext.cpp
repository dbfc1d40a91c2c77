#include "os/graphics/BitmapContext.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "os/graphics/ImageCodec.h"

namespace os {

namespace {
// A size beyond the decoding limits gets no pixels at all rather than a huge allocation.
int boundedSide(int side, int other) {
  ImageDecodeLimits limits;
  if (side <= 0 || other <= 0 || side > limits.maxSide || other > limits.maxSide ||
      static_cast<long long>(side) * other > limits.maxPixels)
    return 0;
  return side;
}
}  // namespace

BitmapContext::BitmapContext(int width, int height, double scale)
    : GraphicsContext(AffineTransform::makeScale(scale > 0 ? scale : 1, scale > 0 ? scale : 1)),
      bitmap_(boundedSide(width, height), boundedSide(height, width)),
      scale_(scale > 0 ? scale : 1) {}

BitmapContext::BitmapContext(int width, int height, double scale, int top, int rows)
    : BitmapContext(0, 0, scale) {
  // The limits judge the whole bitmap, not the band.
  if (boundedSide(width, height) == 0 || boundedSide(height, width) == 0 || top < 0 || top >= height || rows <= 0) return;
  bitmap_ = Bitmap(width, std::min(rows, height - top));
  top_ = top;
}

void BitmapContext::fillAll(const Color& c) {
  for (std::size_t i = 0; i + 3 < bitmap_.pixels.size(); i += 4) {
    bitmap_.pixels[i] = c.redByte();
    bitmap_.pixels[i + 1] = c.greenByte();
    bitmap_.pixels[i + 2] = c.blueByte();
    bitmap_.pixels[i + 3] = c.alphaByte();
  }
}

std::shared_ptr<Image> BitmapContext::makeImage() const { return Image::create(bitmap_, scale_); }

std::shared_ptr<Image> BitmapContext::takeImage() {
  Bitmap taken = std::exchange(bitmap_, Bitmap());
  return Image::create(std::move(taken), scale_);
}

BitmapContext::Span BitmapContext::deviceBounds(const GraphicsState& s) const {
  Span b{0, bitmap_.width, top_, top_ + bitmap_.height};
  if (!s.clip.isNull()) {
    b.x0 = std::max(b.x0, static_cast<int>(std::floor(s.clip.minX())));
    b.y0 = std::max(b.y0, static_cast<int>(std::floor(s.clip.minY())));
    b.x1 = std::min(b.x1, static_cast<int>(std::ceil(s.clip.maxX())));
    b.y1 = std::min(b.y1, static_cast<int>(std::ceil(s.clip.maxY())));
  }
  return b;
}

void BitmapContext::blend(int x, int y, const double src[4]) {
  std::uint8_t* p = bitmap_.pixel(x, y - top_);
  double da = p[3] / 255.0;
  double sa = src[3];
  double outA = sa + da * (1 - sa);
  if (outA <= 0) {
    p[0] = p[1] = p[2] = p[3] = 0;
    return;
  }
  for (int k = 0; k < 3; ++k) {
    double c = src[k] + (p[k] / 255.0) * da * (1 - sa);
    p[k] = static_cast<std::uint8_t>(std::lround(std::clamp(c / outA, 0.0, 1.0) * 255));
  }
  p[3] = static_cast<std::uint8_t>(std::lround(std::clamp(outA, 0.0, 1.0) * 255));
}

void BitmapContext::fillPolygons(const std::vector<std::vector<Point>>& polys, FillRule rule, const GraphicsState& s,
                                 const Color& c) {
  double a = std::clamp(c.a * s.alpha, 0.0, 1.0);
  const double src[4] = {c.r * a, c.g * a, c.b * a, a};
  struct Edge {
    Point p0, p1;
    int dir;
  };
  std::vector<Edge> edges;
  double minY = 1e300, maxY = -1e300;
  for (const auto& poly : polys) {
    for (std::size_t i = 0; i + 1 <= poly.size() && poly.size() > 1; ++i) {
      Point p0 = poly[i], p1 = poly[(i + 1) % poly.size()];  // subpaths are closed for filling
      if (p0.y == p1.y || !std::isfinite(p0.y) || !std::isfinite(p1.y)) continue;
      edges.push_back(p0.y < p1.y ? Edge{p0, p1, 1} : Edge{p1, p0, -1});
      minY = std::min(minY, std::min(p0.y, p1.y));
      maxY = std::max(maxY, std::max(p0.y, p1.y));
    }
  }
  if (edges.empty()) return;
  Span b = deviceBounds(s);
  int y0 = std::max(b.y0, static_cast<int>(std::floor(minY)));
  int y1 = std::min(b.y1, static_cast<int>(std::ceil(maxY)));
  std::vector<std::pair<double, int>> xs;
  for (int y = y0; y < y1; ++y) {
    double sy = y + 0.5;
    xs.clear();
    for (const Edge& e : edges)
      if (sy >= e.p0.y && sy < e.p1.y) xs.push_back({e.p0.x + (sy - e.p0.y) * (e.p1.x - e.p0.x) / (e.p1.y - e.p0.y), e.dir});
    std::sort(xs.begin(), xs.end());
    int winding = 0;
    for (std::size_t i = 0; i + 1 < xs.size(); ++i) {
      winding += xs[i].second;
      bool inside = rule == FillRule::EvenOdd ? (i % 2 == 0) : winding != 0;
      if (!inside) continue;
      // Pixels whose centres lie in [xs[i], xs[i+1]).
      int xa = std::max(b.x0, static_cast<int>(std::ceil(xs[i].first - 0.5)));
      int xb = std::min(b.x1, static_cast<int>(std::ceil(xs[i + 1].first - 0.5)));
      for (int x = xa; x < xb; ++x) blend(x, y, src);
    }
  }
}

void BitmapContext::stroke(const Path& path, const GraphicsState& s) {
  double hw = s.lineWidth / 2;
  if (hw <= 0) return;
  for (const auto& poly : path.flatten()) {
    for (std::size_t i = 0; i + 1 < poly.size(); ++i) {
      Point a = poly[i], b = poly[i + 1];
      double dx = b.x - a.x, dy = b.y - a.y, len = std::hypot(dx, dy);
      if (len == 0) continue;
      double nx = -dy / len * hw, ny = dx / len * hw;
      double ex = 0, ey = 0;
      if (s.lineCap == LineCap::Square) ex = dx / len * hw, ey = dy / len * hw;
      std::vector<Point> quad = {{a.x + nx - ex, a.y + ny - ey}, {b.x + nx + ex, b.y + ny + ey},
                                 {b.x - nx + ex, b.y - ny + ey}, {a.x - nx - ex, a.y - ny - ey}};
      for (Point& p : quad) p = s.ctm.apply(p);
      fillPolygons({quad}, FillRule::NonZero, s, s.strokeColor);
    }
  }
}

void BitmapContext::clear(const Rect& r, const GraphicsState& s) {
  Rect d = s.ctm.apply(r);
  Span b = deviceBounds(s);
  int x0 = std::max(b.x0, static_cast<int>(std::ceil(d.minX() - 0.5)));
  int x1 = std::min(b.x1, static_cast<int>(std::ceil(d.maxX() - 0.5)));
  int y0 = std::max(b.y0, static_cast<int>(std::ceil(d.minY() - 0.5)));
  int y1 = std::min(b.y1, static_cast<int>(std::ceil(d.maxY() - 0.5)));
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) std::fill_n(bitmap_.pixel(x, y - top_), 4, 0);
}

void BitmapContext::gradient(const DrawOp& op) {
  Span b = deviceBounds(op.state);
  AffineTransform inv = op.state.ctm.inverted();
  bool linear = op.kind == DrawOp::Kind::LinearGradient;
  double dx = op.end.x - op.start.x, dy = op.end.y - op.start.y, len2 = dx * dx + dy * dy;
  for (int y = b.y0; y < b.y1; ++y)
    for (int x = b.x0; x < b.x1; ++x) {
      Point u = inv.apply(Point{x + 0.5, y + 0.5});
      double t;
      if (linear) {
        if (len2 == 0) return;
        t = ((u.x - op.start.x) * dx + (u.y - op.start.y) * dy) / len2;
      } else {
        // Measured from the end centre, between the two radii.
        double dist = std::hypot(u.x - op.end.x, u.y - op.end.y);
        double span = op.endRadius - op.startRadius;
        if (span == 0) return;
        t = (dist - op.startRadius) / span;
      }
      if (t < 0 || t > 1) continue;  // the platform's default: nothing drawn past the ends
      Color c = op.gradient.colorAt(t);
      double a = std::clamp(c.a * op.state.alpha, 0.0, 1.0);
      const double src[4] = {c.r * a, c.g * a, c.b * a, a};
      blend(x, y, src);
    }
}

void BitmapContext::image(const DrawOp& op) {
  if (!op.image || op.rect.isEmpty()) return;
  auto up = op.image->upright();
  const Bitmap& src = up->bitmap();
  if (src.width <= 0 || src.height <= 0) return;
  Rect r = op.rect.standardized();
  Rect d = op.state.ctm.apply(r);
  Span b = deviceBounds(op.state);
  int x0 = std::max(b.x0, static_cast<int>(std::floor(d.minX()))), x1 = std::min(b.x1, static_cast<int>(std::ceil(d.maxX())));
  int y0 = std::max(b.y0, static_cast<int>(std::floor(d.minY()))), y1 = std::min(b.y1, static_cast<int>(std::ceil(d.maxY())));
  AffineTransform inv = op.state.ctm.inverted();
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      Point u = inv.apply(Point{x + 0.5, y + 0.5});
      double fu = (u.x - r.minX()) / r.width(), fv = (u.y - r.minY()) / r.height();
      if (fu < 0 || fu >= 1 || fv < 0 || fv >= 1) continue;
      double c[4];
      sampleBitmap(src, fu * src.width, fv * src.height, interpolation_, c);
      for (double& k : c) k *= op.state.alpha;
      blend(x, y, c);
    }
}

void BitmapContext::perform(const DrawOp& op) {
  using K = DrawOp::Kind;
  switch (op.kind) {
    case K::FillPath:
    case K::FillRect:
      fillPolygons(op.path.flatten(op.state.ctm), op.fillRule, op.state, op.state.fillColor);
      break;
    case K::StrokePath:
    case K::StrokeRect: stroke(op.path, op.state); break;
    case K::ClearRect: clear(op.rect, op.state); break;
    case K::LinearGradient:
    case K::RadialGradient: gradient(op); break;
    case K::DrawImage: image(op); break;
    default: break;  // state changes live in the base; text is not rasterised
  }
}

}  // namespace os
