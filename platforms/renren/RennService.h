#pragma once
// One Renren API call in flight: turns a parameter object into a request, reads the JSON reply
// and tells its delegate on the main thread. RennClient keeps it in its list of pending services
// until the outcome is delivered or the call is cancelled.
#include <memory>
#include <string>

#include "os/core/Error.h"
#include "os/core/Value.h"
#include "platforms/renren/RennHttpRequest.h"
#include "platforms/renren/RennParam.h"

class RennService;

// Both operations are optional. Held weakly.
class RennServiveDelegate {
 public:
  virtual ~RennServiveDelegate() = default;
  // The reply's "response" value (an object, an array or any JSON value).
  virtual void rennServiceRequestSuccessWithResponse(RennService& service, const os::Value& response) {}
  virtual void rennServiceRequestFailWithError(RennService& service, const os::Error& error) {}
};

class RennService : public RennHttpRequestDelegate, public std::enable_shared_from_this<RennService> {
 public:
  // A new service, added to RennClient's pending list.
  static std::shared_ptr<RennService> initWithDelegate(std::weak_ptr<RennServiveDelegate> delegate);
  ~RennService() override;

  std::shared_ptr<RennServiveDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<RennServiveDelegate> d) { delegate_ = std::move(d); }
  bool hasDelegate(const RennServiveDelegate* delegate) const;
  // The parameter's service type, for the caller.
  const std::string& type() const { return type_; }
  void setType(std::string v) { type_ = std::move(v); }
  const std::shared_ptr<RennHttpRequest>& request() const { return request_; }

  // Stops the call; its delegate hears nothing more.
  void clearDelegateAndCancel();
  void sendAsynRequest(const RennParam& param);

  void requestResponseWithData(RennHttpRequest& request, const os::Data& data) override;
  void requestFailWithError(RennHttpRequest& request, const os::Error& error) override;

 private:
  RennService() = default;
  void deliver(const os::Value* response, const os::Error* error);

  std::weak_ptr<RennServiveDelegate> delegate_;
  std::string type_;
  std::shared_ptr<RennHttpRequest> request_;
};
