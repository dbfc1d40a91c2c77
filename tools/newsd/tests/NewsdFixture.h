#pragma once
// A server on an ephemeral loopback port with a virtual clock, and a reader-like client that signs
// its forms the way the reader does.
#include <httplib.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "os/core/URL.h"
#include "os/runtime/Clock.h"
#include "tools/newsd/server/NewsServer.h"
#include "tools/newsd/server/Signing.h"
#include "tools/newsd/server/Wire.h"

namespace newsd::testing {

inline constexpr double kStartTime = 1.8e9;

// The form body of a signed request: "p", "v" and "c" (news) or "check" (promotion).
inline std::string signedForm(const std::string& jsonText, bool promotion) {
  std::string p = encodeParameterText(jsonText);
  std::string key = deriveSigningKey(promotion ? kPromotionSecretKey : kNewsSecretKey);
  return os::buildQuery({{"p", p}, {"v", promotion ? "3" : "1"}, {promotion ? "check" : "c", checkCode(p, key)}});
}

class NewsdTest : public ::testing::Test {
 protected:
  void SetUp() override { startServer({}); }
  void TearDown() override { server_.reset(); }

  void startServer(ServiceOptions options, std::uint64_t seed = 7) {
    client_.reset();
    server_.reset();
    ServerOptions o;
    o.seed = seed;
    o.service = std::move(options);
    server_ = std::make_unique<NewsServer>(o);
    auto port = server_->start();
    ASSERT_TRUE(port.has_value());
    client_ = std::make_unique<httplib::Client>("127.0.0.1", *port);
    client_->set_read_timeout(30, 0);
  }

  std::string base() const { return server_->base(); }

  // Posts a raw form body and parses the JSON answer (null when there is none).
  os::Value postForm(const std::string& path, const std::string& body) {
    auto res = client_->Post(path.c_str(), body, "application/x-www-form-urlencoded; charset=utf-8");
    if (!res || res->status != 200) return {};
    return parseJSON(res->body).value_or(os::Value());
  }

  // A news API request as the reader builds it, for the given device.
  os::Value news(long long opcode, os::Value opdata = {}, const std::string& device = "device-A") {
    os::Dictionary params{{"opcode", opcode}};
    if (!opdata.isNull()) params.set("opdata", std::move(opdata));
    params.set("devtype", 1);
    params.set("sn", os::Dictionary{{"mac", ""}, {"sharedudid", device}, {"idfa", ""}});
    params.set("jailbreak", 2);
    return postForm("/api/imobile/", signedForm(writeJSON(params), false));
  }

  os::Value promotion(const std::string& path, long long opcode, os::Value in) {
    os::Dictionary params{{"opcode", opcode}, {"in", std::move(in)}, {"cid", 11}, {"version", "1.0"}};
    return postForm(path, signedForm(writeJSON(params), true));
  }

  httplib::Result get(const std::string& path) { return client_->Get(path.c_str()); }

  os::VirtualClockScope clock_{kStartTime};
  std::unique_ptr<NewsServer> server_;
  std::unique_ptr<httplib::Client> client_;
};

}  // namespace newsd::testing
