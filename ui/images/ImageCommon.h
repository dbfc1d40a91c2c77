#pragma once
// Cutting and fitting images.
#include "os/graphics/Geometry.h"
#include "ui/images/ImageDecoding.h"

// The part of the stored bitmap inside a pixel rectangle (origin top left), at scale 1 and
// orientation up; nothing when the rectangle lies wholly outside the bitmap.
BNImagePtr imageClip(const BNImagePtr& image, const os::Rect& pixelRect);
// The image fitted inside a canvas of the size (aspect kept, centred, transparent around), at
// scale 1.
BNImagePtr scaleToSize(const BNImagePtr& image, os::Size size);
// What a view of these bounds shows with the clip option: the top-left part of the image twice
// the bounds in pixels. A view not yet laid out (empty bounds) shows the image whole rather
// than nothing.
BNImagePtr BNImageClippedToViewBounds(const BNImagePtr& image, const os::Rect& bounds);
