#pragma once
// Where the push service lives: the address lookup hosts and ports, and the core server to fall
// back on. Deployment values, read from optional keys of "PushConfig.plist"; the built-in ones
// are the local push service on this machine. The default core address moves for the rest of the
// process when a lookup names a backup core address.
#include <cstdint>
#include <string>
#include <vector>

#include "os/core/Value.h"

struct DUVServiceEndpoints {
  // Chosen by the stored lookup host index, modulo their count.
  std::vector<std::string> lookupHosts{"127.0.0.1", "127.0.0.1", "127.0.0.1", "127.0.0.1"};
  // Used when the chosen lookup host does not resolve.
  std::string defaultLookupAddress = "127.0.0.1";
  std::uint16_t lookupPort = 19000;
  std::uint16_t lookupBackupPort = 80;
  // Resolved when a lookup names no core address; its port is corePort.
  std::string defaultCoreHost = "127.0.0.1";
  std::uint16_t corePort = 3000;
  // "host:port", used when the default core host does not resolve either.
  std::string defaultCoreAddress = "127.0.0.1:3000";
  // The report and user services ("host" or "host:port"), only from the configuration: without
  // them reports go straight to the addresses the lookup names.
  std::string reportHost;
  std::string userHost;

  // The built-in values with those of the configuration's keys "SIS_HOSTS" (array),
  // "SIS_DEFAULT_ADDRESS", "SIS_PORT", "SIS_BACKUP_PORT", "CORE_HOST", "CORE_PORT" and
  // "CORE_DEFAULT_ADDRESS", "REPORT_HOST" and "USER_HOST" that are present and well typed.
  static DUVServiceEndpoints fromConfig(const os::Dictionary& config);
};
