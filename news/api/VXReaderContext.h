#pragma once
// What the news client's parts share, built once by the process entry (or by a test) and handed
// to what it makes: where the servers are, the request runner, the news database, the image
// cache, the category list, the application state, the text style, the offline download, the
// side-menu container, the ad, share and article-body helpers, and the routes between screens
// whose folders must not know each other.
//
// The shared accessors (VXNewsDBManager::share() and the like) answer from the current context; a
// member nobody set is made by its own class on first use, in the sandbox current at that moment.
// A test makes a fresh context and makes it current; nothing else is process-wide.
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "news/api/VXRequestConfig.h"

namespace os {
class ViewController;
class Dictionary;
class TableView;
}  // namespace os
class BNImageCache;
class NQSideViewController;
class VXAdHelper;
class VXDetailXMLParseHelper;
class VXGlobalDefine;
class VXGlobalHelper;
class VXNewsCategoryManager;
class VXNewsConfig;
class VXNewsDBManager;
class VXNewsDO;
class VXNewsDetailDO;
class VXOfflineHelper;
class VXShareHelper;
struct VXNewsDetailServices;
struct VXOfflineSaves;

// One shared object of the context: set by whoever builds the context, else made on first use.
template <class T>
class VXContextMember {
 public:
  // The member, made by `make` when nobody set it.
  template <class Make>
  std::shared_ptr<T> get(Make&& make) {
    std::lock_guard lock(mutex_);
    // Made under the lock (a recursive one: making may consult other members, or this one), so
    // two threads asking first never get two objects.
    if (!value_) value_ = make();
    return value_;
  }
  // The member as it is, possibly null.
  std::shared_ptr<T> peek() const {
    std::lock_guard lock(mutex_);
    return value_;
  }
  // Replaces the member (null: made again on the next get); returns the previous one.
  std::shared_ptr<T> set(std::shared_ptr<T> value) {
    std::lock_guard lock(mutex_);
    std::swap(value_, value);
    return value;
  }

 private:
  mutable std::recursive_mutex mutex_;
  std::shared_ptr<T> value_;
};

// A replaceable function of the context (a route or a source), empty until somebody sets it.
template <class F>
class VXContextFunction {
 public:
  std::function<F> get() const {
    std::lock_guard lock(mutex_);
    return value_;
  }
  void set(std::function<F> value) {
    std::lock_guard lock(mutex_);
    value_ = std::move(value);
  }

 private:
  mutable std::mutex mutex_;
  std::function<F> value_;
};

class VXReaderContext : public std::enable_shared_from_this<VXReaderContext> {
 public:
  // The current context; a fresh one is made when none was set.
  static std::shared_ptr<VXReaderContext> current();
  // Makes `context` current (null: a fresh one on the next current()); returns the previous one.
  static std::shared_ptr<VXReaderContext> setCurrent(std::shared_ptr<VXReaderContext> context);

  VXReaderContext() = default;
  explicit VXReaderContext(VXRequestConfig config) : requestConfig_(std::move(config)) {}
  VXReaderContext(const VXReaderContext&) = delete;
  VXReaderContext& operator=(const VXReaderContext&) = delete;

  // The image cache, the process-wide one when nobody set another.
  std::shared_ptr<BNImageCache> images();

  // Where the news and promotion APIs are. Read from any thread.
  VXRequestConfig requestConfig() const {
    std::lock_guard lock(configMutex_);
    return requestConfig_;
  }
  void setRequestConfig(VXRequestConfig config) {
    std::lock_guard lock(configMutex_);
    requestConfig_ = std::move(config);
  }

  VXContextMember<VXGlobalHelper> requestRunner;
  VXContextMember<VXNewsDBManager> database;
  // The picture cache the screens read and the settings measure and clear.
  VXContextMember<BNImageCache> imageCache;
  VXContextMember<VXNewsCategoryManager> categories;
  VXContextMember<VXGlobalDefine> state;
  VXContextMember<VXNewsConfig> textStyle;
  VXContextMember<VXOfflineHelper> offline;
  VXContextMember<NQSideViewController> sideController;
  // The article screen's ad and picture services (see VXNewsDetailViewController).
  VXContextMember<VXNewsDetailServices> articleServices;
  // Offline files being written in the background (see VXOfflineArticleStore).
  VXContextMember<VXOfflineSaves> offlineSaves;
  // Where ad taps go, the article's share action and the article body parser.
  VXContextMember<VXAdHelper> adHelper;
  VXContextMember<VXShareHelper> shareHelper;
  VXContextMember<VXDetailXMLParseHelper> bodyParser;

  // --- routes between screens, filled in by the home screen's wiring ---
  // A tapped news item (a list, the favourites): recorded as read and opened by its type.
  VXContextFunction<void(const std::shared_ptr<VXNewsDO>& item, os::ViewController& from)> openItem;
  // The album screen for an article reference, in place of the reader's own (tests).
  VXContextFunction<std::shared_ptr<os::ViewController>(const os::Dictionary& info)> albumScreen;
  // The picture viewer over an article's picture rows, from the picture at `index`.
  VXContextFunction<void(long index, const std::vector<std::shared_ptr<VXNewsDetailDO>>& images, os::TableView& table,
                         os::ViewController& from)>
      showImages;

  // --- sources a test may replace; empty: the application-wide state answers ---
  // Seconds a category's stored list stays fresh.
  VXContextFunction<double()> refreshInterval;
  // Whether the reader opened the article before.
  VXContextFunction<bool(long long articleID)> readHistory;
  // Where the database's and the text style's failure lines go; empty: the application's log file.
  VXContextFunction<void(std::string_view line)> databaseLog;
  VXContextFunction<void(std::string_view line)> textStyleLog;

 private:
  mutable std::mutex configMutex_;
  VXRequestConfig requestConfig_;
};
