#pragma once
// One HTTP exchange with the Renren API: parameters always in the query string, a photo upload's
// file as the only part of a multipart body, and the stored token as the "Authorization" header
// (Bearer over https, or a MAC signature, which keeps plain http).
//
// Main thread only: the transfer runs in the loader and its events come back on the main run
// loop, so a cancel there is final and nothing reaches the delegate after it.
#include <memory>
#include <optional>
#include <string>

#include "os/core/Error.h"
#include "os/core/URL.h"
#include "os/core/Value.h"
#include "os/net/URLConnection.h"
#include "platforms/renren/RennAccessToken.h"

class RennHttpRequest;

class RennHttpRequestDelegate {
 public:
  virtual ~RennHttpRequestDelegate() = default;
  virtual void requestResponseWithData(RennHttpRequest& request, const os::Data& data) {}
  virtual void requestFailWithError(RennHttpRequest& request, const os::Error& error) {}
};

// The file part of an upload.
struct RennUploadPart {
  std::string name, filename, contentType;
  os::Data data;
};

class RennHttpRequest : public os::URLConnectionDelegate, public std::enable_shared_from_this<RennHttpRequest> {
 public:
  // "http://" + API host + path.
  static std::shared_ptr<RennHttpRequest> initWithPath(const std::string& path, os::Dictionary param);
  static std::shared_ptr<RennHttpRequest> initWithURL(std::optional<os::URL> url, os::Dictionary param);
  RennHttpRequest(std::optional<os::URL> url, os::Dictionary param);

  std::shared_ptr<RennHttpRequestDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<RennHttpRequestDelegate> d) { delegate_ = std::move(d); }
  double timeoutInterval() const { return timeoutInterval_; }
  void setTimeoutInterval(double v) { timeoutInterval_ = v; }
  const std::string& httpMethod() const { return httpMethod_; }
  void setHttpMethod(std::string v) { httpMethod_ = std::move(v); }
  const std::optional<os::URL>& URL() const { return URL_; }
  const os::Dictionary& param() const { return param_; }
  const std::optional<RennUploadPart>& data() const { return data_; }
  void setData(std::optional<RennUploadPart> v) { data_ = std::move(v); }
  const std::string& ua() const { return ua_; }
  void setUa(std::string v) { ua_ = std::move(v); }
  bool isRunning() const { return connection_ != nullptr; }

  // Stops the transfer; nothing reaches the delegate afterwards.
  void clearDelegateAndCancel();
  void buildMultipartFormDataPostBody(os::URLRequest& request) const;
  // The token in the user defaults, as RennClient::accessToken reads it.
  std::optional<RennAccessToken> accessToken() const;
  void addAuthorization(os::URLRequest& request) const;
  void startAsynchronous();

  void didReceiveResponse(os::URLConnection& connection, const os::HTTPURLResponse& response) override;
  void didReceiveData(os::URLConnection& connection, const os::Data& data) override;
  void didFinishLoading(os::URLConnection& connection) override;
  void didFailWithError(os::URLConnection& connection, const os::Error& error) override;

 private:
  void finish();
  void failLater(std::string description);

  std::weak_ptr<RennHttpRequestDelegate> delegate_;
  std::optional<os::URL> URL_;
  os::Dictionary param_;
  std::optional<RennUploadPart> data_;
  std::string httpMethod_ = "GET";
  std::string ua_;
  std::shared_ptr<os::URLConnection> connection_;
  os::Data responseData_;
  double timeoutInterval_ = 30.0;
};
