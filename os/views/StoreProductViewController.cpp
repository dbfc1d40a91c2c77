#include "os/views/StoreProductViewController.h"

#include <algorithm>
#include <cctype>

#include "os/core/String.h"
#include "os/core/URL.h"
#include "os/net/HTTPURLResponse.h"
#include "os/net/URLConnection.h"
#include "os/net/URLError.h"
#include "os/runtime/RunLoop.h"
#include "os/store/PropertyList.h"
#include "os/views/Button.h"
#include "os/views/Device.h"
#include "os/views/Label.h"
#include "os/views/Screen.h"
#include "os/views/View.h"

namespace os {

namespace {

// A product page is a few lines of text; anything much larger is not one.
constexpr std::size_t kMaxAnswer = 64 * 1024;

Error storeError(long code, const std::string& description) {
  return Error::withDescription(kStoreProductErrorDomain, code, description);
}

bool isItemIdentifier(const std::string& id) {
  return !id.empty() && id.size() <= 32 &&
         std::all_of(id.begin(), id.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

// One product load. It keeps itself alive until its completion has run, so the caller hears the
// outcome even when the sheet is dismissed and let go meanwhile.
class StoreProductLoad : public URLConnectionDelegate, public std::enable_shared_from_this<StoreProductLoad> {
 public:
  StoreProductLoad(std::weak_ptr<StoreProductViewController> sheet, StoreProductViewController::Completion completion)
      : sheet_(std::move(sheet)), completion_(std::move(completion)) {}

  void start(const std::string& itemId) {
    self_ = shared_from_this();
    const std::string& store = Device::current().profile().storeURL;
    if (store.empty()) return failLater(storeError(kStoreProductErrorNoStore, "no store service on this device"));
    if (!isItemIdentifier(itemId)) return failLater(storeError(kStoreProductErrorUnknownItem, "not a store item identifier: " + itemId));
    std::string base = store;
    while (!base.empty() && base.back() == '/') base.pop_back();
    auto url = URL::parse(base + "/products/" + itemId);
    if (!url || (url->scheme() != "http" && url->scheme() != "https"))
      return failLater(storeError(kStoreProductErrorNoStore, "not a store service address: " + store));
    connection_ = URLConnection::create(URLRequest(url->absoluteString()), std::weak_ptr<URLConnectionDelegate>(self_), false);
    connection_->scheduleInRunLoop(RunLoop::main());
    connection_->start();
  }

  // Ends the load now, as cancelled (a newer load replaces it).
  void cancel() {
    if (connection_) connection_->cancel();
    finish(nullptr, storeError(kURLErrorCancelled, "cancelled"));
  }

  void didReceiveResponse(URLConnection&, const HTTPURLResponse& response) override {
    status_ = response.statusCode();
    body_.clear();
  }
  void didReceiveData(URLConnection& connection, const Data& data) override {
    if (body_.size() + data.size() > kMaxAnswer) {
      connection.cancel();
      return finish(nullptr, storeError(kStoreProductErrorBadAnswer, "the store's answer is too large"));
    }
    body_.insert(body_.end(), data.begin(), data.end());
  }
  void didFinishLoading(URLConnection&) override {
    if (status_ == 404) return finish(nullptr, storeError(kStoreProductErrorUnknownItem, "the store has no such product"));
    if (status_ != 200) return finish(nullptr, storeError(kStoreProductErrorBadAnswer, "the store answered " + std::to_string(status_)));
    auto answer = PropertyList::read(body_);
    const Dictionary* product = answer ? answer->dictionary() : nullptr;
    const std::string* name = product ? (*product)["name"].string() : nullptr;
    if (!name || name->empty()) return finish(nullptr, storeError(kStoreProductErrorBadAnswer, "the store's answer names no product"));
    finish(product, {});
  }
  void didFailWithError(URLConnection&, const Error& error) override { finish(nullptr, error); }

 private:
  void failLater(Error error) {
    std::weak_ptr<StoreProductLoad> weak = self_;
    RunLoop::main()->post([weak, error] {
      if (auto load = weak.lock()) load->finish(nullptr, error);
    });
  }

  void finish(const Dictionary* product, const Error& error) {
    auto keep = std::move(self_);
    if (!keep) return;  // finished already
    connection_.reset();
    auto sheet = sheet_.lock();
    if (sheet && sheet->load_ == keep) {
      sheet->load_.reset();
      if (product) sheet->loaded(*product);
    }
    auto completion = std::move(completion_);
    if (completion) completion(product != nullptr, product ? nullptr : &error);
  }

  std::weak_ptr<StoreProductViewController> sheet_;
  StoreProductViewController::Completion completion_;
  std::shared_ptr<StoreProductLoad> self_;
  std::shared_ptr<URLConnection> connection_;
  int status_ = 0;
  Data body_;
};

StoreProductViewController::StoreProductViewController() = default;

StoreProductViewController::~StoreProductViewController() = default;

void StoreProductViewController::loadProductWithParameters(const Dictionary& parameters, Completion completion) {
  if (auto earlier = std::move(load_)) earlier->cancel();
  const std::string* id = parameters[kStoreProductParameterItemIdentifier].string();
  auto self = std::static_pointer_cast<StoreProductViewController>(shared_from_this());
  load_ = std::make_shared<StoreProductLoad>(self, std::move(completion));
  load_->start(id ? *id : std::string());
}

void StoreProductViewController::loaded(const Dictionary& product) {
  name_ = product["name"].stringOr();
  summary_ = product["summary"].stringOr();
  show();
}

void StoreProductViewController::done() {
  if (auto d = delegate()) d->productViewControllerDidFinish(*this);
}

void StoreProductViewController::loadView() {
  Rect bounds = Screen::main().bounds();
  auto root = std::make_shared<View>(bounds);
  root->setBackgroundColor(Color::white());
  std::weak_ptr<StoreProductViewController> weak = std::static_pointer_cast<StoreProductViewController>(shared_from_this());
  auto button = Button::buttonWithType(ButtonType::System);
  button->setTitle(kDoneTitle, kControlStateNormal);
  button->setFrame(Rect(bounds.size.width - 80, Screen::kStatusBarHeight, 80, 44));
  button->addTarget(nullptr, [weak](Control&) {
    if (auto self = weak.lock()) self->done();
  }, kControlEventTouchUpInside);
  root->addSubview(button);
  const double top = Screen::kStatusBarHeight + 44 + 12;
  nameLabel_ = std::make_shared<Label>(Rect(15, top, bounds.size.width - 30, 22));
  nameLabel_->setFont(Font::boldSystemFont(18));
  summaryLabel_ = std::make_shared<Label>(Rect(15, top + 30, bounds.size.width - 30, 20));
  summaryLabel_->setFont(Font::systemFont(14));
  summaryLabel_->setNumberOfLines(0);
  root->addSubview(nameLabel_);
  root->addSubview(summaryLabel_);
  setView(root);
  show();
}

void StoreProductViewController::show() {
  if (!nameLabel_) return;
  nameLabel_->setText(name_);
  summaryLabel_->setText(summary_);
  Size fits = summaryLabel_->sizeThatFits(Size{summaryLabel_->frame().size.width, 0});
  Rect frame = summaryLabel_->frame();
  frame.size.height = fits.height;
  summaryLabel_->setFrame(frame);
}

}  // namespace os
