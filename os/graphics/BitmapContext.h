#pragma once
// A context over a real RGBA bitmap for image work: path and rect fills (nonzero or even-odd,
// sampled at pixel centres, no anti-aliasing), strokes as butt-ended segments, clears,
// linear and radial gradients, and images drawn with bilinear or nearest sampling, all composed
// source-over with the state's alpha. Clips narrow to device-space bounding boxes. Text is
// recorded nowhere and not rasterised.
#include <memory>

#include "os/graphics/GraphicsContext.h"
#include "os/graphics/Image.h"

namespace os {

class BitmapContext : public GraphicsContext {
 public:
  // A transparent bitmap of width × height pixels; user space is scaled by `scale`. A size
  // beyond the image decoding limits gives an empty (0 × 0) bitmap that draws nothing.
  BitmapContext(int width, int height, double scale = 1);
  // Rows [top, top + rows) of a width × height bitmap: every drawing is worked out for the whole
  // bitmap and only the band's pixels are kept, so a large picture drawn band by band gets the
  // very pixels one whole context would. bitmap() and the images made hold the band's rows alone.
  BitmapContext(int width, int height, double scale, int top, int rows);

  const Bitmap& bitmap() const { return bitmap_; }
  double scale() const { return scale_; }
  void setInterpolation(Interpolation mode) { interpolation_ = mode; }
  // Sets every pixel, ignoring clip and transform.
  void fillAll(const Color& c);
  // A copy of the pixels as an image at the context's scale.
  std::shared_ptr<Image> makeImage() const;
  // The pixels themselves as an image at the context's scale, for a context drawn once: no copy
  // (a screen's worth is megabytes), and the context is left empty (0 × 0), drawing nothing.
  std::shared_ptr<Image> takeImage();

 protected:
  void perform(const DrawOp& op) override;

 private:
  struct Span {
    int x0, x1, y0, y1;
  };
  Span deviceBounds(const GraphicsState& s) const;
  void blend(int x, int y, const double premultiplied[4]);
  void fillPolygons(const std::vector<std::vector<Point>>& polys, FillRule rule, const GraphicsState& s, const Color& c);
  void stroke(const Path& path, const GraphicsState& s);
  void clear(const Rect& r, const GraphicsState& s);
  void gradient(const DrawOp& op);
  void image(const DrawOp& op);

  Bitmap bitmap_;
  int top_ = 0;  // the whole bitmap's row of the band's first row
  double scale_;
  Interpolation interpolation_ = Interpolation::Bilinear;
};

}  // namespace os
