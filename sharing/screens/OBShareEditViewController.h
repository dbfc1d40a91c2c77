#pragma once
// The share editor: the share text (editable, with a character counter), the share picture, and
// a post button that sends the share to the controller service's current platform. With
// synchronous sharing configured it waits for the service's answer before it closes; otherwise
// it closes at once and the post goes on.
#include <memory>
#include <optional>
#include <string>

#include "os/views/TextView.h"
#include "sharing/screens/OBSocialFriendViewController.h"
#include "sharing/screens/OBSocialViewController.h"

namespace os {
class Button;
class ImageView;
class Label;
}  // namespace os

class OBShareEditViewController : public OBSocialViewController,
                                  public OBSGridViewItemClickedDelegate,
                                  public os::TextViewDelegate {
 public:
  using OBSocialViewController::OBSocialViewController;
  std::string className() const override { return "OBShareEditViewController"; }

  void viewDidLoad() override;

  // A friend picked in the picker: " name " is appended to the text.
  void itemClicked(const std::string& text) override;
  // Typing counts down the characters left.
  void textViewDidChange(os::TextView& view) override;
  // Sends the share; false when one is already under way or the text is over the limit.
  bool postShare();
  // Opens the friend picker over the editor (its "@" button, on platforms with friends).
  void showFriends();
  const std::shared_ptr<os::Button>& friendsButton() const { return friendsButton_; }

  std::string text() const;
  void setText(const std::string& text);
  // The characters still free of the platform's 140.
  int remainingCharacters() const;
  bool isPosting() const { return posting_; }

 private:
  void updateCounter();
  // Still on screen, in a navigation controller that is presented or contained.
  bool isUp() const;

  std::optional<std::string> platformName_;
  std::shared_ptr<os::TextView> textView_;
  std::shared_ptr<os::Label> counter_;
  std::shared_ptr<os::ImageView> imageView_;
  std::shared_ptr<os::Button> friendsButton_;
  bool posting_ = false;
};
