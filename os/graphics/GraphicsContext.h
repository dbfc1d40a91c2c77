#pragma once
// Drawing: one interface with a recording implementation (drawRect-style drawing that tests
// read back) and a bitmap implementation (image work), plus the per-thread stack of current
// contexts that drawing code draws into.
//
// Every call becomes a DrawOp carrying the state it was made in (transform, colours, line
// settings, alpha); an implementation performs the ops. Paths are kept in the coordinates they
// were built in and transformed by the op's transform.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "os/graphics/AttributedString.h"
#include "os/graphics/Color.h"
#include "os/graphics/Font.h"
#include "os/graphics/Geometry.h"
#include "os/graphics/Path.h"

namespace os {

class Image;
class TextFrame;

enum class LineCap { Butt = 0, Round = 1, Square = 2 };
enum class LineJoin { Miter = 0, Round = 1, Bevel = 2 };
enum class FillRule { NonZero, EvenOdd };

struct Gradient {
  struct Stop {
    double location;
    Color color;
    bool operator==(const Stop&) const = default;
  };
  std::vector<Stop> stops;  // by location, 0..1
  Color colorAt(double t) const;
  bool operator==(const Gradient&) const = default;
};

struct GraphicsState {
  AffineTransform ctm;
  Color fillColor = Color::black();
  Color strokeColor = Color::black();
  double lineWidth = 1;
  LineCap lineCap = LineCap::Butt;
  LineJoin lineJoin = LineJoin::Miter;
  double alpha = 1;
  Rect clip = Rect::null();  // device space bounds; null: no clip
};

struct DrawOp {
  enum class Kind {
    Save, Restore, ConcatCTM, SetFillColor, SetStrokeColor, SetLineWidth, SetLineCap, SetLineJoin, SetAlpha,
    FillPath, StrokePath, FillRect, StrokeRect, ClearRect, ClipToRect, ClipToPath,
    LinearGradient, RadialGradient, ShowText, DrawImage
  };
  Kind kind = Kind::Save;
  GraphicsState state;     // after the op's own change
  Rect rect;               // rects, image and clip rectangles
  Path path;               // fill/stroke/clip paths (rects and ellipses are built into it too)
  FillRule fillRule = FillRule::NonZero;
  AffineTransform transform;  // ConcatCTM's argument
  double value = 0;           // line width, alpha, cap, join
  Color color;                // the colour set, or the text colour
  std::string text;
  Font font;
  Point point;                // text baseline start
  bool underline = false;
  std::shared_ptr<const Image> image;
  Gradient gradient;
  Point start, end;           // gradient ends / centres
  double startRadius = 0, endRadius = 0;

  std::string description() const;
};

class GraphicsContext {
 public:
  virtual ~GraphicsContext() = default;

  // State.
  void saveState();
  void restoreState();  // an unbalanced restore is ignored
  const GraphicsState& state() const { return state_; }
  const AffineTransform& ctm() const { return state_.ctm; }
  void concatCTM(const AffineTransform& t);
  void translateCTM(double tx, double ty) { concatCTM(AffineTransform::makeTranslation(tx, ty)); }
  void scaleCTM(double sx, double sy) { concatCTM(AffineTransform::makeScale(sx, sy)); }
  void rotateCTM(double radians) { concatCTM(AffineTransform::makeRotation(radians)); }
  void setFillColor(const Color& c);
  void setStrokeColor(const Color& c);
  void setLineWidth(double w);
  void setLineCap(LineCap cap);
  void setLineJoin(LineJoin join);
  void setAlpha(double a);

  // The current path; fill, stroke and clip consume it.
  Path& path() { return path_; }
  void beginPath() { path_ = Path(); }
  void moveTo(double x, double y) { path_.moveTo({x, y}); }
  void addLineTo(double x, double y) { path_.lineTo({x, y}); }
  void addCurveTo(double c1x, double c1y, double c2x, double c2y, double x, double y) { path_.curveTo({c1x, c1y}, {c2x, c2y}, {x, y}); }
  void addQuadCurveTo(double cx, double cy, double x, double y) { path_.quadCurveTo({cx, cy}, {x, y}); }
  void addArc(double cx, double cy, double r, double a0, double a1, bool clockwise) { path_.addArc({cx, cy}, r, a0, a1, clockwise); }
  void addRect(const Rect& r) { path_.addRect(r); }
  void addEllipseInRect(const Rect& r) { path_.addEllipseInRect(r); }
  void addRoundedRect(const Rect& r, double radius) { path_.addRoundedRect(r, radius); }
  void addPath(const Path& p);
  void closePath() { path_.closeSubpath(); }
  void fillPath(FillRule rule = FillRule::NonZero);
  void strokePath();
  void clip();  // to the current path's bounds

  // Shapes, without touching the current path.
  void fillRect(const Rect& r);
  void strokeRect(const Rect& r);
  void clearRect(const Rect& r);
  void fillEllipseInRect(const Rect& r);
  void strokeEllipseInRect(const Rect& r);
  void clipToRect(const Rect& r);

  void drawLinearGradient(const Gradient& g, Point start, Point end);
  void drawRadialGradient(const Gradient& g, Point startCenter, double startRadius, Point endCenter, double endRadius);

  // One line of text with its baseline starting at the point, in the fill colour.
  void showText(std::string_view text, Point baseline, const Font& font);
  // Text laid out in the rectangle (top-left origin) and drawn line by line in the fill colour.
  void drawText(std::string_view text, const Rect& rect, const Font& font,
                LineBreakMode mode = LineBreakMode::WordWrap, TextAlignment alignment = TextAlignment::Natural);
  // Every run of every line of a laid-out frame, in the run's own colour, at the lines'
  // y-down origins: frames need no flipped text space.
  void drawTextFrame(const TextFrame& frame);

  // The image as shown (orientation applied) stretched over the rectangle.
  void drawImage(const std::shared_ptr<const Image>& image, const Rect& rect);

 protected:
  // The base transform maps user space to device pixels (an image context's scale).
  explicit GraphicsContext(AffineTransform base = {}) { state_.ctm = base; }
  virtual void perform(const DrawOp& op) = 0;

 private:
  DrawOp makeOp(DrawOp::Kind kind) const;
  void emit(DrawOp op) { perform(op); }
  void narrowClip(const Rect& deviceRect);

  GraphicsState state_;
  std::vector<GraphicsState> stack_;
  Path path_;
};

// The context drawing code draws into, per thread (innermost pushed); null when none.
GraphicsContext* currentGraphicsContext();
void pushGraphicsContext(std::shared_ptr<GraphicsContext> context);
void popGraphicsContext();

// Image contexts: a transparent (or opaque white) bitmap context of `size` points at `scale`
// pixels per point, pushed as the current context with its transform scaled to points.
void beginImageContext(Size size, bool opaque, double scale);
// The current context's bitmap as an image at its scale; null if the current one is not an image context.
std::shared_ptr<Image> imageFromCurrentImageContext();
void endImageContext();

}  // namespace os
