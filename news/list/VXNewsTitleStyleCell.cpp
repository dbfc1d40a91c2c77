#include "news/list/VXNewsTitleStyleCell.h"

#include <cmath>
#include <cstdio>

#include "foundation/formats/DateUtilities.h"
#include "news/api/VXReaderContext.h"
#include "news/store/VXGlobalDefine.h"
#include "news/store/VXNewsConfig.h"
#include "os/core/Date.h"
#include "os/graphics/Image.h"
#include "os/graphics/TextLayout.h"
#include "os/views/NamedImage.h"
#include "os/views/Screen.h"

namespace {

// Items of this category never show the "hot" badge.
constexpr long long kNoBadgeCategory = 7;


std::shared_ptr<os::Label> makeNoteLabel(const VXNewsConfig& config) {
  auto label = std::make_shared<os::Label>();
  label->setBackgroundColor(os::Color::clear());
  label->setTextColor(config.noteColor());
  label->setFont(config.cellNoteFont());
  return label;
}

}  // namespace

bool VXNewsTitleStyleCell::isRead(long long id) const {
  auto context = readerContext();
  if (!context) return false;
  auto lookup = context->readHistory.get();
  return lookup ? lookup(id) : VXGlobalDefine::share(*context)->isNewsHistory(id);
}

void VXNewsTitleStyleCell::setReadHistoryLookup(ReadHistoryLookup lookup) {
  VXReaderContext::current()->readHistory.set(std::move(lookup));
}

VXNewsTitleStyleCell::VXNewsTitleStyleCell(const std::shared_ptr<VXReaderContext>& context, const std::string& identifier)
    : VXNewsStyleCell(identifier, context) {
  auto config = textStyle();
  nameLabel_ = std::make_shared<os::Label>();
  nameLabel_->setBackgroundColor(os::Color::clear());
  nameLabel_->setTextColor(config->titleColor());
  nameLabel_->setNumberOfLines(0);
  nameLabel_->setFont(config->cellTitleFont());
  sourceLabel_ = makeNoteLabel(*config);
  timeLabel_ = makeNoteLabel(*config);
  upmarkView_ = std::make_shared<os::ImageView>();
  upmarkView_->setBackgroundColor(os::Color::clear());
  typeMarkLabel_ = std::make_shared<os::Label>();
  typeMarkLabel_->setBackgroundColor(os::Color::rgba(0, 181.0 / 255, 253.0 / 255, 1));
  typeMarkLabel_->setTextColor(os::Color::white());
  typeMarkLabel_->setTextAlignment(os::TextAlignment::Center);
  typeMarkLabel_->setFont(config->cellNoteFont());
  typeMarkLabel_->setClipsToBounds(true);
  typeMarkLabel_->layer().setCornerRadius(3);
  typeMarkLabel_->setHidden(true);
  for (const std::shared_ptr<os::View>& v : std::initializer_list<std::shared_ptr<os::View>>{
           nameLabel_, sourceLabel_, timeLabel_, upmarkView_, typeMarkLabel_})
    contentView()->addSubview(v);
}

void VXNewsTitleStyleCell::setContent(const std::shared_ptr<VXNewsDO>& item) {
  if (item && !item->height()) item->calHeightByStyle(os::Screen::main().bounds().size.width, *textStyle());
  VXNewsStyleCell::setContent(item);
  dataObject_ = item;
  auto config = textStyle();
  nameLabel_->setText(item ? item->title() : "");
  sourceLabel_->setText(item ? item->source() : "");
  timeLabel_->setText(item ? timeToString() : "");
  nameLabel_->setTextColor(item && isRead(item->ID()) ? os::Color::rgba(0.6, 0.6, 0.6, 1) : config->titleColor());
  std::shared_ptr<os::Image> badge;
  if (item && item->upmark() == "hot" && item->category() != kNoBadgeCategory) badge = os::imageNamed("upmark_hot");
  upmarkView_->setImage(badge);
  if (item && item->type() == "album") {
    typeMarkLabel_->setText("图集");
    typeMarkLabel_->setHidden(false);
  } else {
    typeMarkLabel_->setHidden(true);
  }
  setNeedsLayout();
}

std::string VXNewsTitleStyleCell::relativeTime(long long publishTime, double now) {
  const long long elapsed = static_cast<long long>(now - static_cast<double>(publishTime));
  const long long hours = elapsed / 3600;
  if (hours == 0) {
    const long long minutes = elapsed / 60;
    if (minutes < 10) return "1分钟内";
    return std::to_string(minutes / 10 * 10) + "分钟前";
  }
  const os::Date published = os::Date::fromTimeIntervalSince1970(static_cast<double>(publishTime));
  if (hours >= 1 && hours <= 23 && isEqualToDateIgnoringTime(published, os::Date::fromTimeIntervalSince1970(now))) return std::to_string(hours) + "小时前";
  return stringWithFormat(published, "MM-dd HH:mm");
}

std::string VXNewsTitleStyleCell::timeToString() const {
  if (!dataObject_) return "";
  return relativeTime(dataObject_->time(), os::Date::now().timeIntervalSince1970());
}

double VXNewsTitleStyleCell::titleHeight() const {
  return dataObject_ ? dataObject_->titleHeight().value_or(0) : 0;
}

void VXNewsTitleStyleCell::layoutNoteRow(double y) {
  auto config = textStyle();
  const double w = bounds().size.width;
  const double l1 = config->cellTitleLInterval1();
  const double sourceWidth = os::sizeWithFont(sourceLabel_->text(), sourceLabel_->font()).width;
  sourceLabel_->setFrame(os::Rect{l1, y, sourceWidth, 20});
  typeMarkLabel_->setFrame(os::Rect{l1 + sourceWidth + 10, y, 40, 20});
  const double tw = os::sizeWithFont(timeToString(), config->cellNoteFont()).width;
  timeLabel_->setFrame(os::Rect{w - tw - config->cellTimeInterval(), y, tw, 20});
}

void VXNewsTitleStyleCell::layoutSubviews() {
  VXNewsStyleCell::layoutSubviews();
  auto config = textStyle();
  const double w = bounds().size.width;
  upmarkView_->setFrame(os::Rect{0, 0, 17, 17});
  nameLabel_->setFrame(os::Rect{config->cellTitleLInterval1(), 10,
                                w - config->cellTitleLInterval1() - config->cellTitleRInterval1(), titleHeight()});
  layoutNoteRow(nameLabel_->frame().size.height + 15);
}
