#include "os/views/View.h"

#include <algorithm>
#include <cmath>

#include "os/core/Error.h"
#include "os/graphics/GraphicsContext.h"
#include "os/graphics/Image.h"
#include "os/graphics/RecordingContext.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Timer.h"
#include "os/views/GestureRecognizer.h"
#include "os/views/ViewController.h"
#include "os/views/Window.h"

namespace os {

View::View() : layer_(std::make_shared<Layer>()) { layer_->view_ = this; }

View::View(const Rect& frame) : View() { setFrame(frame); }

View::~View() {
  for (auto& sub : subviews_) {
    if (sub) sub->superview_ = nullptr;
  }
  for (auto& gr : recognizers_) gr->view_ = nullptr;
  layer_->view_ = nullptr;
}

// ----- geometry -----

Rect View::frame() const {
  const Transform3D& t = layer_->transform();
  double w = bounds_.size.width, h = bounds_.size.height;
  if (t.isIdentity()) return Rect(center_.x - w / 2, center_.y - h / 2, w, h);
  Point corners[4] = {{-w / 2, -h / 2}, {w / 2, -h / 2}, {-w / 2, h / 2}, {w / 2, h / 2}};
  double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
  for (auto c : corners) {
    Point p = t.isAffine() ? t.affine().apply(c) : t.apply(c);
    minX = std::min(minX, p.x);
    minY = std::min(minY, p.y);
    maxX = std::max(maxX, p.x);
    maxY = std::max(maxY, p.y);
  }
  return Rect(center_.x + minX, center_.y + minY, maxX - minX, maxY - minY);
}

void View::setFrame(const Rect& frame) {
  Rect f = frame.standardized();
  center_ = Point{f.midX(), f.midY()};
  if (layer_->transform().isIdentity() && !(bounds_.size == f.size)) {
    Size old = bounds_.size;
    bounds_.size = f.size;
    boundsSizeChanged(old);
  }
}

void View::setBounds(const Rect& bounds) {
  Size old = bounds_.size;
  bool originChanged = !(bounds_.origin == bounds.origin);
  bounds_ = bounds;
  if (!(old == bounds.size)) boundsSizeChanged(old);
  else if (originChanged) setNeedsLayout();
}

void View::setCenter(Point c) { center_ = c; }

AffineTransform View::transform() const { return layer_->transform().affine(); }

void View::setTransform(const AffineTransform& t) { layer_->setTransform(Transform3D::makeAffine(t)); }

void View::boundsSizeChanged(Size oldSize) {
  if (autoresizesSubviews_) {
    for (auto& sub : std::vector<std::shared_ptr<View>>(subviews())) resizeSubview(*sub, oldSize);
  }
  setNeedsLayout();
  if (contentMode_ == ViewContentMode::Redraw) setNeedsDisplay();
}

// The platform's rule: the flexible parts of an axis share the change in proportion to their
// current sizes (equally when all of them are zero).
void View::resizeSubview(View& sub, Size oldSize) {
  unsigned m = sub.autoresizingMask_;
  if (m == kViewAutoresizingNone) return;
  Rect f = sub.frame();
  auto axis = [](double& pos, double& len, double oldTotal, double newTotal, bool flexLow, bool flexLen, bool flexHigh) {
    double delta = newTotal - oldTotal;
    if (delta == 0 || !(flexLow || flexLen || flexHigh)) return;
    double low = pos, high = oldTotal - pos - len;
    double parts[3] = {flexLow ? low : 0, flexLen ? len : 0, flexHigh ? high : 0};
    double sum = parts[0] + parts[1] + parts[2];
    int count = (flexLow ? 1 : 0) + (flexLen ? 1 : 0) + (flexHigh ? 1 : 0);
    double share[3];
    for (int i = 0; i < 3; ++i) {
      bool flex = i == 0 ? flexLow : i == 1 ? flexLen : flexHigh;
      share[i] = !flex ? 0 : sum > 0 ? delta * parts[i] / sum : delta / count;
    }
    pos += share[0];
    len += share[1];
    if (len < 0) len = 0;
  };
  double x = f.origin.x, y = f.origin.y, w = f.size.width, h = f.size.height;
  axis(x, w, oldSize.width, bounds_.size.width, m & kViewAutoresizingFlexibleLeftMargin,
       m & kViewAutoresizingFlexibleWidth, m & kViewAutoresizingFlexibleRightMargin);
  axis(y, h, oldSize.height, bounds_.size.height, m & kViewAutoresizingFlexibleTopMargin,
       m & kViewAutoresizingFlexibleHeight, m & kViewAutoresizingFlexibleBottomMargin);
  sub.setFrame(Rect(x, y, w, h));
}

// ----- look -----

void View::setAlpha(double a) { alpha_ = std::clamp(a, 0.0, 1.0); }

void View::setHidden(bool h) { hidden_ = h; }

void View::setBackgroundColor(std::optional<Color> c) { background_ = c; }

void View::setContentMode(ViewContentMode m) {
  contentMode_ = m;
  setNeedsDisplay();
}

std::shared_ptr<View> View::viewWithTag(int tag) {
  if (tag_ == tag) return std::static_pointer_cast<View>(shared_from_this());
  for (auto& sub : subviews()) {
    if (auto v = sub ? sub->viewWithTag(tag) : nullptr) return v;
  }
  return nullptr;
}

// ----- tree -----

std::shared_ptr<View> View::superview() const {
  if (!superview_) return nullptr;
  return std::static_pointer_cast<View>(superview_->weak_from_this().lock());
}

Window* View::window() const {
  const View* v = this;
  while (v->superview_) v = v->superview_;
  return dynamic_cast<Window*>(const_cast<View*>(v));
}

void View::propagateWindow(Window* oldWindow, Window* newWindow, bool before) {
  if (oldWindow == newWindow) return;
  if (before) willMoveToWindow(newWindow);
  else didMoveToWindow();
  // A hook may remove a later subview: its place reads as a hole.
  for (auto& sub : subviews()) {
    if (sub) sub->propagateWindow(oldWindow, newWindow, before);
  }
}

void View::attach(const std::shared_ptr<View>& view, std::size_t index) {
  if (!view || view.get() == this) return;
  if (isDescendantOfView(view.get())) {
    throw Exception(kInvalidArgumentException, "a view cannot be added to its own subtree");
  }
  std::shared_ptr<View> keep = view;
  Window* oldWindow = view->window();
  Window* newWindow = window();
  if (view->superview_ == this) {
    compactSubviews();
    std::size_t at = slotOf(view.get());
    subviews_.erase(subviews_.begin() + static_cast<long>(at));
    if (index > at) --index;
    index = std::min(index, subviews_.size());
    subviews_.insert(subviews_.begin() + static_cast<long>(index), view);
    renumberSlotsFrom(std::min(index, at));
    return;
  }
  view->willMoveToSuperview(this);
  view->propagateWindow(oldWindow, newWindow, true);
  view->detachFromSuperview();
  view->superview_ = this;
  if (index >= subviews_.size() - holes_) {
    view->slot_ = subviews_.size();
    subviews_.push_back(view);
  } else {
    compactSubviews();
    subviews_.insert(subviews_.begin() + static_cast<long>(index), view);
    renumberSlotsFrom(index);
  }
  view->propagateWindow(oldWindow, newWindow, false);
  view->didMoveToSuperview();
  didAddSubview(view.get());
  view->setNeedsLayout();
}

void View::detachFromSuperview() {
  if (!superview_) return;
  View* parent = superview_;
  parent->willRemoveSubview(this);
  std::size_t at = parent->slotOf(this);
  superview_ = nullptr;
  if (at == std::string::npos) return;
  auto& list = parent->subviews_;
  std::shared_ptr<View> gone = std::move(list[at]);  // released last: it may hold the only reference
  if (at + 1 == list.size()) {
    list.pop_back();
    for (; !list.empty() && !list.back(); --parent->holes_) list.pop_back();
  } else if (++parent->holes_ > list.size() / 2) {
    // Closed now and then on removals alone, so that the holes never outnumber the subviews.
    parent->compactSubviews();
  }
}

void View::compactSubviews() const {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < subviews_.size(); ++i) {
    if (!subviews_[i]) continue;
    if (kept != i) subviews_[kept] = std::move(subviews_[i]);
    subviews_[kept]->slot_ = kept;
    ++kept;
  }
  subviews_.resize(kept);
  holes_ = 0;
}

std::size_t View::slotOf(const View* subview) const {
  if (!subview || subview->superview_ != this) return std::string::npos;
  std::size_t at = subview->slot_;
  if (at < subviews_.size() && subviews_[at].get() == subview) return at;
  auto it = std::find_if(subviews_.begin(), subviews_.end(), [subview](const auto& v) { return v.get() == subview; });
  return it == subviews_.end() ? std::string::npos : static_cast<std::size_t>(it - subviews_.begin());
}

void View::renumberSlotsFrom(std::size_t index) {
  for (std::size_t i = index; i < subviews_.size(); ++i) {
    if (subviews_[i]) subviews_[i]->slot_ = i;
  }
}

void View::addSubview(const std::shared_ptr<View>& view) {
  std::size_t index = subviews_.size();
  if (view && view->superview_ == this) index = subviews_.size();
  attach(view, index);
}

void View::insertSubview(const std::shared_ptr<View>& view, std::size_t index) { attach(view, index); }

void View::insertSubviewAbove(const std::shared_ptr<View>& view, const View* sibling) {
  compactSubviews();
  std::size_t at = slotOf(sibling);
  attach(view, at == std::string::npos ? subviews_.size() : at + 1);
}

void View::insertSubviewBelow(const std::shared_ptr<View>& view, const View* sibling) {
  compactSubviews();
  std::size_t at = slotOf(sibling);
  attach(view, at == std::string::npos ? 0 : at);
}

void View::bringSubviewToFront(const View* view) {
  std::size_t at = slotOf(view);
  if (at == std::string::npos || at + 1 == subviews_.size()) return;
  // Its old place becomes a hole, like a removal's.
  auto keep = std::move(subviews_[at]);
  ++holes_;
  keep->slot_ = subviews_.size();
  subviews_.push_back(std::move(keep));
  if (holes_ > subviews_.size() / 2) compactSubviews();
}

void View::sendSubviewToBack(const View* view) {
  compactSubviews();
  std::size_t at = slotOf(view);
  if (at == std::string::npos) return;
  auto keep = std::move(subviews_[at]);
  subviews_.erase(subviews_.begin() + static_cast<long>(at));
  subviews_.insert(subviews_.begin(), std::move(keep));
  renumberSlotsFrom(0);
}

void View::exchangeSubviewAtIndex(std::size_t a, std::size_t b) {
  compactSubviews();
  if (a >= subviews_.size() || b >= subviews_.size()) {
    throw Exception(kRangeException, "subview index beyond bounds");
  }
  std::swap(subviews_[a], subviews_[b]);
  subviews_[a]->slot_ = a;
  subviews_[b]->slot_ = b;
}

void View::removeFromSuperview() {
  if (!superview_) return;
  auto keep = weak_from_this().lock();
  Window* oldWindow = window();
  willMoveToSuperview(nullptr);
  propagateWindow(oldWindow, nullptr, true);
  if (Responder* fr = Responder::currentFirstResponder()) {
    if (auto* v = dynamic_cast<View*>(fr); v && v->isDescendantOfView(this)) fr->resignFirstResponder();
  }
  detachFromSuperview();
  propagateWindow(oldWindow, nullptr, false);
  didMoveToSuperview();
}

bool View::isDescendantOfView(const View* view) const {
  for (const View* v = this; v; v = v->superview_) {
    if (v == view) return true;
  }
  return false;
}

// ----- layout and display -----

void View::setNeedsLayout() {
  needsLayout_ = true;
  scheduleLayoutPass();
}

void View::scheduleLayoutPass() { Window::scheduleLayoutPass(); }

void View::layoutIfNeeded() { layoutSubtree(); }

void View::layoutSubtree() {
  if (needsLayout_) {
    needsLayout_ = false;
    layoutSubviews();
  }
  // Layout may add or remove subviews: walk a copy.
  auto subs = subviews();
  for (auto& sub : subs) {
    if (sub->superview_ == this) sub->layoutSubtree();
  }
}

void View::setNeedsDisplay() {
  needsDisplay_ = true;
  scheduleLayoutPass();
}

void View::displayIfNeeded() {
  if (needsDisplay_) display();
}

void View::display() {
  needsDisplay_ = false;
  auto context = std::make_shared<RecordingContext>();
  pushGraphicsContext(context);
  try {
    drawRect(bounds_);
  } catch (...) {
    popGraphicsContext();
    throw;
  }
  popGraphicsContext();
  context->shrinkToFit();
  lastDrawing_ = context;
}

void View::displaySubtree() {
  displayIfNeeded();
  auto subs = subviews();
  for (auto& sub : subs) sub->displaySubtree();
}

void View::sizeToFit() {
  // The frame keeps its top-left corner.
  Size s = sizeThatFits(bounds_.size);
  Rect f = frame();
  setBounds(Rect(bounds_.origin, s));
  if (layer_->transform().isIdentity()) center_ = Point{f.origin.x + s.width / 2, f.origin.y + s.height / 2};
}

// ----- hit testing and conversion -----

bool View::pointInside(Point p, const Event*) const {
  return p.x >= bounds_.minX() && p.x < bounds_.maxX() && p.y >= bounds_.minY() && p.y < bounds_.maxY();
}

std::shared_ptr<View> View::hitTest(Point p, const Event* event) {
  if (hidden_ || !interaction_ || alpha_ < 0.01) return nullptr;
  if (!pointInside(p, event)) return nullptr;
  subviews();  // no holes to step over
  for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
    auto sub = *it;
    if (!sub) continue;
    if (auto hit = sub->hitTest(sub->fromSuperview(p), event)) return hit;
  }
  return std::static_pointer_cast<View>(shared_from_this());
}

Point View::toSuperview(Point p) const {
  Point local{p.x - (bounds_.origin.x + bounds_.size.width / 2), p.y - (bounds_.origin.y + bounds_.size.height / 2)};
  const Transform3D& t = layer_->transform();
  if (!t.isIdentity()) local = t.isAffine() ? t.affine().apply(local) : t.apply(local);
  return Point{center_.x + local.x, center_.y + local.y};
}

Point View::fromSuperview(Point p) const {
  Point local{p.x - center_.x, p.y - center_.y};
  const Transform3D& t = layer_->transform();
  if (!t.isIdentity()) local = t.affine().inverted().apply(local);
  return Point{local.x + bounds_.origin.x + bounds_.size.width / 2, local.y + bounds_.origin.y + bounds_.size.height / 2};
}

Point View::convertPointToView(Point p, const View* view) const {
  // Up to the root, then down to the target.
  const View* root = this;
  for (const View* v = this; v->superview_; v = v->superview_) {
    p = v->toSuperview(p);
    root = v->superview_;
  }
  if (!view) return p;
  std::vector<const View*> chain;
  for (const View* v = view; v && v != root; v = v->superview_) chain.push_back(v);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) p = (*it)->fromSuperview(p);
  return p;
}

Point View::convertPointFromView(Point p, const View* view) const {
  if (view) return view->convertPointToView(p, this);
  // From window coordinates.
  std::vector<const View*> chain;
  for (const View* v = this; v->superview_; v = v->superview_) chain.push_back(v);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) p = (*it)->fromSuperview(p);
  return p;
}

Rect View::convertRectToView(const Rect& r, const View* view) const {
  Point pts[4] = {{r.minX(), r.minY()}, {r.maxX(), r.minY()}, {r.minX(), r.maxY()}, {r.maxX(), r.maxY()}};
  double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
  for (auto c : pts) {
    Point q = convertPointToView(c, view);
    minX = std::min(minX, q.x);
    minY = std::min(minY, q.y);
    maxX = std::max(maxX, q.x);
    maxY = std::max(maxY, q.y);
  }
  return Rect(minX, minY, maxX - minX, maxY - minY);
}

Rect View::convertRectFromView(const Rect& r, const View* view) const {
  Point pts[4] = {{r.minX(), r.minY()}, {r.maxX(), r.minY()}, {r.minX(), r.maxY()}, {r.maxX(), r.maxY()}};
  double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
  for (auto c : pts) {
    Point q = convertPointFromView(c, view);
    minX = std::min(minX, q.x);
    minY = std::min(minY, q.y);
    maxX = std::max(maxX, q.x);
    maxY = std::max(maxY, q.y);
  }
  return Rect(minX, minY, maxX - minX, maxY - minY);
}

// ----- responder chain -----

Responder* View::nextResponder() const {
  if (controller_) return controller_;
  return superview_;
}

ViewController* View::enclosingViewController() const {
  for (Responder* r = nextResponder(); r; r = r->nextResponder()) {
    if (auto* vc = dynamic_cast<ViewController*>(r)) return vc;
  }
  return nullptr;
}

bool View::endEditing(bool force) {
  Responder* fr = Responder::currentFirstResponder();
  auto* v = dynamic_cast<View*>(fr);
  if (!v || !v->isDescendantOfView(this)) return true;
  if (force) {
    bool ok = fr->resignFirstResponder();
    return ok;
  }
  return fr->resignFirstResponder();
}

// ----- gesture recognizers -----

void View::addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& gr) {
  if (!gr) return;
  if (gr->view_ == this) return;
  if (gr->view_) gr->view_->removeGestureRecognizer(gr.get());
  gr->view_ = this;
  recognizers_.push_back(gr);
}

void View::removeGestureRecognizer(const GestureRecognizer* gr) {
  auto it = std::find_if(recognizers_.begin(), recognizers_.end(), [&](const auto& g) { return g.get() == gr; });
  if (it == recognizers_.end()) return;
  (*it)->view_ = nullptr;
  recognizers_.erase(it);
}

// ----- rendering -----

void View::renderHierarchy(GraphicsContext& context) {
  context.saveState();
  context.translateCTM(-bounds_.origin.x, -bounds_.origin.y);
  Rect b = bounds_;
  if (background_ && background_->a > 0) {
    context.setFillColor(*background_);
    context.fillRect(b);
  }
  drawRect(b);
  for (auto& sub : layer_->sublayers()) sub->renderInContext(context);
  if (clips_) context.clipToRect(b);
  auto subs = subviews();
  for (auto& sub : subs) sub->renderInto(context);
  if (layer_->borderWidth() > 0 && layer_->borderColor() && layer_->borderColor()->a > 0) {
    context.setStrokeColor(*layer_->borderColor());
    context.setLineWidth(layer_->borderWidth());
    context.strokeRect(b.insetBy(layer_->borderWidth() / 2, layer_->borderWidth() / 2));
  }
  context.restoreState();
}

void View::renderInto(GraphicsContext& context) {
  if (hidden_ || alpha_ < 0.01) return;
  context.saveState();
  context.translateCTM(center_.x, center_.y);
  const Transform3D& t = layer_->transform();
  if (!t.isIdentity()) context.concatCTM(t.affine());
  context.translateCTM(-bounds_.size.width / 2, -bounds_.size.height / 2);
  if (alpha_ < 1) context.setAlpha(context.state().alpha * alpha_);
  renderHierarchy(context);
  context.restoreState();
}

// ----- layer -----

Rect Layer::frame() const { return view_ ? view_->frame() : frame_; }

void Layer::setFrame(const Rect& f) {
  if (view_) view_->setFrame(f);
  else frame_ = f;
}

Rect Layer::bounds() const { return view_ ? view_->bounds() : Rect(Point{}, frame_.size); }

void Layer::setTransform(const Transform3D& t) { transform_ = t; }

double Layer::opacity() const { return view_ ? view_->alpha() : opacity_; }

void Layer::setOpacity(double o) {
  if (view_) view_->setAlpha(o);
  else opacity_ = o;
}

bool Layer::isHidden() const { return view_ ? view_->isHidden() : hidden_; }

void Layer::setHidden(bool h) {
  if (view_) view_->setHidden(h);
  else hidden_ = h;
}

bool Layer::masksToBounds() const { return view_ ? view_->clipsToBounds() : masks_; }

void Layer::setMasksToBounds(bool m) {
  if (view_) view_->setClipsToBounds(m);
  else masks_ = m;
}

void Layer::addSublayer(std::shared_ptr<Layer> layer) {
  if (!layer || layer.get() == this) return;
  layer->removeFromSuperlayer();
  layer->superlayer_ = this;
  sublayers_.push_back(std::move(layer));
}

void Layer::removeFromSuperlayer() {
  if (!superlayer_) return;
  auto& list = superlayer_->sublayers_;
  auto keep = weak_from_this().lock();
  list.erase(std::remove_if(list.begin(), list.end(), [this](const auto& l) { return l.get() == this; }), list.end());
  superlayer_ = nullptr;
}

void Layer::renderInContext(GraphicsContext& context) const {
  if (view_) {
    view_->renderHierarchy(context);
    return;
  }
  renderPlain(context);
}

void Layer::renderPlain(GraphicsContext& context) const {
  if (hidden_ || opacity_ < 0.01) return;
  context.saveState();
  context.translateCTM(frame_.midX(), frame_.midY());
  if (!transform_.isIdentity()) context.concatCTM(transform_.affine());
  context.translateCTM(-frame_.size.width / 2, -frame_.size.height / 2);
  if (opacity_ < 1) context.setAlpha(context.state().alpha * opacity_);
  Rect b(0, 0, frame_.size.width, frame_.size.height);
  if (contents_) {
    Rect r = b;
    Size s = contents_->size();
    if (gravity_ != kLayerGravityResize && s.width > 0 && s.height > 0) {
      double k = gravity_ == kLayerGravityCenter ? 1
                 : gravity_ == kLayerGravityResizeAspect ? std::min(b.size.width / s.width, b.size.height / s.height)
                                                         : std::max(b.size.width / s.width, b.size.height / s.height);
      r = Rect((b.size.width - s.width * k) / 2, (b.size.height - s.height * k) / 2, s.width * k, s.height * k);
    }
    context.drawImage(contents_, r);
  }
  for (auto& sub : sublayers_) sub->renderPlain(context);
  context.restoreState();
}

namespace {
struct TransactionState {
  int depth = 0;
  double duration = 0.25;
  bool disableActions = false;
};
TransactionState& transaction() {
  static TransactionState s;
  return s;
}
}  // namespace

void LayerTransaction::begin() { ++transaction().depth; }
void LayerTransaction::commit() {
  auto& t = transaction();
  if (t.depth > 0 && --t.depth == 0) {
    t.duration = 0.25;
    t.disableActions = false;
  }
}
void LayerTransaction::setAnimationDuration(double s) { transaction().duration = s; }
double LayerTransaction::animationDuration() { return transaction().duration; }
void LayerTransaction::setDisableActions(bool d) { transaction().disableActions = d; }
bool LayerTransaction::disableActions() { return transaction().disableActions; }

// ----- animations -----

namespace {
struct PendingAnimation {
  std::string name;
  double duration = 0.2;
  double delay = 0;
  unsigned options = 0;
  View::CompletionBlock didStop;
};
struct AnimationState {
  std::vector<AnimationRecord> log;
  std::vector<PendingAnimation> open;  // beginAnimations nesting
  int blockDepth = 0;
  std::size_t underWay = 0;
  bool enabled = true;
};
AnimationState& animations() {
  static AnimationState s;
  return s;
}

void scheduleCompletion(std::uint64_t id, double after, View::CompletionBlock completion) {
  auto loop = RunLoop::main();
  // Counted until the completion runs, or until it is dropped unrun (a loop torn down).
  struct UnderWay {
    bool counted = true;
    UnderWay() { ++animations().underWay; }
    ~UnderWay() { end(); }
    void end() {
      if (counted && animations().underWay > 0) --animations().underWay;
      counted = false;
    }
  };
  auto underWay = std::make_shared<UnderWay>();
  auto finish = [id, underWay, completion = std::move(completion)]() {
    underWay->end();
    // Newest first: an animation ending is most often one of the last begun.
    auto& log = animations().log;
    for (auto r = log.rbegin(); r != log.rend(); ++r) {
      if (r->id != id) continue;
      r->completed = true;
      break;
    }
    if (completion) completion(true);
  };
  if (after <= 0) {
    loop->post(finish);
    return;
  }
  Timer::scheduled(*loop, after, false, [finish](Timer&) { finish(); });
}

std::uint64_t record(std::string name, double duration, double delay, unsigned options) {
  static std::uint64_t nextId = 1;
  AnimationRecord r;
  r.id = nextId++;
  r.name = std::move(name);
  r.duration = duration;
  r.delay = delay;
  r.options = options;
  r.startTime = Clock::monotonic();
  // A program that runs for long animates without end: past twice the bound, the oldest go at
  // once, so each record costs its moving once.
  auto& log = animations().log;
  if (log.size() >= 2 * View::kKeptAnimationRecords)
    log.erase(log.begin(), log.end() - static_cast<std::ptrdiff_t>(View::kKeptAnimationRecords));
  log.push_back(std::move(r));
  return log.back().id;
}
}  // namespace

void View::animate(double duration, double delay, unsigned options, const AnimationBlock& block,
                   CompletionBlock completion) {
  auto& s = animations();
  std::uint64_t index = record("", duration, delay, options);
  ++s.blockDepth;
  try {
    if (block) block();
  } catch (...) {
    --s.blockDepth;
    throw;
  }
  --s.blockDepth;
  double total = s.enabled ? std::max(0.0, duration) + std::max(0.0, delay) : 0;
  scheduleCompletion(index, total, std::move(completion));
}

void View::animate(double duration, const AnimationBlock& block, CompletionBlock completion) {
  animate(duration, 0, kViewAnimationOptionNone, block, std::move(completion));
}

void View::beginAnimations(std::string name) {
  PendingAnimation p;
  p.name = std::move(name);
  animations().open.push_back(std::move(p));
  ++animations().blockDepth;
}

void View::setAnimationDuration(double s) {
  if (!animations().open.empty()) animations().open.back().duration = s;
}
void View::setAnimationDelay(double s) {
  if (!animations().open.empty()) animations().open.back().delay = s;
}
void View::setAnimationCurve(ViewAnimationCurve c) {
  if (!animations().open.empty()) animations().open.back().options = static_cast<unsigned>(c) << 16;
}
void View::setAnimationDidStop(CompletionBlock h) {
  if (!animations().open.empty()) animations().open.back().didStop = std::move(h);
}

void View::commitAnimations() {
  auto& s = animations();
  if (s.open.empty()) return;
  PendingAnimation p = std::move(s.open.back());
  s.open.pop_back();
  --s.blockDepth;
  std::uint64_t index = record(p.name, p.duration, p.delay, p.options);
  double total = s.enabled ? std::max(0.0, p.duration) + std::max(0.0, p.delay) : 0;
  scheduleCompletion(index, total, std::move(p.didStop));
}

void View::setAnimationsEnabled(bool e) { animations().enabled = e; }
bool View::areAnimationsEnabled() { return animations().enabled; }
const std::vector<AnimationRecord>& View::animationLog() { return animations().log; }
void View::clearAnimationLog() { animations().log.clear(); }
bool View::isAnimating() { return animations().blockDepth > 0; }
std::size_t View::animationsUnderWay() { return animations().underWay; }

}  // namespace os
