#pragma once
// The cover over the whole window while the offline download runs: the window's picture dimmed,
// a spinner, the percentage and a cancel button. It closes itself on the run's end (-1).
#include <memory>
#include <string>

#include "news/shell/NQBaseViewController.h"
#include "os/runtime/NotificationCenter.h"

namespace os {
class Button;
class Image;
class Label;
}  // namespace os

class VXReaderContext;

class VXOfflineMaskViewController : public NQBaseViewController {
 public:
  // Tells the application-wide state that a full-screen cover is up. `context`: the reader
  // context whose state and download it drives.
  explicit VXOfflineMaskViewController(std::shared_ptr<os::Image> image,
                                       std::shared_ptr<VXReaderContext> context);
  ~VXOfflineMaskViewController() override;
  std::string className() const override { return "VXOfflineMaskViewController"; }
  // The tag of the cover's view: the running reader tells by it a cover that goes by itself when
  // the download ends from a screen that stays, and prints the percentage as it moves.
  static constexpr int kViewTag = 6984690;

  void viewDidLoad() override;
  const std::shared_ptr<os::Image>& backgroudImage() const { return backgroudImage_; }
  const std::shared_ptr<os::Label>& labelPercent() const { return labelPercent_; }
  const std::shared_ptr<os::Button>& cancelButton() const { return cancelButton_; }

  // The cancel button: ends the run.
  void buttonClick();
  // "fOfflineLoading": -1 closes the screen, any other value shows it as the percentage.
  void msgNotification(const os::Notification& notification);
  static std::string percentText(int percent);

 private:
  void show(int percent);

  // Weak: the context holds the side menu, which leads to this cover.
  std::weak_ptr<VXReaderContext> context_;
  std::shared_ptr<os::Image> backgroudImage_;
  std::shared_ptr<os::Label> labelPercent_;
  std::shared_ptr<os::Button> cancelButton_;
  os::NotificationCenter::ObserverToken observer_ = 0;
  bool closed_ = false;
};
