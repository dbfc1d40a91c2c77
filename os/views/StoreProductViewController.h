#pragma once
// The system's store sheet, headless: it shows one product of the store in the application,
// over the screen that presents it, with a done button. The product is loaded by its item
// identifier from the store service the device profile names (`storeURL`):
//   GET <storeURL>/products/<item id>
// answered with a property list dictionary holding at least the product's "name" (and its
// "summary"). Any other answer, an unknown item, a store that cannot be reached or a device
// without one fails the load. The done button tells the delegate, which dismisses the sheet.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "os/core/Error.h"
#include "os/core/Value.h"
#include "os/views/ViewController.h"

namespace os {

class Label;
class StoreProductLoad;
class StoreProductViewController;

// The parameter naming the product to load: its item identifier, a string of digits.
inline constexpr const char* kStoreProductParameterItemIdentifier = "id";

inline constexpr const char* kStoreProductErrorDomain = "os.storeproduct";
enum StoreProductErrorCode : long {
  kStoreProductErrorNoStore = 1,       // the device names no store service
  kStoreProductErrorUnknownItem = 2,   // no such product, or no usable item identifier
  kStoreProductErrorBadAnswer = 3,     // the store answered with something else than a product
};

class StoreProductViewControllerDelegate {
 public:
  virtual ~StoreProductViewControllerDelegate() = default;
  // The done button.
  virtual void productViewControllerDidFinish(StoreProductViewController& controller) {}
};

class StoreProductViewController : public ViewController {
 public:
  static constexpr const char* kDoneTitle = "完成";

  StoreProductViewController();
  ~StoreProductViewController() override;
  std::string className() const override { return "StoreProductViewController"; }

  void setDelegate(std::weak_ptr<StoreProductViewControllerDelegate> delegate) { delegate_ = std::move(delegate); }
  std::shared_ptr<StoreProductViewControllerDelegate> delegate() const { return delegate_.lock(); }

  // Loads the product the parameters name. `completion` runs once, on the main run loop, with
  // whether the product loaded and, when not, why; it runs even when the sheet is gone by then.
  // A load started while another is under way ends the earlier one as cancelled.
  using Completion = std::function<void(bool loaded, const Error* error)>;
  void loadProductWithParameters(const Dictionary& parameters, Completion completion);
  bool isLoading() const { return load_ != nullptr; }
  // The loaded product's name and summary ("" before a load succeeds).
  const std::string& productName() const { return name_; }
  const std::string& productSummary() const { return summary_; }

  // The done button: tells the delegate. Here for the drivers of the screen; taps reach it too.
  void done();

  void loadView() override;

 private:
  friend class StoreProductLoad;
  void loaded(const Dictionary& product);
  void show();

  std::weak_ptr<StoreProductViewControllerDelegate> delegate_;
  std::shared_ptr<StoreProductLoad> load_;
  std::string name_, summary_;
  std::shared_ptr<Label> nameLabel_, summaryLabel_;
};

}  // namespace os
