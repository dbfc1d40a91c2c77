#include "news/article/VXNewsDetailAdCell.h"

#include <algorithm>

#include "news/article/VXNewsDetailAdDO.h"
#include "news/article/VXNewsDetailImageCell.h"
#include "news/store/VXNewsConfig.h"
#include "os/graphics/GraphicsContext.h"

VXNewsDetailAdCell::VXNewsDetailAdCell(const std::string& identifier, const std::shared_ptr<VXReaderContext>& context)
    : VXNewsDetailBaseCell(identifier, context) {
  auto config = textStyle();
  setSelectionStyle(cellSelectionStyle());
  iconView_ = std::make_shared<os::ImageView>();
  iconView_->setBackgroundColor(os::Color::clear());
  iconView_->layer().setBorderColor(os::Color::clear());
  iconView_->layer().setBorderWidth(1);
  iconView_->setClipsToBounds(true);
  iconView_->layer().setCornerRadius(11);
  titleLabel_ = std::make_shared<os::Label>();
  titleLabel_->setBackgroundColor(os::Color::clear());
  titleLabel_->setFont(config->adTitleFont());
  noteLabel_ = std::make_shared<os::Label>();
  noteLabel_->setBackgroundColor(os::Color::clear());
  noteLabel_->setTextColor(config->noteColor());
  noteLabel_->setFont(config->adNoteFont());
  noteLabel_->setNumberOfLines(0);
  contentView()->addSubview(iconView_);
  contentView()->addSubview(titleLabel_);
  contentView()->addSubview(noteLabel_);
}

void VXNewsDetailAdCell::fill(const VXNewsDetailDO& row) {
  titleLabel_->setText(row.content());
  const auto* ad = dynamic_cast<const VXNewsDetailAdDO*>(&row);
  noteLabel_->setText(ad ? ad->note() : "");
  VXNewsDetailImageCell::loadPicture(iconView_, ad ? ad->iconUrl() : "");
  setNeedsDisplay();
}

void VXNewsDetailAdCell::layoutSubviews() {
  VXNewsDetailBaseCell::layoutSubviews();
  double m = textStyle()->detailInterval();
  iconView_->setFrame(os::Rect{m + 5, 15, 75, 75});
  titleLabel_->setFrame(os::Rect{m + 87.5, 20, 200, 20});
  noteLabel_->setFrame(os::Rect{m + 87.5, 50, 205, 40});
}

void VXNewsDetailAdCell::drawRect(const os::Rect& rect) {
  VXNewsDetailBaseCell::drawRect(rect);
  auto* context = os::currentGraphicsContext();
  if (!context) return;
  double m = textStyle()->detailInterval();
  auto ad = std::dynamic_pointer_cast<VXNewsDetailAdDO>(dataObject_);
  double height = ad ? ad->bodyHeight() : VXNewsDetailAdDO::kBodyHeight;
  double width = rect.size.width - 2 * m;
  if (width <= 0) return;
  context->saveState();
  context->setStrokeColor(os::Color::rgba(1, 0, 0, 1));
  context->setLineWidth(1);
  // The drawing context has no dash pattern, so the frame is stroked as its dashes: 5 on, 5 off,
  // the pattern running on around the corners as a dashed stroke would.
  context->beginPath();
  const os::Point corners[5] = {{m, 10}, {m + width, 10}, {m + width, 10 + height}, {m, 10 + height}, {m, 10}};
  double phase = 0;  // distance into the current on/off period
  for (int side = 0; side < 4; ++side) {
    os::Point a = corners[side], b = corners[side + 1];
    double length = std::abs(b.x - a.x) + std::abs(b.y - a.y);
    double dx = (b.x - a.x) / length, dy = (b.y - a.y) / length;
    double at = 0;
    while (at < length) {
      double period = 2 * kDash;
      bool on = phase < kDash;
      double step = std::min(length - at, (on ? kDash : period) - phase);
      if (on) {
        context->moveTo(a.x + dx * at, a.y + dy * at);
        context->addLineTo(a.x + dx * (at + step), a.y + dy * (at + step));
      }
      at += step;
      phase += step;
      if (phase >= period) phase -= period;
    }
  }
  context->strokePath();
  context->restoreState();
}
