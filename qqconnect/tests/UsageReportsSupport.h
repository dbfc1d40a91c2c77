#pragma once
// The local QQ Connect service standing in for the deployment's policy, action-report and
// analytics hosts, so that whatever the client reports (through its process-wide reporter) lands
// there. The network is Wi-Fi: the analytics client then uploads each event at once.
#include <string>
#include <vector>

#include "QQConnectTestSupport.h"
#include "os/net/HostLookup.h"
#include "tools/qqconnectd/server/QQConnectServer.h"

namespace qctest {

class ReportingServiceTest : public QQConnectTest {
 protected:
  void SetUp() override {
    QQConnectTest::SetUp();
    reachability->setDefaultFlags(os::kReachabilityFlagsReachable);
    ASSERT_TRUE(server.start(0));
    for (const auto& host : reportingHosts()) os::HostLookup::mapHost(host, 80, "127.0.0.1", server.port());
    os::HostLookup::mapHost(analyticsHost(), 80, "127.0.0.1", server.port());
    // An earlier session may have pointed the reports elsewhere.
    TCDataReport::shared().setReportURL(TCDataReport::kDefaultReportURL);
  }
  void TearDown() override {
    QQConnectTest::TearDown();
    os::HostLookup::removeOverride(analyticsHost());
  }
  static std::string analyticsHost() { return *os::URL::parse(VMA4QC::kDefaultReportURL)->host(); }
  qqconnectd::QQConnectService& service() { return server.service(); }

  // The API names of the "requireApi" events uploaded so far.
  std::vector<std::string> usageReports() {
    VMA4QC::getInstance().flush();
    std::vector<std::string> names;
    for (const os::Dictionary& event : service().analyticsEvents()) {
      const std::string* id = event["ei"].string();
      const os::Array* args = event["ar"].array();
      if (!id || *id != "requireApi" || !args || args->size() != 1 || !(*args)[0].string()) continue;
      names.push_back(*(*args)[0].string());
    }
    return names;
  }
  // The action numbers reported so far, in order.
  std::vector<std::string> actions() {
    return os::testing::collect(service().actionReports(), [](const auto& r) { return r.action; });
  }

  qqconnectd::QQConnectServer server;
};

}  // namespace qctest
