#include "news/store/VXNewsConfig.h"

#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "os/store/UserDefaults.h"

namespace {

void writeLog(std::string_view line) {
  if (auto writer = VXReaderContext::current()->textStyleLog.get())
    writer(line);
  else
    VXGlobalHelper::writeLog(line);
}

}  // namespace

VXNewsConfig::VXNewsConfig()
    : titleColor_(os::Color::fromRGB255(69, 69, 69)),
      bodyColor_(os::Color::fromRGB255(48, 48, 48)),
      noteColor_(os::Color::fromRGB255(188, 188, 188)),
      cellTitleFont_(os::Font::boldSystemFont(18)),
      cellNoteFont_(os::Font::systemFont(14)),
      adTitleFont_(os::Font::systemFont(16)),
      adNoteFont_(os::Font::systemFont(13)) {
  long long stored = 0;
  if (auto defaults = os::UserDefaults::standardUserDefaults()) stored = defaults->integerForKey(kFontSize);
  // A step written by an older build (or edited by hand) outside 1..3 would leave the article
  // without fonts; such a value counts as the default step.
  int step = (stored >= 1 && stored <= 3) ? static_cast<int>(stored) : 2;
  setFontSize(step);
}

std::shared_ptr<VXNewsConfig> VXNewsConfig::share() { return share(*VXReaderContext::current()); }

std::shared_ptr<VXNewsConfig> VXNewsConfig::share(VXReaderContext& context) {
  return context.textStyle.get([] { return std::make_shared<VXNewsConfig>(); });
}

std::shared_ptr<VXNewsConfig> VXNewsConfig::setShared(std::shared_ptr<VXNewsConfig> config) {
  return VXReaderContext::current()->textStyle.set(std::move(config));
}

void VXNewsConfig::setLogWriter(LogWriter writer) { VXReaderContext::current()->textStyleLog.set(std::move(writer)); }

void VXNewsConfig::setFontSize(int step) {
  if (step == 0) {
    writeLog("font size is wrong");
    return;
  }
  if (step == fontSize_) return;
  fontSize_ = step;
  switch (step) {
    case 1:
      detailTitleFont_ = os::Font::boldSystemFont(18);
      detailBodyFont_ = os::Font::systemFont(15);
      detailNoteFont_ = os::Font::systemFont(11);
      break;
    case 2:
      detailTitleFont_ = os::Font::boldSystemFont(20);
      detailBodyFont_ = os::Font::systemFont(18);
      detailNoteFont_ = os::Font::systemFont(11);
      break;
    case 3:
      detailTitleFont_ = os::Font::boldSystemFont(22);
      detailBodyFont_ = os::Font::systemFont(21);
      detailNoteFont_ = os::Font::systemFont(11);
      break;
    default:
      break;  // the fonts of the previous step stay
  }
  if (auto defaults = os::UserDefaults::standardUserDefaults()) defaults->setInteger(step, kFontSize);
}

std::string VXNewsConfig::textWihtFontSize() const {
  switch (fontSize_) {
    case 1:
      return "小";
    case 2:
      return "中";
    case 3:
      return "大";
    default:
      return "";
  }
}
