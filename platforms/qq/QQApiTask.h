#pragma once
// One-shot tasks of the QQ client that go beyond URL and pasteboard: fetching a link's preview
// image before its share goes out, and asking QQ's server which numbers are online.
//
// One task runs at a time. A task posted while another runs waits its turn rather than being
// dropped (the share that answered "goes out later" must go out); the running slot owns the
// task until it ends, so a task lives exactly as long as its work and its time-out.
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qqconnect_core/requests/VelmoraRequest.h"
#include "platforms/qq/QQApi.h"
#include "platforms/qq/QQApiObject.h"
#include "os/net/URLConnection.h"

namespace os {
class Image;
class Timer;
}

inline constexpr double kQQApiPreviewTimeout = 5.0;

class QQApiTask : public std::enable_shared_from_this<QQApiTask> {
 public:
  virtual ~QQApiTask() = default;
  virtual void cancel() {}
  // Runs the task on the main thread once no other task runs.
  void postOnMainThread();

  static std::shared_ptr<QQApiTask> runningTask();
  static std::size_t waitingTaskCount();

 protected:
  virtual void main() = 0;
  // Frees the slot and starts the next waiting task.
  void finish();

 private:
  void internalMain();
};

// A link share's preview work: one request with a time-out, after which the share is sent
// again, with whatever the request brought or without it.
class QQApiPreviewTask : public QQApiTask, public VelmoraRequestDelegate {
 public:
  ~QQApiPreviewTask() override;
  void requestDidFailWithError(VelmoraRequest& request, const os::Error& error) override;

 protected:
  QQApiURLObject* link() const;
  void start(std::shared_ptr<VelmoraRequest> request);
  void resendShareMessage();

  std::shared_ptr<QQApiMessage> urlMsg_;

 private:
  void onTimeout();
  void dropRequest();

  std::shared_ptr<VelmoraRequest> request_;
  std::shared_ptr<os::Timer> timeout_;
};

// Fetches a link's preview image.
class QQApiTaskDownloadURLObjectPreviewData : public QQApiPreviewTask {
 public:
  static std::shared_ptr<QQApiTaskDownloadURLObjectPreviewData> initWithURLMessage(std::shared_ptr<QQApiMessage> message);
  void requestDidLoadRawResponse(VelmoraRequest& request, const os::Data& data) override;

 protected:
  void main() override;
};

// Uploads a link's preview image (at most 140 x 140, JPEG) and sends its address instead.
class QQApiTaskUploadURLObjectPreviewData : public QQApiPreviewTask {
 public:
  static std::shared_ptr<QQApiTaskUploadURLObjectPreviewData> initWithURLMessage(std::shared_ptr<QQApiMessage> message);
  void requestDidLoad(VelmoraRequest& request, const std::optional<os::Value>& result, const os::Data& data) override;

 protected:
  void main() override;
};

// The image scaled to fill the box: a centred crop, no larger than the maximum sizes. The image
// itself when it fits; nothing for no image or a negative size.
std::shared_ptr<os::Image> UIImageScaleSizeToFill(const std::shared_ptr<os::Image>& image, double maxWidth, double maxHeight);
inline constexpr double kCGIUploadShareImageSizeMax = 140;

// Asks which QQ numbers are online; the delegate hears the answer, an empty one on failure.
class QQApiTaskGetQQUinOnlineStatues : public QQApiTask, public os::URLConnectionDelegate {
 public:
  static std::shared_ptr<QQApiTaskGetQQUinOnlineStatues> initWithQQUins(std::vector<std::string> uins,
                                                                         std::weak_ptr<QQApiInterfaceDelegate> delegate);
  void didReceiveData(os::URLConnection&, const os::Data& data) override;
  void didFinishLoading(os::URLConnection&) override;
  void didFailWithError(os::URLConnection&, const os::Error& error) override;

 protected:
  void main() override;

 private:
  void answer(const os::Dictionary& response);

  std::optional<os::Data> stringData_;
  std::shared_ptr<os::URLConnection> connection_;
  std::vector<std::string> QQUins_;
  std::weak_ptr<QQApiInterfaceDelegate> delegate_;
};
