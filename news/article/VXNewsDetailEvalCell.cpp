#include "news/article/VXNewsDetailEvalCell.h"

#include "news/api/VXDiggAndBuryRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/article/VXNewsDetailEvalDO.h"
#include "news/store/VXNewsConfig.h"
#include "os/core/String.h"
#include "os/views/NamedImage.h"
#include "os/views/Screen.h"
#include "os/views/TableView.h"
#include "os/views/ViewController.h"

VXNewsDetailEvalCell::VXNewsDetailEvalCell(const std::string& identifier, const std::shared_ptr<VXReaderContext>& context)
    : VXNewsDetailBaseCell(identifier, context) {
  diggButton_ = makeButton("detail_digg", "detail_digg_press");
  buryButton_ = makeButton("detail_bury", "detail_bury_press");
  // Their titles are the counts; the pictures say which way they vote.
  diggButton_->setAccessibilityLabel("顶");
  buryButton_->setAccessibilityLabel("踩");
}

std::shared_ptr<os::Button> VXNewsDetailEvalCell::makeButton(const std::string& image, const std::string& pressed) {
  auto button = os::Button::buttonWithType(os::ButtonType::Custom);
  button->setBackgroundImage(os::imageNamed("common_button"), os::kControlStateNormal);
  button->setImage(os::imageNamed(image), os::kControlStateNormal);
  button->setImage(os::imageNamed(pressed), os::kControlStateSelected);
  button->setImageEdgeInsets(os::EdgeInsets{0, -20, 0, 0});
  button->setTitleColor(os::Color::withWhite(181.0 / 255), os::kControlStateNormal);
  button->setTitleColor(os::Color::red(), os::kControlStateSelected);
  button->addTarget(
      this, [this](os::Control& sender) { buttonClick(static_cast<os::Button&>(sender)); },
      os::kControlEventTouchUpInside);
  contentView()->addSubview(button);
  return button;
}

void VXNewsDetailEvalCell::fill(const VXNewsDetailDO& row) {
  const auto* eval = dynamic_cast<const VXNewsDetailEvalDO*>(&row);
  if (!eval) return;
  // Selects but never clears: a screen holds one vote row, and a vote is never taken back.
  if (eval->flag() == VXNewsDetailEvalDO::kVotedUp) diggButton_->setSelected(true);
  if (eval->flag() == VXNewsDetailEvalDO::kVotedDown) buryButton_->setSelected(true);
  diggButton_->setTitle(os::format("%d", eval->diggCount()), os::kControlStateNormal);
  buryButton_->setTitle(os::format("%d", eval->buryCount()), os::kControlStateNormal);
  contentView()->setFrame(os::Rect{0, 0, os::Screen::main().bounds().size.width, VXNewsDetailEvalDO::kHeight});
}

void VXNewsDetailEvalCell::layoutSubviews() {
  VXNewsDetailBaseCell::layoutSubviews();
  double m = textStyle()->detailInterval();
  double w = bounds().size.width;
  diggButton_->setFrame(os::Rect{m, kButtonTop, kButtonWidth, kButtonHeight});
  buryButton_->setFrame(os::Rect{w - m - kButtonWidth, kButtonTop, kButtonWidth, kButtonHeight});
}

std::shared_ptr<os::View> VXNewsDetailEvalCell::hudView() {
  for (os::View* v = superviewPtr(); v; v = v->superviewPtr()) {
    if (dynamic_cast<os::TableView*>(v)) return std::static_pointer_cast<os::View>(v->shared_from_this());
  }
  return std::static_pointer_cast<os::View>(shared_from_this());
}

os::ViewController* VXNewsDetailEvalCell::prarentViewController() const {
  for (os::Responder* r = nextResponder(); r; r = r->nextResponder()) {
    if (auto* controller = dynamic_cast<os::ViewController*>(r)) return controller;
  }
  return nullptr;
}

void VXNewsDetailEvalCell::setViewControllerListData(std::int32_t flag, std::int32_t count) {
  auto* owner = dynamic_cast<VXNewsDetailRowOwner*>(prarentViewController());
  if (!owner) return;
  for (auto& row : owner->rowList()) {
    auto eval = std::dynamic_pointer_cast<VXNewsDetailEvalDO>(row);
    if (!eval || row->type() != kNewsDetailEval) continue;
    eval->setFlag(flag);
    if (flag == VXNewsDetailEvalDO::kVotedUp) {
      eval->setDiggCount(count);
    } else {
      eval->setBuryCount(count);
    }
  }
}

void VXNewsDetailEvalCell::buttonClick(os::Button& sender) {
  auto eval = std::dynamic_pointer_cast<VXNewsDetailEvalDO>(dataObject_);
  auto context = readerContext();
  if (!eval || !context) return;
  if (eval->flag() == VXNewsDetailEvalDO::kVotedUp) {
    VXGlobalHelper::share(*context).showHud("已顶过", hudView(), true);
    return;
  }
  if (eval->flag() == VXNewsDetailEvalDO::kVotedDown) {
    VXGlobalHelper::share(*context).showHud("已踩过", hudView(), true);
    return;
  }
  bool up = &sender == diggButton_.get();
  VXDiggAndBuryRequest request(
      os::Dictionary{{"action", up ? 1 : 2}, {"id", eval->ID()}, {"category", eval->category()}});
  auto weakSelf = std::weak_ptr<VXNewsDetailEvalCell>(
      std::static_pointer_cast<VXNewsDetailEvalCell>(shared_from_this()));
  std::weak_ptr<os::Button> weakButton = up ? diggButton_ : buryButton_;
  VXGlobalHelper::loadWithRequest(
      *context, request, 0,
      [weakSelf, weakButton, eval, up](const std::optional<os::Dictionary>& data) {
        auto self = weakSelf.lock();
        auto button = weakButton.lock();
        if (!self || !button || !data || (*data)["result"].intValue() != 1) return;
        // The new count is the button's own, so it moves by one whatever the server counted.
        long long shown = os::Value(button->titleForState(os::kControlStateNormal).value_or("0")).intValue();
        auto count = static_cast<std::int32_t>(shown + 1);
        button->setSelected(true);
        button->setTitle(os::format("%d", count), os::kControlStateNormal);
        std::int32_t flag = up ? VXNewsDetailEvalDO::kVotedUp : VXNewsDetailEvalDO::kVotedDown;
        eval->setFlag(flag);
        if (up) {
          eval->setDiggCount(count);
        } else {
          eval->setBuryCount(count);
        }
        self->setViewControllerListData(flag, count);
        if (auto context = self->readerContext())
          VXGlobalHelper::share(*context).showHud(up ? "顶成功" : "踩成功", self->hudView(), true);
      },
      [weakSelf] {
        auto self = weakSelf.lock();
        auto context = self ? self->readerContext() : nullptr;
        if (context)
          VXGlobalHelper::share(*context).showHud("网络异常", std::static_pointer_cast<os::View>(self->shared_from_this()),
                                                  true);
      });
}
