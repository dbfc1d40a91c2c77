#include "news/article/VXNewsDetailHeaderCell.h"

#include "news/article/VXNewsDetailHeaderDO.h"
#include "news/store/VXNewsConfig.h"
#include "os/graphics/TextLayout.h"

namespace {
std::shared_ptr<os::Label> makeLabel(const os::Color& color) {
  auto label = std::make_shared<os::Label>();
  label->setBackgroundColor(os::Color::clear());
  label->setNumberOfLines(0);
  label->setTextColor(color);
  return label;
}
}  // namespace

VXNewsDetailHeaderCell::VXNewsDetailHeaderCell(const std::string& identifier, const std::shared_ptr<VXReaderContext>& context)
    : VXNewsDetailBaseCell(identifier, context) {
  auto config = textStyle();
  titleLabel_ = makeLabel(config->titleColor());
  sourceLabel_ = makeLabel(config->noteColor());
  timeLabel_ = makeLabel(config->noteColor());
  contentView()->addSubview(titleLabel_);
  contentView()->addSubview(sourceLabel_);
  contentView()->addSubview(timeLabel_);
}

void VXNewsDetailHeaderCell::fill(const VXNewsDetailDO& row) {
  auto config = textStyle();
  titleLabel_->setText(row.content());
  titleLabel_->setFont(config->detailTitleFont());
  const auto* header = dynamic_cast<const VXNewsDetailHeaderDO*>(&row);
  sourceLabel_->setText(header ? header->source() : "");
  timeLabel_->setText(header ? header->displayTime() : "");
  sourceLabel_->setFont(config->detailNoteFont());
  timeLabel_->setFont(config->detailNoteFont());
}

void VXNewsDetailHeaderCell::layoutSubviews() {
  VXNewsDetailBaseCell::layoutSubviews();
  auto config = textStyle();
  double m = config->detailInterval();
  auto header = std::dynamic_pointer_cast<VXNewsDetailHeaderDO>(dataObject_);
  double titleHeight = header ? header->titleHeight() : 0;
  titleLabel_->setFrame(os::Rect{m, 3, bounds().size.width - 2 * m, titleHeight});
  double y = titleHeight + 11;
  os::Size source = os::sizeWithFont(sourceLabel_->text(), config->detailNoteFont());
  os::Size time = os::sizeWithFont(timeLabel_->text(), config->detailNoteFont());
  sourceLabel_->setFrame(os::Rect{m, y, source.width, source.height});
  timeLabel_->setFrame(os::Rect{m + source.width + kSourceTimeGap, y, time.width, time.height});
}
