#pragma once
// One pushed headline waiting to be opened: the notification payload ("aps"."alert" the
// headline, "id" the article, "category", "icon", "type").
#include <memory>

#include "os/core/Value.h"

namespace os {
class ViewController;
}
class VXReaderContext;

class VXAlertMessage {
 public:
  // A message only for a payload with a non-empty headline and non-zero "id" and "category".
  static std::shared_ptr<VXAlertMessage> createMessage(const os::Value& payload);
  explicit VXAlertMessage(os::Dictionary payload) : alertInfo_(std::move(payload)) {}

  const os::Dictionary& alertInfo() const { return alertInfo_; }
  // The headline text.
  std::string alert() const;
  // {"id", "category", "icon"}, ending at the first missing one.
  os::Dictionary articleDict() const;
  // Opens the article (or album) it names from the screen, by its "type", a screen given `context`.
  void pushViewControler(os::ViewController& vc, const std::shared_ptr<VXReaderContext>& context) const;

 private:
  os::Dictionary alertInfo_;
};
