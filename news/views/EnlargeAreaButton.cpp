#include "news/views/EnlargeAreaButton.h"

void EnlargeAreaButton::setEnlargeEdgeWithTop(double top, double right, double bottom, double left) {
  margins_ = Margins{top, right, bottom, left};
}

os::Rect EnlargeAreaButton::enlargedRect() const {
  const os::Rect b = bounds();
  if (!margins_) return b;
  const Margins& m = *margins_;
  return os::Rect(b.origin.x - m.left, b.origin.y - m.top, b.size.width + m.left + m.right, b.size.height + m.top + m.bottom);
}

bool EnlargeAreaButton::pointInside(os::Point point, const os::Event* event) const {
  const os::Rect area = enlargedRect();
  if (area == bounds()) return os::Button::pointInside(point, event);
  return point.x >= area.minX() && point.x < area.maxX() && point.y >= area.minY() && point.y < area.maxY();
}
