#include "qqconnect/analytics/TCDataReport.h"

#include "qqconnect/analytics/ConfigManager.h"
#include "qqconnect/analytics/VMA4QC.h"
#include "qqconnect_core/requests/VelmoraRequest.h"

TCDataReport& TCDataReport::shared() {
  static TCDataReport* report = new TCDataReport(nullptr, VMA4QC::getInstance());
  // The policy follows the current sandbox; the reports follow the policy.
  if (auto policy = ConfigManager::GetInstance(); policy != report->config_) {
    policy->setReportSwitch([r = report](bool on) { r->mtaSetEnable(on); });
    report->config_ = std::move(policy);
  }
  return *report;
}

TCDataReport::TCDataReport(std::shared_ptr<ConfigManager> config, VMA4QC& analytics, std::string reportURL)
    : config_(std::move(config)), analytics_(analytics), reportURL_(std::move(reportURL)) {}

void TCDataReport::send(const std::string& action, const std::string& appid, const std::optional<double>& time,
                        const std::optional<std::string>& ver) {
  VelmoraParams params{{"strValue", appid}, {"nValue", action}, {"qver", ver.value_or(qverDefault)}, {"tag", "0"}};
  if (time) params.set("elt", os::Value(std::to_string(static_cast<int>(*time))));
  // Fire and forget: nobody listens to the answer.
  std::erase_if(inFlight_, [](const auto& request) { return !request->loading(); });
  auto request = VelmoraRequest::getRequestWithParams(std::move(params), "GET", {}, reportURL_);
  request->connect();
  inFlight_.push_back(std::move(request));
}

bool TCDataReport::reportData(int flag, const std::string& action, const std::string& appid,
                              const std::optional<std::string>& ver) {
  if (flag == 0) send(action, appid, std::nullopt, ver);
  return true;
}

bool TCDataReport::reportDataWithTime(int flag, const std::string& action, const std::string& appid, double time,
                                      const std::optional<std::string>& ver) {
  if (flag == 0) send(action, appid, time, ver);
  return true;
}

bool TCDataReport::reportBonuliData(const std::optional<std::string>& action, const std::string& appid,
                                    const std::optional<std::string>& ver) {
  if (!action) return false;
  send(*action, appid, std::nullopt, ver);
  return true;
}

bool TCDataReport::reportBonuliDataWithTime(const std::optional<std::string>& action, const std::string& appid,
                                            double time, const std::optional<std::string>& ver) {
  if (!action) return false;
  send(*action, appid, time, ver);
  return true;
}

void TCDataReport::mtaStart(const std::string& appid) {
  if (config_->isDataReportEnable()) start4QQConnect(appid);
}

void TCDataReport::start4QQConnect(const std::string& appid) { analytics_.start4QQConnect(appid); }

void TCDataReport::mtaSetEnable(bool enable) { analytics_.setStatEnable(enable); }

void TCDataReport::mtaReportApi(const std::string& apiName) {
  config_->updateConfig();
  if (config_->isDataReportEnable()) analytics_.trackCustomEvent("requireApi", {os::Value(apiName)});
}

void TCDataReport::mtaSetAccount(const std::string& openid) {
  if (config_->isDataReportEnable()) analytics_.reportQQ(openid);
}
