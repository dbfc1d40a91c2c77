#pragma once
// A button's touch area grown beyond its frame (the category tabs and the album screen's small
// buttons). A button with margins takes every touch inside the enlarged rectangle, except while
// it is hidden, transparent, disabled or not taking touches.
#include "os/graphics/Geometry.h"
#include "os/views/Button.h"

// The same margin on all four sides.
void setEnlargeEdge(os::Button& button, double edge);
void setEnlargeEdgeWithTop(os::Button& button, double top, double right, double bottom, double left);
// The bounds grown by the margins; the bounds when none are set.
os::Rect enlargedRect(const os::Button& button);
