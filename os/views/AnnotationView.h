#pragma once
// A map annotation view without a map: the marker a map shows for one annotation, with its image,
// reuse identifier and centre offset. Setting an image sizes the view to it, as on the phone.
#include <memory>
#include <string>

#include "os/graphics/Image.h"
#include "os/views/View.h"

namespace os {

class AnnotationView : public View {
 public:
  explicit AnnotationView(std::string reuseIdentifier = {});
  std::string className() const override { return "AnnotationView"; }

  const std::string& reuseIdentifier() const { return reuseIdentifier_; }
  const std::shared_ptr<Image>& image() const { return image_; }
  // Keeps the centre and takes the image's size in points (none keeps the size).
  void setImage(std::shared_ptr<Image> image);
  Point centerOffset() const { return centerOffset_; }
  void setCenterOffset(Point offset) { centerOffset_ = offset; }

  void drawRect(const Rect& rect) override;
  void describeForDump(std::vector<std::string>& parts) const override;

 private:
  std::string reuseIdentifier_;
  std::shared_ptr<Image> image_;
  Point centerOffset_;
};

}  // namespace os
