#include "push/network/address/DUVServiceEndpoints.h"

namespace {
void takeText(const os::Dictionary& config, const char* key, std::string& field) {
  if (const std::string* text = config[key].string(); text && !text->empty()) field = *text;
}
void takePort(const os::Dictionary& config, const char* key, std::uint16_t& field) {
  const os::Value& value = config[key];
  if (value.isNumber() && value.intValue() > 0 && value.intValue() <= 0xFFFF)
    field = static_cast<std::uint16_t>(value.intValue());
}
}  // namespace

DUVServiceEndpoints DUVServiceEndpoints::fromConfig(const os::Dictionary& config) {
  DUVServiceEndpoints endpoints;
  if (const os::Array* hosts = config["SIS_HOSTS"].array()) {
    std::vector<std::string> names;
    for (const auto& host : *hosts)
      if (const std::string* name = host.string(); name && !name->empty()) names.push_back(*name);
    if (!names.empty()) endpoints.lookupHosts = names;
  }
  takeText(config, "SIS_DEFAULT_ADDRESS", endpoints.defaultLookupAddress);
  takePort(config, "SIS_PORT", endpoints.lookupPort);
  takePort(config, "SIS_BACKUP_PORT", endpoints.lookupBackupPort);
  takeText(config, "CORE_HOST", endpoints.defaultCoreHost);
  takePort(config, "CORE_PORT", endpoints.corePort);
  takeText(config, "CORE_DEFAULT_ADDRESS", endpoints.defaultCoreAddress);
  takeText(config, "REPORT_HOST", endpoints.reportHost);
  takeText(config, "USER_HOST", endpoints.userHost);
  return endpoints;
}
