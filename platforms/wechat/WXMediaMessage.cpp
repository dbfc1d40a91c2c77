#include "platforms/wechat/WXMediaMessage.h"

#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"

void WXMediaMessage::setThumbImage(const std::shared_ptr<os::Image>& image) {
  if (!image) return;
  if (auto jpeg = os::encodeJPEG(*image, 0.6)) thumbData_ = std::move(*jpeg);
}
