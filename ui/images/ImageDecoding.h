#pragma once
// From encoded bytes to images ready to draw: format-aware decoding, GIF animation timing, the
// orientation stored in the data, the "@2x." scale rule for cache keys and forced decoding.
//
// The pixels themselves are decoded by os/graphics; this layer decides what to make of them.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "os/core/Data.h"
#include "os/graphics/Geometry.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"

using BNImagePtr = std::shared_ptr<os::Image>;

// The bounds applied to every image that comes from outside (downloads, the disk cache): a
// server's word on sizes and frame counts is not trusted.
os::ImageDecodeLimits BNImageDecodeLimits();

// The scale GIF frames and scaled animations are made at: the main screen's.
double BNImageScreenScale();

// GIFs become animated images; anything else is decoded as a still image carrying the
// orientation stored in the data. Nothing for bytes that do not decode.
BNImagePtr sd_imageWithData(const os::Data& data);
os::ImageOrientation sd_imageOrientationFromImageData(const os::Data& data);
// EXIF orientation 1..8 to the image orientation; anything else is up.
os::ImageOrientation sd_exifOrientationToOrientation(int exifValue);

// Two or more frames give an animated image whose duration is the sum of the frame durations;
// one frame gives a still image.
BNImagePtr sd_animatedGIFWithData(const os::Data& data);
// Seconds frame `index` of a decoded GIF stays on screen: its stated delay, 0.1 when it states
// none or one below 0.011 (players treat such delays as "as fast as possible").
double sd_frameDurationAtIndex(std::size_t index, const os::Image& gif);
// "<name>@2x.gif" on a screen of scale above 1, else "<name>.gif", from the main bundle; the
// bundle's named image when no such file exists.
BNImagePtr sd_animatedGIFNamed(const std::string& name);
// Every frame scaled to fill the size (aspect kept, the overflow cut evenly on both sides).
BNImagePtr sd_animatedImageByScalingAndCroppingToSize(const BNImagePtr& image, os::Size size);

// A still image over a bitmap that is ready to draw, with the input's scale and orientation;
// animated images come back unchanged.
BNImagePtr decodedImageWithImage(const BNImagePtr& image);

// Scale 2 when the key names a double-resolution file ("@2x." followed by an extension of 3 or
// 4 characters at its end), else 1; applied to every frame of an animated image.
BNImagePtr BNScaledImageForKey(std::string_view key, const BNImagePtr& image);

// The pixel size a PNG, GIF or JPEG header states, read from as few bytes as have arrived;
// nothing until the header is complete.
std::optional<std::pair<int, int>> BNImagePixelSizeFromHeader(const os::Data& data);
