#pragma once
// Analytics event records and their JSON form, and the device facts session events carry.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "os/core/Value.h"
#include "qqconnect/analytics/VMA4QCConfig.h"
#include "qqconnect/analytics/VMA4QCStore.h"

struct VMA4QCEnv {
  std::string platform, os_version, language, resolution, deviceid;
  std::optional<std::string> mccmnc;
  std::string timezone, app_version, sdk_version = "0.5.5", devicename, modulename;
  std::optional<std::string> ifa, ifv;
  bool jailbroken = false;

  // Gathered from the device, the bundle and the user defaults of the current sandbox.
  static VMA4QCEnv gather();
};

// What encoding an event reads besides the event itself.
struct VMA4QCEncodeContext {
  VMA4QCSettings settings;
  const VMA4QCEnv* env = nullptr;
  const VMA4QCDataConfigHolder* holder = nullptr;
  std::string mac;
  std::optional<std::string> networkKind;  // "WIFI", "CellNetwork" or none
  std::function<std::optional<VMA4QCUser>()> user;
};

class VMA4QCEvent {
 public:
  explicit VMA4QCEvent(std::uint32_t sid);
  virtual ~VMA4QCEvent() = default;

  virtual std::int32_t getType() const { return 0; }
  virtual void encode(os::Dictionary&, const VMA4QCEncodeContext&) const {}
  std::string toJsonString(const VMA4QCEncodeContext& context) const;

  std::uint32_t sid() const { return sid_; }
  std::uint32_t ts() const { return ts_; }
  void setTs(std::uint32_t ts) { ts_ = ts; }

 private:
  std::uint32_t sid_;
  std::uint32_t ts_;
};

class VMA4QCSessionEnv : public VMA4QCEvent {
 public:
  using VMA4QCEvent::VMA4QCEvent;
  std::int32_t getType() const override { return 2; }
  void encode(os::Dictionary& event, const VMA4QCEncodeContext& context) const override;
};

class VMA4QCCustomEvent : public VMA4QCEvent {
 public:
  VMA4QCCustomEvent(std::uint32_t sid, std::string eventID, std::optional<os::Array> args,
                    std::optional<os::Dictionary> kvs, std::uint32_t duration);
  std::int32_t getType() const override { return 1000; }
  void encode(os::Dictionary& event, const VMA4QCEncodeContext& context) const override;

  const std::string& eventID() const { return eventID_; }
  std::uint32_t duration() const { return duration_; }

 private:
  std::string eventID_;
  std::optional<os::Array> args_;
  std::optional<os::Dictionary> kvs_;
  std::uint32_t duration_;
};

class VMA4QCAdditionEvent : public VMA4QCEvent {
 public:
  using VMA4QCEvent::VMA4QCEvent;
  std::int32_t getType() const override { return 1001; }
  void encode(os::Dictionary& event, const VMA4QCEncodeContext& context) const override;
};

// Adds the flag 2 for a new local day or a changed application version; true when it changed
// the user (whose tagTime then becomes now).
bool VMA4QCRefreshUser(VMA4QCUser& user, const std::string& appVersion, std::int64_t now);
