#include "os/graphics/GraphicsContext.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "os/graphics/BitmapContext.h"
#include "os/graphics/Image.h"
#include "os/graphics/TextLayout.h"

namespace os {

namespace {
std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", std::fabs(v) < 1e-9 ? 0.0 : v);
  return buf;
}
std::string pointText(Point p) { return "(" + num(p.x) + ", " + num(p.y) + ")"; }
std::string stops(const Gradient& g) {
  std::string s = "[";
  for (std::size_t i = 0; i < g.stops.size(); ++i) {
    if (i) s += ", ";
    s += num(g.stops[i].location) + ": " + g.stops[i].color.description();
  }
  return s + "]";
}
}  // namespace

Color Gradient::colorAt(double t) const {
  if (stops.empty()) return Color::clear();
  if (t <= stops.front().location) return stops.front().color;
  for (std::size_t i = 1; i < stops.size(); ++i) {
    const Stop &a = stops[i - 1], &b = stops[i];
    if (t <= b.location) {
      double span = b.location - a.location;
      double f = span > 0 ? (t - a.location) / span : 1;
      return {a.color.r + (b.color.r - a.color.r) * f, a.color.g + (b.color.g - a.color.g) * f,
              a.color.b + (b.color.b - a.color.b) * f, a.color.a + (b.color.a - a.color.a) * f};
    }
  }
  return stops.back().color;
}

std::string DrawOp::description() const {
  using K = Kind;
  static const char* caps[] = {"butt", "round", "square"};
  static const char* joins[] = {"miter", "round", "bevel"};
  switch (kind) {
    case K::Save: return "save";
    case K::Restore: return "restore";
    case K::ConcatCTM: return "concat " + transform.description();
    case K::SetFillColor: return "fillColor " + color.description();
    case K::SetStrokeColor: return "strokeColor " + color.description();
    case K::SetLineWidth: return "lineWidth " + num(value);
    case K::SetLineCap: return std::string("lineCap ") + caps[static_cast<int>(value) % 3];
    case K::SetLineJoin: return std::string("lineJoin ") + joins[static_cast<int>(value) % 3];
    case K::SetAlpha: return "alpha " + num(value);
    case K::FillPath: return std::string(fillRule == FillRule::EvenOdd ? "eoFillPath " : "fillPath ") + path.description();
    case K::StrokePath: return "strokePath " + path.description();
    case K::FillRect: return "fillRect " + rect.description();
    case K::StrokeRect: return "strokeRect " + rect.description();
    case K::ClearRect: return "clearRect " + rect.description();
    case K::ClipToRect: return "clipToRect " + rect.description();
    case K::ClipToPath: return "clipToPath " + path.description();
    case K::LinearGradient: return "linearGradient " + pointText(start) + " -> " + pointText(end) + " " + stops(gradient);
    case K::RadialGradient:
      return "radialGradient " + pointText(start) + " " + num(startRadius) + " -> " + pointText(end) + " " + num(endRadius) +
             " " + stops(gradient);
    case K::ShowText:
      return "text \"" + text + "\" at " + pointText(point) + " " + font.fontName() + " " + num(font.pointSize()) +
             " " + color.description() + (underline ? " underline" : "");
    case K::DrawImage: return "image " + (image && !image->name().empty() ? image->name() : std::string("-")) + " " + rect.description();
  }
  return "?";
}

DrawOp GraphicsContext::makeOp(DrawOp::Kind kind) const {
  DrawOp op;
  op.kind = kind;
  op.state = state_;
  return op;
}

void GraphicsContext::saveState() {
  stack_.push_back(state_);
  emit(makeOp(DrawOp::Kind::Save));
}

void GraphicsContext::restoreState() {
  if (stack_.empty()) return;
  state_ = stack_.back();
  stack_.pop_back();
  emit(makeOp(DrawOp::Kind::Restore));
}

void GraphicsContext::concatCTM(const AffineTransform& t) {
  // The new transform applies first, then what was there.
  state_.ctm = t.concat(state_.ctm);
  DrawOp op = makeOp(DrawOp::Kind::ConcatCTM);
  op.transform = t;
  emit(std::move(op));
}

void GraphicsContext::setFillColor(const Color& c) {
  state_.fillColor = c;
  DrawOp op = makeOp(DrawOp::Kind::SetFillColor);
  op.color = c;
  emit(std::move(op));
}

void GraphicsContext::setStrokeColor(const Color& c) {
  state_.strokeColor = c;
  DrawOp op = makeOp(DrawOp::Kind::SetStrokeColor);
  op.color = c;
  emit(std::move(op));
}

void GraphicsContext::setLineWidth(double w) {
  state_.lineWidth = w;
  DrawOp op = makeOp(DrawOp::Kind::SetLineWidth);
  op.value = w;
  emit(std::move(op));
}

void GraphicsContext::setLineCap(LineCap cap) {
  state_.lineCap = cap;
  DrawOp op = makeOp(DrawOp::Kind::SetLineCap);
  op.value = static_cast<int>(cap);
  emit(std::move(op));
}

void GraphicsContext::setLineJoin(LineJoin join) {
  state_.lineJoin = join;
  DrawOp op = makeOp(DrawOp::Kind::SetLineJoin);
  op.value = static_cast<int>(join);
  emit(std::move(op));
}

void GraphicsContext::setAlpha(double a) {
  state_.alpha = std::clamp(a, 0.0, 1.0);
  DrawOp op = makeOp(DrawOp::Kind::SetAlpha);
  op.value = state_.alpha;
  emit(std::move(op));
}

void GraphicsContext::addPath(const Path& p) {
  for (const Path::Element& e : p.elements()) {
    switch (e.verb) {
      case Path::Verb::Move: path_.moveTo(e.points[0]); break;
      case Path::Verb::Line: path_.lineTo(e.points[0]); break;
      case Path::Verb::Quad: path_.quadCurveTo(e.points[0], e.points[1]); break;
      case Path::Verb::Curve: path_.curveTo(e.points[0], e.points[1], e.points[2]); break;
      case Path::Verb::Arc: path_.addArc(e.points[0], e.radius, e.startAngle, e.endAngle, e.clockwise); break;
      case Path::Verb::Close: path_.closeSubpath(); break;
    }
  }
}

void GraphicsContext::fillPath(FillRule rule) {
  DrawOp op = makeOp(DrawOp::Kind::FillPath);
  op.path = std::move(path_);
  op.fillRule = rule;
  path_ = Path();
  emit(std::move(op));
}

void GraphicsContext::strokePath() {
  DrawOp op = makeOp(DrawOp::Kind::StrokePath);
  op.path = std::move(path_);
  path_ = Path();
  emit(std::move(op));
}

void GraphicsContext::narrowClip(const Rect& device) {
  state_.clip = state_.clip.isNull() ? device : state_.clip.intersection(device);
  // An empty intersection still clips everything away.
  if (state_.clip.isNull()) state_.clip = Rect(0, 0, 0, 0);
}

void GraphicsContext::clip() {
  Path p = std::move(path_);
  path_ = Path();
  narrowClip(state_.ctm.apply(p.boundingBox()));
  DrawOp op = makeOp(DrawOp::Kind::ClipToPath);
  op.path = std::move(p);
  emit(std::move(op));
}

void GraphicsContext::clipToRect(const Rect& r) {
  narrowClip(state_.ctm.apply(r));
  DrawOp op = makeOp(DrawOp::Kind::ClipToRect);
  op.rect = r;
  emit(std::move(op));
}

void GraphicsContext::fillRect(const Rect& r) {
  DrawOp op = makeOp(DrawOp::Kind::FillRect);
  op.rect = r;
  op.path.addRect(r);
  emit(std::move(op));
}

void GraphicsContext::strokeRect(const Rect& r) {
  DrawOp op = makeOp(DrawOp::Kind::StrokeRect);
  op.rect = r;
  op.path.addRect(r);
  emit(std::move(op));
}

void GraphicsContext::clearRect(const Rect& r) {
  DrawOp op = makeOp(DrawOp::Kind::ClearRect);
  op.rect = r;
  emit(std::move(op));
}

void GraphicsContext::fillEllipseInRect(const Rect& r) {
  DrawOp op = makeOp(DrawOp::Kind::FillPath);
  op.rect = r;
  op.path.addEllipseInRect(r);
  emit(std::move(op));
}

void GraphicsContext::strokeEllipseInRect(const Rect& r) {
  DrawOp op = makeOp(DrawOp::Kind::StrokePath);
  op.rect = r;
  op.path.addEllipseInRect(r);
  emit(std::move(op));
}

void GraphicsContext::drawLinearGradient(const Gradient& g, Point start, Point end) {
  DrawOp op = makeOp(DrawOp::Kind::LinearGradient);
  op.gradient = g;
  op.start = start;
  op.end = end;
  emit(std::move(op));
}

void GraphicsContext::drawRadialGradient(const Gradient& g, Point c0, double r0, Point c1, double r1) {
  DrawOp op = makeOp(DrawOp::Kind::RadialGradient);
  op.gradient = g;
  op.start = c0;
  op.end = c1;
  op.startRadius = r0;
  op.endRadius = r1;
  emit(std::move(op));
}

void GraphicsContext::showText(std::string_view text, Point baseline, const Font& font) {
  DrawOp op = makeOp(DrawOp::Kind::ShowText);
  op.text = std::string(text);
  op.point = baseline;
  op.font = font;
  op.color = state_.fillColor;
  emit(std::move(op));
}

void GraphicsContext::drawText(std::string_view text, const Rect& rect, const Font& font, LineBreakMode mode,
                               TextAlignment alignment) {
  TextFrame frame = TextFrame::layout(text, font, rect, mode, alignment);
  for (const TextLine& line : frame.lines())
    if (!line.text.empty()) showText(line.text, line.origin, font);
}

void GraphicsContext::drawTextFrame(const TextFrame& frame) {
  for (const TextLine& line : frame.lines())
    for (const TextRun& run : line.runs) {
      if (run.text.empty()) continue;
      DrawOp op = makeOp(DrawOp::Kind::ShowText);
      op.text = run.text;
      op.point = {line.origin.x + run.x, line.origin.y};
      op.font = run.font;
      op.color = run.color;
      op.underline = run.underline;
      emit(std::move(op));
    }
}

void GraphicsContext::drawImage(const std::shared_ptr<const Image>& image, const Rect& rect) {
  if (!image) return;
  DrawOp op = makeOp(DrawOp::Kind::DrawImage);
  op.image = image;
  op.rect = rect;
  emit(std::move(op));
}

// ---- the current-context stack

namespace {
thread_local std::vector<std::shared_ptr<GraphicsContext>> tContexts;
}

GraphicsContext* currentGraphicsContext() { return tContexts.empty() ? nullptr : tContexts.back().get(); }
void pushGraphicsContext(std::shared_ptr<GraphicsContext> context) { tContexts.push_back(std::move(context)); }
void popGraphicsContext() {
  if (!tContexts.empty()) tContexts.pop_back();
}

void beginImageContext(Size size, bool opaque, double scale) {
  if (scale <= 0) scale = 1;
  int w = std::max(0, static_cast<int>(std::ceil(size.width * scale - 1e-9)));
  int h = std::max(0, static_cast<int>(std::ceil(size.height * scale - 1e-9)));
  auto ctx = std::make_shared<BitmapContext>(w, h, scale);
  if (opaque) ctx->fillAll(Color::white());
  pushGraphicsContext(std::move(ctx));
}

std::shared_ptr<Image> imageFromCurrentImageContext() {
  auto* ctx = dynamic_cast<BitmapContext*>(currentGraphicsContext());
  return ctx ? ctx->makeImage() : nullptr;
}

void endImageContext() {
  if (dynamic_cast<BitmapContext*>(currentGraphicsContext())) popGraphicsContext();
}

}  // namespace os
