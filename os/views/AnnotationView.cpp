#include "os/views/AnnotationView.h"

#include "os/graphics/GraphicsContext.h"
#include "os/views/ImageView.h"

namespace os {

AnnotationView::AnnotationView(std::string reuseIdentifier) : reuseIdentifier_(std::move(reuseIdentifier)) {}

void AnnotationView::setImage(std::shared_ptr<Image> image) {
  image_ = std::move(image);
  if (image_) {
    Point c = center();
    Size s = image_->size();
    setBounds(Rect(0, 0, s.width, s.height));
    setCenter(c);
  }
  setNeedsDisplay();
}

void AnnotationView::drawRect(const Rect&) {
  GraphicsContext* context = currentGraphicsContext();
  if (context && image_) context->drawImage(image_, bounds());
}

void AnnotationView::describeForDump(std::vector<std::string>& parts) const {
  if (image_) parts.push_back("image=" + imageDumpName(*image_));
}

}  // namespace os
