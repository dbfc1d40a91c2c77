#pragma once
// The QQ Connect client's action reports (numbered actions to the action-report CGI) and its
// drive of the analytics client, both under the online policy's report switch.
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ConfigManager;
class VelmoraRequest;
class VMA4QC;

class TCDataReport {
 public:
  static constexpr const char* kDefaultReportURL = "http://report.qqconnect.local/report/report";
  static constexpr const char* qverDefault = "ios.SDK.1.8";

  // Reports through the process's analytics client and the current policy (GetInstance).
  static TCDataReport& shared();
  TCDataReport(std::shared_ptr<ConfigManager> config, VMA4QC& analytics, std::string reportURL = kDefaultReportURL);

  // A non-zero flag answers true and sends nothing.
  bool reportData(int flag, const std::string& action, const std::string& appid, const std::optional<std::string>& ver);
  bool reportDataWithTime(int flag, const std::string& action, const std::string& appid, double timeInterval,
                          const std::optional<std::string>& ver);
  // False without an action; otherwise the report goes and the answer is true.
  bool reportBonuliData(const std::optional<std::string>& action, const std::string& appid,
                        const std::optional<std::string>& ver);
  bool reportBonuliDataWithTime(const std::optional<std::string>& action, const std::string& appid,
                                double timeInterval, const std::optional<std::string>& ver);

  // Where action reports go (deployment configuration).
  const std::string& reportURL() const { return reportURL_; }
  void setReportURL(std::string url) { reportURL_ = std::move(url); }

  void mtaStart(const std::string& appid);
  void start4QQConnect(const std::string& appid);
  void mtaSetEnable(bool enable);
  void mtaReportApi(const std::string& apiName);
  void mtaSetAccount(const std::string& openid);

 private:
  void send(const std::string& action, const std::string& appid, const std::optional<double>& time,
            const std::optional<std::string>& ver);

  std::shared_ptr<ConfigManager> config_;
  VMA4QC& analytics_;
  std::string reportURL_;
  // Reports in flight: nobody else holds them, and a dropped request is cancelled.
  std::vector<std::shared_ptr<VelmoraRequest>> inFlight_;
};
