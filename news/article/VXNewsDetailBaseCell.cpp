#include "news/article/VXNewsDetailBaseCell.h"

#include "os/store/Bundle.h"
#include "os/views/Screen.h"

VXNewsDetailBaseCell::VXNewsDetailBaseCell(const std::string& identifier)
    : os::TableViewCell(os::TableViewCellStyle::Default, identifier) {
  setBackgroundColor(os::Color::clear());
  setSelectionStyle(os::TableViewCellSelectionStyle::None);
}

void VXNewsDetailBaseCell::setContent(VXNewsDetailDOPtr row) {
  dataObject_ = std::move(row);
  if (dataObject_) fill(*dataObject_);
  setNeedsLayout();
}

std::shared_ptr<os::Image> VXNewsDetailBaseCell::bundleImage(const std::string& name) {
  auto bundle = os::Bundle::mainBundle();
  if (!bundle) return nullptr;
  return os::imageNamed(bundle->bundlePath(), name, os::Screen::main().scale());
}
