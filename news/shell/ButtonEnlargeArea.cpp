#include "news/shell/ButtonEnlargeArea.h"

void setEnlargeEdge(os::Button& button, double edge) { setEnlargeEdgeWithTop(button, edge, edge, edge, edge); }

void setEnlargeEdgeWithTop(os::Button& button, double top, double right, double bottom, double left) {
  button.setTouchAreaMargins(os::EdgeInsets{top, left, bottom, right});
}

os::Rect enlargedRect(const os::Button& button) { return button.touchArea(); }
