#include "os/views/ComposeScreen.h"

#include "os/views/Button.h"
#include "os/views/Label.h"
#include "os/views/Screen.h"
#include "os/views/View.h"

namespace os {

void ComposeScreen::loadView() {
  Rect bounds = Screen::main().bounds();
  auto root = std::make_shared<View>(bounds);
  root->setBackgroundColor(Color::white());
  std::weak_ptr<ViewController> weak = std::static_pointer_cast<ViewController>(shared_from_this());
  auto button = [&](const std::string& title, double x, bool send) {
    auto b = Button::buttonWithType(ButtonType::System);
    b->setTitle(title, kControlStateNormal);
    b->setFrame(Rect(x, Screen::kStatusBarHeight, 80, 44));
    b->addTarget(nullptr, [weak, send](Control&) {
      auto self = std::static_pointer_cast<ComposeScreen>(weak.lock());
      if (!self) return;
      if (send) self->sendTapped();
      else self->cancelTapped();
    }, kControlEventTouchUpInside);
    root->addSubview(b);
  };
  button("Cancel", 0, false);
  button(sendTitle_, bounds.size.width - 80, true);
  body_ = std::make_shared<View>(Rect(0, Screen::kStatusBarHeight + 44, bounds.size.width, bounds.size.height - Screen::kStatusBarHeight - 44));
  root->addSubview(body_);
  setView(root);
}

void ComposeScreen::viewDidLoad() { refresh(); }

void ComposeScreen::refresh() {
  if (!body_) return;
  for (auto& sub : std::vector<std::shared_ptr<View>>(body_->subviews())) sub->removeFromSuperview();
  double y = 8;
  const double width = body_->bounds().size.width;
  for (const std::string& line : lines()) {
    auto label = std::make_shared<Label>();
    label->setText(line);
    label->setNumberOfLines(0);
    Size s = label->sizeThatFits(Size{width - 24, 0});
    label->setFrame(Rect(12, y, width - 24, s.height));
    body_->addSubview(label);
    y += s.height + 8;
  }
}

}  // namespace os
