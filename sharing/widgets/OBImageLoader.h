#pragma once
// Pictures by URL for the sharing screens and handlers: one download per URL at a time, finished
// pictures kept in the component's disk cache, and each outcome announced by a notification
// named for the URL. OBImageView shows a placeholder, asks the loader and swaps the picture in.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Data.h"
#include "os/core/Error.h"
#include "os/net/URLConnection.h"
#include "os/runtime/NotificationCenter.h"
#include "os/views/ImageView.h"

namespace os {
class Image;
}

inline constexpr const char* kPRImageLoaderLoaded = "kPRImageLoaderNotificationLoaded-";
inline constexpr const char* kPRImageLoaderLoadFailed = "kPRImageLoaderNotificationLoadFailed-";

class OBImageLoadConnection;

class OBImageLoadConnectionDelegate {
 public:
  virtual ~OBImageLoadConnectionDelegate() = default;
  virtual void imageLoadConnectionDidFinishLoading(OBImageLoadConnection& connection) {}
  virtual void imageLoadConnectionDidFailWithError(OBImageLoadConnection& connection, const os::Error& error) {}
};

class OBImageLoadConnection : public os::URLConnectionDelegate, public std::enable_shared_from_this<OBImageLoadConnection> {
 public:
  OBImageLoadConnection(std::string imageURL, std::weak_ptr<OBImageLoadConnectionDelegate> delegate);
  void start();
  void cancel();

  const std::string& imageURL() const { return imageURL_; }
  const os::Data& responseData() const { return responseData_; }
  double timeoutInterval = 30;
  std::weak_ptr<OBImageLoadConnectionDelegate> delegate;
  bool isCancelled() const { return cancelled_; }
  // Asked for by a caller of the bytes (an animation) rather than of a picture: they are kept as
  // they came, whether or not they decode.
  bool keepsBytes = false;

  void didReceiveResponse(os::URLConnection& connection, const os::HTTPURLResponse& response) override;
  void didReceiveData(os::URLConnection& connection, const os::Data& data) override;
  void didFinishLoading(os::URLConnection& connection) override;
  void didFailWithError(os::URLConnection& connection, const os::Error& error) override;

 private:
  std::string imageURL_;
  os::Data responseData_;
  std::shared_ptr<os::URLConnection> connection_;
  bool cancelled_ = false;
};

// What an observer of the loader hears; the picture is read back with loadedImage().
class OBImageLoaderObserver {
 public:
  virtual ~OBImageLoaderObserver() = default;
  virtual void imageLoaderDidLoad(const os::Notification& notification) {}
  virtual void imageLoaderDidFailToLoad(const os::Notification& notification) {}
};

class OBImageLoader : public OBImageLoadConnectionDelegate, public std::enable_shared_from_this<OBImageLoader> {
 public:
  static std::shared_ptr<OBImageLoader> sharedImageLoader();

  // "PRImageLoader-" and a 64-bit hash of the URL text, stable from run to run (it names files
  // that outlive the process); with a style, the style's hash follows.
  static std::string cacheKey(const std::string& url, const std::optional<std::string>& style = std::nullopt);
  static std::uint64_t stableHash(const std::string& text);

  // The running download of the URL, or a new one started a moment later.
  std::shared_ptr<OBImageLoadConnection> loadImageForURL(const std::string& url);
  void loadImageForURL(const std::string& url, const std::weak_ptr<OBImageLoaderObserver>& observer);
  // The cached picture (expired or not), else a download is started and null returned.
  std::shared_ptr<os::Image> imageForURL(const std::string& url, const std::weak_ptr<OBImageLoaderObserver>& observer);
  // The cached bytes, else a download is started and none returned. In GIF mode that download
  // keeps the bytes as they came; the mode is the download's own, so one call's mode never
  // changes how another URL's download ends. Either way the observer hears "loaded" once the
  // bytes are in the cache (with the picture when they decode), or "failed".
  std::optional<os::Data> dataForURL(const std::string& url, const std::weak_ptr<OBImageLoaderObserver>& observer, bool isGif);
  bool hasLoadedImageURL(const std::string& url) const;
  bool isLoadingImageURL(const std::string& url) const;
  void cancelLoadForURL(const std::string& url);
  void removeObserver(const OBImageLoaderObserver* observer);
  void removeObserver(const OBImageLoaderObserver* observer, const std::string& url);
  void clearCacheForURL(const std::string& url, const std::optional<std::string>& style = std::nullopt);
  double cache_seconds() const { return cacheSeconds_; }
  void setCache_seconds(double seconds);
  // The picture of the last "loaded" notification for the URL, while observers hear it.
  std::shared_ptr<os::Image> loadedImage(const std::string& url) const;

  void imageLoadConnectionDidFinishLoading(OBImageLoadConnection& connection) override;
  void imageLoadConnectionDidFailWithError(OBImageLoadConnection& connection, const os::Error& error) override;

 private:
  void cleanUp(const std::string& url);

  mutable std::mutex connectionsLock_;
  std::map<std::string, std::shared_ptr<OBImageLoadConnection>> currentConnections_;
  std::shared_ptr<const std::map<std::string, std::shared_ptr<OBImageLoadConnection>>> snapshot_ =
      std::make_shared<const std::map<std::string, std::shared_ptr<OBImageLoadConnection>>>();
  std::map<const OBImageLoaderObserver*, std::vector<std::pair<std::string, os::NotificationCenter::ObserverToken>>> observers_;
  std::map<std::string, std::shared_ptr<os::Image>> delivering_;
  double cacheSeconds_ = 604800;
};

class OBImageViewDelegate {
 public:
  virtual ~OBImageViewDelegate() = default;
  virtual void imageViewLoadedImage(class OBImageView& view) {}
  virtual void imageViewFailedToLoadImage(class OBImageView& view, const os::Error& error) {}
};

class OBImageView : public os::ImageView, public OBImageLoaderObserver {
 public:
  explicit OBImageView(std::shared_ptr<os::Image> placeholder, std::weak_ptr<OBImageViewDelegate> delegate = {});
  ~OBImageView() override;
  std::string className() const override { return "OBImageView"; }

  const std::optional<std::string>& imageURL() const { return imageURL_; }
  void setImageURL(const std::optional<std::string>& url);
  void cancelImageLoad();
  void setCacheSecondes(double seconds);

  int status() const { return status_; }  // 0 none, 1 loaded, 2 failed
  bool isCacheImage() const { return isCacheImage_; }
  bool isGif = false;
  std::weak_ptr<OBImageViewDelegate> delegate;

  void imageLoaderDidLoad(const os::Notification& notification) override;
  void imageLoaderDidFailToLoad(const os::Notification& notification) override;

 private:
  std::weak_ptr<OBImageLoaderObserver> selfObserver();

  std::optional<std::string> imageURL_;
  std::shared_ptr<os::Image> placeholderImage_;
  int status_ = 0;
  bool isCacheImage_ = false;
};
