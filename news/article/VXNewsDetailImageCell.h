#pragma once
#include "news/article/VXNewsDetailBaseCell.h"
#include "os/views/ImageView.h"

// A picture of the body, from the image cache when it is on disk, else loaded over the
// placeholder.
class VXNewsDetailImageCell : public VXNewsDetailBaseCell {
 public:
  VXNewsDetailImageCell(const std::string& identifier, const std::shared_ptr<VXReaderContext>& context);
  std::string className() const override { return "VXNewsDetailImageCell"; }
  const std::shared_ptr<os::ImageView>& imageView() const { return imageView_; }
  void layoutSubviews() override;

  // Shows the picture at the address: at once from the disk cache, else loading it over the
  // placeholder. Shared with the ad cell's icon.
  static void loadPicture(const std::shared_ptr<os::ImageView>& view, const std::string& url);

 protected:
  void fill(const VXNewsDetailDO& row) override;

 private:
  std::shared_ptr<os::ImageView> imageView_;
};
