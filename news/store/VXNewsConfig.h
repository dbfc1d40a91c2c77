#pragma once
// The news client's colours, fonts, margins and list-icon size, and the reader's text size step
// for articles (1 small, 2 medium, 3 large), which survives restarts in the user defaults.
// Used on the main thread.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "os/graphics/Color.h"
#include "os/graphics/Font.h"

// User-defaults key of the text size step.
inline constexpr const char* kFontSize = "kFontSize";

class VXReaderContext;

class VXNewsConfig {
 public:
  using LogWriter = std::function<void(std::string_view line)>;

  // Reads the stored step from the current sandbox's user defaults. A missing step, or one that
  // is not 1, 2 or 3, starts as 2 (any other value would leave the detail fonts unset).
  VXNewsConfig();

  // The shared instance, made on first use.
  static std::shared_ptr<VXNewsConfig> share();
  // The text style of a given context (share() asks the current one).
  static std::shared_ptr<VXNewsConfig> share(VXReaderContext& context);
  // Replaces the shared instance (null: a fresh one is made on the next share()); returns the
  // previous one. For start-up in a new sandbox and for tests.
  static std::shared_ptr<VXNewsConfig> setShared(std::shared_ptr<VXNewsConfig> config);
  // Where "font size is wrong" goes: the application's log file, unless a writer is set in its
  // place (null: back to the log file).
  static void setLogWriter(LogWriter writer);

  const os::Color& titleColor() const { return titleColor_; }
  void setTitleColor(const os::Color& c) { titleColor_ = c; }
  const os::Color& bodyColor() const { return bodyColor_; }
  void setBodyColor(const os::Color& c) { bodyColor_ = c; }
  const os::Color& noteColor() const { return noteColor_; }
  void setNoteColor(const os::Color& c) { noteColor_ = c; }

  const os::Font& cellTitleFont() const { return cellTitleFont_; }
  void setCellTitleFont(const os::Font& f) { cellTitleFont_ = f; }
  const os::Font& cellNoteFont() const { return cellNoteFont_; }
  void setCellNoteFont(const os::Font& f) { cellNoteFont_ = f; }
  const os::Font& detailTitleFont() const { return detailTitleFont_; }
  void setDetailTitleFont(const os::Font& f) { detailTitleFont_ = f; }
  const os::Font& detailBodyFont() const { return detailBodyFont_; }
  void setDetailBodyFont(const os::Font& f) { detailBodyFont_ = f; }
  const os::Font& detailNoteFont() const { return detailNoteFont_; }
  void setDetailNoteFont(const os::Font& f) { detailNoteFont_ = f; }
  const os::Font& adTitleFont() const { return adTitleFont_; }
  void setAdTitleFont(const os::Font& f) { adTitleFont_ = f; }
  const os::Font& adNoteFont() const { return adNoteFont_; }
  void setAdNoteFont(const os::Font& f) { adNoteFont_ = f; }

  double cellTitleLInterval1() const { return cellTitleLInterval1_; }
  void setCellTitleLInterval1(double v) { cellTitleLInterval1_ = v; }
  double cellTitleRInterval1() const { return cellTitleRInterval1_; }
  void setCellTitleRInterval1(double v) { cellTitleRInterval1_ = v; }
  double cellTitleLInterval2() const { return cellTitleLInterval2_; }
  void setCellTitleLInterval2(double v) { cellTitleLInterval2_ = v; }
  double cellTitleRInterval2() const { return cellTitleRInterval2_; }
  void setCellTitleRInterval2(double v) { cellTitleRInterval2_ = v; }
  double cellTimeInterval() const { return cellTimeInterval_; }
  void setCellTimeInterval(double v) { cellTimeInterval_ = v; }
  double detailInterval() const { return detailInterval_; }
  void setDetailInterval(double v) { detailInterval_ = v; }
  double cellIconWidth() const { return cellIconWidth_; }
  void setCellIconWidth(double v) { cellIconWidth_ = v; }
  double cellIconHeight() const { return cellIconHeight_; }
  void setCellIconHeight(double v) { cellIconHeight_ = v; }

  int fontSize() const { return fontSize_; }
  // 0 is refused with a log line. Another value becomes the step and is stored in the defaults;
  // only 1, 2 and 3 change the detail fonts.
  void setFontSize(int step);

  // "小", "中" or "大" for steps 1 to 3, else "".
  std::string textWihtFontSize() const;

 private:
  os::Color titleColor_;
  os::Color bodyColor_;
  os::Color noteColor_;
  os::Font cellTitleFont_;
  os::Font cellNoteFont_;
  os::Font detailTitleFont_;
  os::Font detailBodyFont_;
  os::Font detailNoteFont_;
  os::Font adTitleFont_;
  os::Font adNoteFont_;
  double cellTitleLInterval1_ = 12;
  double cellTitleRInterval1_ = 12;
  double cellTitleLInterval2_ = 12;
  double cellTitleRInterval2_ = 110;
  double cellTimeInterval_ = 12;
  double detailInterval_ = 12;
  double cellIconWidth_ = 90;
  double cellIconHeight_ = 63;
  int fontSize_ = 0;
};
