#include "push/report/DUVHttpRequest.h"

#include <cstdlib>

#include "os/net/HTTPURLResponse.h"
#include "push/report/DUVReportCache.h"
#include "push/report/DUVReportRequest.h"
#include "push/report/DUVReportResponse.h"
#include "push/utilities/DUVLogger.h"

namespace {
std::shared_ptr<DUVLogger> logger() { return DUVClassLogger("DUVHttpRequest"); }

// Only records stamped with a ten-digit second count are kept for a resend.
bool tenDigits(const os::Value& itime) {
  long long value = itime.intValue();
  return value >= 1000000000LL && value <= 9999999999LL;
}
}  // namespace

bool DUVHttpRequest::send(std::shared_ptr<DUVReportRequest> request, std::shared_ptr<DUVReportCache> cache,
                          std::string requestAddress, std::string backUpAddress,
                          std::weak_ptr<DUVHttpRequestDelegate> delegate, bool reachable,
                          std::shared_ptr<DUVHttpRequest>* made) {
  auto urlRequest = request->generateReportRequest(requestAddress);
  if (!urlRequest) return false;
  auto self = std::make_shared<DUVHttpRequest>(PrivateTag{});
  self->postData_ = std::move(request);
  self->cache_ = std::move(cache);
  self->delegate_ = std::move(delegate);
  self->requestAddress_ = std::move(requestAddress);
  self->backUpAddress_ = std::move(backUpAddress);
  self->request_ = *urlRequest;
  const auto& records = self->postData_->realContents();
  for (std::size_t i = 0; self->postData_->cacheRequestRequired() && i < records.size(); ++i) {
    if (!tenDigits(records[i]["itime"])) {
      logger()->log(DUVLevel::warn(), "report record without a ten-digit itime kept all the same");
    }
    // One key per record, so a refused packet brings back every record, not one of them.
    std::string key = std::to_string(self->postData_->reportFlag()) + "." + std::to_string(i);
    if (self->cache_) self->cache_->addSendingCacheObject(records[i], key);
    self->keys_.push_back(key);
  }
  if (reachable) self->start(self->request_);
  if (made) *made = self;
  return true;
}

void DUVHttpRequest::cancel() {
  if (connection_) connection_->cancel();
  connection_.reset();
  self_.reset();
}

void DUVHttpRequest::start(const os::URLRequest& request) {
  self_ = shared_from_this();
  statusCode_ = 0;
  connection_ = os::URLConnection::create(request, weak_from_this(), true);
}

void DUVHttpRequest::didReceiveResponse(os::URLConnection&, const os::HTTPURLResponse& response) {
  statusCode_ = response.statusCode();
}

void DUVHttpRequest::didFinishLoading(os::URLConnection&) {
  auto keep = std::move(self_);
  postData_->setIsSendRequestLock(false);
  settle(statusCode_);
  if (auto delegate = delegate_.lock()) delegate->didReceivedHttpFeedback(*postData_, statusCode_);
}

void DUVHttpRequest::settle(int status) {
  if (postData_->cacheRequestRequired()) DUVReportResponse(status, cache_, keys_).handleReceipt();
}

void DUVHttpRequest::didFailWithError(os::URLConnection&, const os::Error& error) {
  auto keep = std::move(self_);
  // The send is over: a badge value is no longer locked, so setting it again sends it. One that
  // still answers locked was replaced by a newer value; its late failure changes nothing.
  postData_->setIsSendRequestLock(false);
  if (postData_->isSendRequestLock()) return;
  logger()->logMessage(std::nullopt, "http request failed with:" + networkErrorText(error.code), &DUVLevel::error());
  if (!triedBackup_ && !backUpAddress_.empty() && backUpAddress_ != requestAddress_) {
    triedBackup_ = true;
    os::URLRequest backup = request_;
    backup.setURL(backUpAddress_);
    start(backup);
    return;
  }
  // Both addresses failed (or there is no other one): the records go back to the pending ones,
  // which the timed resend (or the next report) takes in again, so none is sent twice.
  if (cache_)
    for (const auto& key : keys_) cache_->changeSendingObjectFailedForKey(key);
  bool resent = postData_->startDelaySend();
  if (auto delegate = delegate_.lock()) delegate->didNotReceivedFromRequest(*postData_, resent, error);
}

std::string DUVHttpRequest::networkErrorText(long code) {
  switch (code) {
    case -1014: return "请求资源0字节";
    case -1013: return "需要用户验证信息";
    case -1012: return "用户取消验证";
    case -1011: return "错误的服务器响应";
    case -1010: return "跳转到不存在的地址";
    case -1009: return "设备没有连接到网络";
    case -1008: return "请求资源不存在";
    case -1007: return "连接地址跳转过多";
    case -1006: return "DNS解析失败";
    case -1005: return "网络连接丢失";
    case -1004: return "无法连接到主机";
    case -1003: return "找不到主机";
    case -1002: return "不支持的URL";
    case -1001: return "连接超时";
    case -1000: return "错误的URL地址";
    case -999: return "请求被取消";
    case -998: return "未知错误";
    case 1: return "找不到服务器主机";
    case 2: return "主机未知错误";
    default: return std::to_string(code);
  }
}
