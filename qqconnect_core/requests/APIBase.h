#pragma once
// One OpenAPI call of the login session: adds the standard parameters to the caller's, runs one
// VelmoraRequest, turns the answer into an APIResponse and hands it to its target.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qqconnect_core/login/APIResponse.h"
#include "qqconnect_core/requests/VelmoraRequest.h"

// The caller's value under this key is not sent: the response carries it back.
inline constexpr const char* PARAM_USER_DATA = "userData";
// The answer of a call that did not bring a non-empty dictionary.
inline constexpr const char* kAPIBaseBadAnswerMessage = "服务器返回内容不正确";

// Whoever receives the results of calls.
class APIBaseTarget {
 public:
  virtual ~APIBaseTarget() = default;
};

// The login session as the calls see it: it keeps the pending calls and decides about
// incremental authorisation.
class APIBaseSession : public APIBaseTarget {
 public:
  // Whether the answer of a call refused for want of the permissions should still reach its
  // receiver.
  virtual bool velmoraNeedPerformIncrAuth(const std::optional<std::string>& reserved,
                                          const std::vector<std::string>& permissions) {
    return true;
  }
  virtual void deleteAPIRequestBySeq(const std::string& seq) {}
};

// Upload progress of a call. Every operation optional; held weakly.
class APIBaseDelegate {
 public:
  virtual ~APIBaseDelegate() = default;
  virtual void apiBaseDidSendBodyData(class APIBase& api, std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                                      std::int64_t totalBytesExpectedToWrite) {}
};

class APIBase : public VelmoraRequestDelegate, public std::enable_shared_from_this<APIBase> {
 public:
  // The operation of the target that receives the response.
  using Selector = std::function<void(APIBaseTarget& target, const std::shared_ptr<APIResponse>& response)>;

  // Takes the next sequence number.
  static std::shared_ptr<APIBase> initWithTarget(std::weak_ptr<APIBaseTarget> target, Selector selector,
                                                 std::string httpMethod, os::Value userData = {},
                                                 std::weak_ptr<APIBaseDelegate> delegate = {});
  ~APIBase() override;

  // Process-wide, from 1001.
  static std::int32_t getApiBaseSeq();

  // Adds "format", the application id, the token and open id (or skey and uin) and the SDK
  // information, then starts the request.
  std::shared_ptr<VelmoraRequest> openUrl(const std::string& url, const std::optional<std::string>& token,
                                          const std::optional<std::string>& openid,
                                          const std::optional<std::string>& appid, VelmoraParams params);
  std::shared_ptr<VelmoraRequest> openUrlBySkey(const std::string& url, const std::optional<std::string>& skey,
                                                const std::optional<std::string>& uin,
                                                const std::optional<std::string>& appid, VelmoraParams params);
  // No callback follows.
  void cancel();

  // The API name: the URL's last path piece ("get_user_info" of ".../user/get_user_info").
  static std::optional<std::string> parsePermissionFromURL(const std::string& url);

  const std::shared_ptr<VelmoraRequest>& request() const { return request_; }
  const std::string& httpMethod() const { return httpMethod_; }
  std::int32_t seq() const { return seq_; }
  // A call that answers for an earlier one (the open id fetch of a web login) takes its number.
  void setSeq(std::int32_t seq) { seq_ = seq; }
  const os::Value& userData() const { return userData_; }
  bool allowProgress() const { return allowProgress_; }
  void setAllowProgress(bool on) { allowProgress_ = on; }

  // VelmoraRequestDelegate
  void requestDidLoad(VelmoraRequest& request, const std::optional<os::Value>& result, const os::Data& data) override;
  void requestDidFailWithError(VelmoraRequest& request, const os::Error& error) override;
  void requestDidSendBodyData(VelmoraRequest& request, std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                              std::int64_t totalBytesExpectedToWrite) override;

 private:
  using Credential = std::pair<std::string, std::optional<std::string>>;
  std::shared_ptr<VelmoraRequest> start(const std::string& url, VelmoraParams params,
                                        const std::vector<Credential>& credentials);

  std::shared_ptr<VelmoraRequest> request_;
  std::string httpMethod_;
  std::weak_ptr<APIBaseTarget> target_;
  Selector selector_;
  std::int32_t seq_ = 0;
  std::weak_ptr<APIBaseDelegate> delegate_;
  os::Value userData_;
  bool allowProgress_ = false;
};
