#include "sharing/service/OBSocialHttpClient.h"

#include "os/store/Bundle.h"
#include "sharing/service/OBSocialContext.h"

namespace {

struct SharedClient {
  std::shared_ptr<OBSocialTLHTTPClient> client;
};

std::shared_ptr<OBSocialTLHTTPClient> makeClient() {
  auto config = os::Bundle::mainBundle()->propertyListForResource("SocialSDK-config", "plist");
  auto text = config ? (*config)["baseURL"].string() : nullptr;
  if (!text || text->empty()) return nullptr;
  auto url = os::URL::parse(*text);
  if (!url) return nullptr;
  auto client = std::make_shared<OBSocialTLHTTPClient>(*url);
  client->operationQueue()->setMaxConcurrentOperationCount(2);
  client->startMonitoringNetworkReachability();
  return client;
}

}  // namespace

std::shared_ptr<OBSocialTLHTTPClient> OBSocialHttpClient::sharedClient() {
  return OBSocialContext::current()
      ->instance<SharedClient>([] { return std::make_shared<SharedClient>(SharedClient{makeClient()}); })
      ->client;
}
