#pragma once
// Alerts and action sheets. Both show in an overlay window above the application's windows,
// with one button per title (a button's tag is its index + 1); a tap on a button tells the
// delegate clickedButtonAtIndex, then dismisses: will-dismiss at once, did-dismiss on the next
// turn of the main run loop (as did-present after show). visibleAlertViews() and
// visibleActionSheets() let tests find what is on screen.
//
// Button numbering follows the platform: an alert's cancel button is index 0 and the other
// buttons follow; an action sheet's destructive button comes first, then the other buttons,
// then the cancel button last.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/views/View.h"

namespace os {

class Button;
class Label;
class TextField;
class Window;
class AlertView;
class ActionSheet;

// The part alerts and sheets share: the titles, the buttons and the overlay window.
class AlertBaseView : public View {
 public:
  long numberOfButtons() const { return static_cast<long>(titles_.size()); }
  // Returns the new button's index.
  long addButtonWithTitle(std::string title);
  // Raises os::Exception (range) for an index beyond the buttons.
  std::string buttonTitleAtIndex(long index) const;
  long cancelButtonIndex() const { return cancelIndex_; }
  void setCancelButtonIndex(long index) { cancelIndex_ = index; }
  long firstOtherButtonIndex() const { return firstOtherIndex_; }
  bool isVisible() const { return visible_; }
  // The index of the button with the title, or -1.
  long indexOfButtonWithTitle(const std::string& title) const;
  // The button view of an index (after show), or null.
  std::shared_ptr<Button> buttonAtIndex(long index) const;
  const std::string& title() const { return title_; }
  void setTitle(std::string t) { title_ = std::move(t); }

  void dismissWithClickedButtonIndex(long index, bool animated);
  void describeForDump(std::vector<std::string>& parts) const override;

 protected:
  AlertBaseView() = default;
  void present();
  virtual void buildContent(double width, double& y) {}
  virtual void tellClicked(long index) = 0;
  virtual void tellWillPresent() = 0;
  virtual void tellDidPresent() = 0;
  virtual void tellWillDismiss(long index) = 0;
  virtual void tellDidDismiss(long index) = 0;
  virtual bool sheetLayout() const = 0;
  virtual std::vector<std::shared_ptr<AlertBaseView>>& registry() = 0;
  void buttonTapped(long index);

  std::string title_;
  std::vector<std::string> titles_;
  long cancelIndex_ = -1, firstOtherIndex_ = -1;
  std::vector<std::shared_ptr<Button>> buttons_;
  std::shared_ptr<Window> overlay_;
  bool visible_ = false;
  bool dismissing_ = false;
};

class AlertViewDelegate {
 public:
  virtual ~AlertViewDelegate() = default;
  virtual void clickedButtonAtIndex(AlertView& alert, long buttonIndex) {}
  virtual void alertViewCancel(AlertView& alert) {}
  virtual void willPresentAlertView(AlertView& alert) {}
  virtual void didPresentAlertView(AlertView& alert) {}
  virtual void willDismissWithButtonIndex(AlertView& alert, long buttonIndex) {}
  virtual void didDismissWithButtonIndex(AlertView& alert, long buttonIndex) {}
};

enum class AlertViewStyle { Default = 0, SecureTextInput = 1, PlainTextInput = 2, LoginAndPasswordInput = 3 };

class AlertView : public AlertBaseView {
 public:
  AlertView(std::string title, std::string message, std::weak_ptr<AlertViewDelegate> delegate,
            std::optional<std::string> cancelButtonTitle, std::vector<std::string> otherButtonTitles = {});
  std::string className() const override { return "AlertView"; }

  const std::string& message() const { return message_; }
  void setMessage(std::string m) { message_ = std::move(m); }
  std::shared_ptr<AlertViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<AlertViewDelegate> d) { delegate_ = std::move(d); }
  AlertViewStyle alertViewStyle() const { return style_; }
  void setAlertViewStyle(AlertViewStyle s);
  // Raises os::Exception (range) beyond the style's fields.
  std::shared_ptr<TextField> textFieldAtIndex(long index) const;

  void show();
  // Front last.
  static std::vector<std::shared_ptr<AlertView>> visibleAlertViews();

 protected:
  void buildContent(double width, double& y) override;
  void tellClicked(long index) override;
  void tellWillPresent() override;
  void tellDidPresent() override;
  void tellWillDismiss(long index) override;
  void tellDidDismiss(long index) override;
  bool sheetLayout() const override { return false; }
  std::vector<std::shared_ptr<AlertBaseView>>& registry() override;

 private:
  std::string message_;
  std::weak_ptr<AlertViewDelegate> delegate_;
  AlertViewStyle style_ = AlertViewStyle::Default;
  std::vector<std::shared_ptr<TextField>> fields_;
};

class ActionSheetDelegate {
 public:
  virtual ~ActionSheetDelegate() = default;
  virtual void clickedButtonAtIndex(ActionSheet& sheet, long buttonIndex) {}
  virtual void actionSheetCancel(ActionSheet& sheet) {}
  virtual void willPresentActionSheet(ActionSheet& sheet) {}
  virtual void didPresentActionSheet(ActionSheet& sheet) {}
  virtual void willDismissWithButtonIndex(ActionSheet& sheet, long buttonIndex) {}
  virtual void didDismissWithButtonIndex(ActionSheet& sheet, long buttonIndex) {}
};

enum class ActionSheetStyle { Automatic = -1, Default = 0, BlackTranslucent = 1, BlackOpaque = 2 };

class ActionSheet : public AlertBaseView {
 public:
  ActionSheet(std::string title, std::weak_ptr<ActionSheetDelegate> delegate, std::optional<std::string> cancelButtonTitle,
              std::optional<std::string> destructiveButtonTitle, std::vector<std::string> otherButtonTitles = {});
  std::string className() const override { return "ActionSheet"; }

  std::shared_ptr<ActionSheetDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<ActionSheetDelegate> d) { delegate_ = std::move(d); }
  long destructiveButtonIndex() const { return destructiveIndex_; }
  void setDestructiveButtonIndex(long i) { destructiveIndex_ = i; }
  ActionSheetStyle actionSheetStyle() const { return style_; }
  void setActionSheetStyle(ActionSheetStyle s) { style_ = s; }

  // Every form shows the sheet along the bottom of the screen.
  void showInView(const View& view);
  static std::vector<std::shared_ptr<ActionSheet>> visibleActionSheets();

 protected:
  void tellClicked(long index) override;
  void tellWillPresent() override;
  void tellDidPresent() override;
  void tellWillDismiss(long index) override;
  void tellDidDismiss(long index) override;
  bool sheetLayout() const override { return true; }
  std::vector<std::shared_ptr<AlertBaseView>>& registry() override;

 private:
  std::weak_ptr<ActionSheetDelegate> delegate_;
  long destructiveIndex_ = -1;
  ActionSheetStyle style_ = ActionSheetStyle::Automatic;
};

}  // namespace os
