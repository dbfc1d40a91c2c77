#pragma once
// One platform CGI call described as an object: its URL and method, and its parameters held by
// the object itself, under names the caller chooses. The session sends it and hands the answer
// back through it to the caller's callback.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "qqconnect_core/login/APIResponse.h"
#include "os/core/Value.h"

class APIBase;
class TCAPIRequest;
class VelmoraOAuth;

// Every operation optional; held weakly.
class TCAPIRequestDelegate {
 public:
  virtual ~TCAPIRequestDelegate() = default;
  virtual void cgiRequestDidResponse(TCAPIRequest& request, const std::shared_ptr<APIResponse>& response) {}
};

class TCAPIRequest : public std::enable_shared_from_this<TCAPIRequest> {
 public:
  enum State : std::int32_t { kIdle = 0, kLoading = 1, kCancelled = 2, kAnswered = 3 };
  struct ClassInfo {
    std::string path;
    std::string method;
  };

  static std::shared_ptr<TCAPIRequest> initWithURL(std::string url, std::string method);
  // A request of a family class: the family's base URL with the class's CGI path appended.
  static std::shared_ptr<TCAPIRequest> initWithClass(const std::string& baseURL, const std::string& className,
                                                     const std::string& superclassName);
  // The CGI path and method a class name gives: prefix (the superclass name up to its first "_")
  // + path + "_POST" or "_GET". Nothing for a superclass without "_"; a class name of another
  // shape stops the process.
  static std::optional<ClassInfo> classInfo(const std::string& className, const std::string& superclassName);

  // ---- the parameters ----
  void setObject(const os::Value& value, const std::string& key);
  void removeObjectForKey(const std::string& key);
  std::size_t count() const { return params_.size(); }
  const os::Value& objectForKey(const std::string& key) const { return params_[key]; }
  const os::Dictionary& params() const { return params_; }
  // A parameter by name, as the class's "param_" properties read and write it; null removes.
  const os::Value& param(const std::string& name) const { return params_[name]; }
  void setParam(const std::string& name, const os::Value& value);
  const os::Value& paramUserData() const { return paramUserData_; }
  void setParamUserData(os::Value value);

  // ---- life ----
  // Idle to loading; false for anything but an idle request.
  bool tryLoad();
  // Idle or loading to cancelled: the session forgets the call.
  void cancel();
  void reset();
  void apiBaseDidResponse(APIBase& api, const std::shared_ptr<APIResponse>& response);
  void responseProcess(const std::shared_ptr<APIResponse>& response);
  void attach(std::string requestKey, std::weak_ptr<VelmoraOAuth> session, std::weak_ptr<TCAPIRequestDelegate> callback);

  State state() const { return static_cast<State>(state_.load()); }
  const std::string& apiURL() const { return apiURL_; }
  const std::string& method() const { return method_; }
  const std::optional<std::string>& requestKey() const { return requestKey_; }
  const std::shared_ptr<APIResponse>& response() const { return response_; }

  TCAPIRequest(std::string url, std::string method) : apiURL_(std::move(url)), method_(std::move(method)) {}

 private:
  void store(const std::shared_ptr<APIResponse>& response);

  std::atomic<std::int32_t> state_{kIdle};
  std::string apiURL_;
  std::string method_;
  os::Value paramUserData_;
  os::Dictionary params_;
  std::optional<std::string> requestKey_;
  std::weak_ptr<VelmoraOAuth> session_;
  std::weak_ptr<TCAPIRequestDelegate> callback_;
  std::shared_ptr<APIResponse> response_;
};
