#pragma once
// The rows of the article screen. Each row object knows its type and works out its own height
// from the main screen's width and the text style (VXNewsConfig), every time the table asks, so
// a change of the text size step shows at the next reload.
//   1 text, 2 picture, 3 header (title, source, time), 4 ad, 5 votes.
#include <memory>
#include <string>

#include "os/core/Value.h"

class VXNewsConfig;
class VXReaderContext;

enum VXNewsDetailType : int {
  kNewsDetailText = 1,
  kNewsDetailImage = 2,
  kNewsDetailHeader = 3,
  kNewsDetailAd = 4,
  kNewsDetailEval = 5,
};

class VXNewsDetailDO {
 public:
  explicit VXNewsDetailDO(const os::Dictionary& dict);
  virtual ~VXNewsDetailDO() = default;

  long long type() const { return type_; }
  void setType(long long type) { type_ = type; }
  const std::string& content() const { return content_; }
  void setContent(std::string content) { content_ = std::move(content); }
  double actualHeight() const { return actualHeight_; }
  // The reader context of the screen listing the row, whose text style its height follows (the
  // current context's while none is set).
  void setReaderContext(const std::shared_ptr<VXReaderContext>& context) { context_ = context; }

  // The row's height, also kept in actualHeight(). The base row cannot tell and answers 0.
  virtual double calHeightByType();
  // name = "value" lines, for the log.
  virtual std::string description() const;

  // The content width of an article row: the screen's width less the margin on both sides.
  static double contentWidth();
  static double contentWidth(const VXNewsConfig& style);

 protected:
  std::shared_ptr<VXNewsConfig> textStyle() const;
  static std::string line(const std::string& name, const std::string& value);
  // An entry's text; numbers are written out, other kinds count as absent ("").
  static std::string textOf(const os::Dictionary& dict, std::string_view key);
  static double numberOf(const os::Dictionary& dict, std::string_view key);

  long long type_ = 0;
  std::string content_;
  double actualHeight_ = 0;

 private:
  // Weak: the context holds the side menu, which holds the screen holding this row.
  std::weak_ptr<VXReaderContext> context_;
};

using VXNewsDetailDOPtr = std::shared_ptr<VXNewsDetailDO>;
