#include "push/report/DUVReportResponse.h"

#include "push/report/DUVReportCache.h"
#include "push/utilities/DUVLogger.h"

void DUVReportResponse::deleteContent() {
  if (cache_)
    for (const auto& key : keys_) cache_->removeSendingObjectForKey(key);
}

void DUVReportResponse::saveReportPackage() {
  if (cache_)
    for (const auto& key : keys_) cache_->changeSendingObjectFailedForKey(key);
}

void DUVReportResponse::handleReceipt() {
  auto logger = DUVClassLogger("DUVReportResponse");
  const int status = statusCode();
  const std::string code = std::to_string(status);
  auto error = [&](const std::string& internal) { logger->logMessage(std::nullopt, internal, &DUVLevel::error()); };
  if (status == 200) {
    logger->logMessage(std::nullopt, "send report log succed", &DUVLevel::debug());
    deleteContent();
  } else if (status == 400) {
    error("report Parameter Error,error Code:" + code);
    deleteContent();
  } else if (status == 401) {
    error("report Validate Error,error Code:" + code);
    deleteContent();
  } else if (status == 403) {
    error("report log failed,error Code:" + code);
    saveReportPackage();
  } else if (status == 500) {
    error("report inner Error");
    saveReportPackage();
  } else if (status > 500 && status <= 599) {
    error("report log failed,error Code:" + code);
    saveReportPackage();
  } else {
    error("report log failed,error Code:" + code);
  }
}
