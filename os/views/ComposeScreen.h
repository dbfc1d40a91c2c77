#pragma once
// What the system's compose screens (mail, text message, social post) share: a bar with a cancel
// and a send button over the lines of the message, so a test or the running program can read
// the message on screen and make the user's choice with a tap.
#include <memory>
#include <string>
#include <vector>

#include "os/views/ViewController.h"

namespace os {

class Button;
class Label;

class ComposeScreen : public ViewController {
 public:
  void loadView() override;
  void viewDidLoad() override;

 protected:
  explicit ComposeScreen(std::string sendTitle) : sendTitle_(std::move(sendTitle)) {}
  // The lines shown under the bar ("To: ...", "Subject: ...", the body, the attachments).
  virtual std::vector<std::string> lines() const = 0;
  virtual void cancelTapped() = 0;
  virtual void sendTapped() = 0;
  // Shows the lines again after a change.
  void refresh();

 private:
  std::string sendTitle_;
  std::shared_ptr<View> body_;
};

}  // namespace os
