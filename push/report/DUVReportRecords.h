#pragma once
// The record kinds of the push client's reports: launch, activity, device information, message
// status, location and crash logs. Each makes its record when it is packed; the device and
// location kinds send only what changed since the last record the service accepted.
#include <memory>

#include "os/core/Value.h"
#include "push/model/DUVPageFlow.h"
#include "push/report/DUVReportRequest.h"

class DUVFileCache;

enum DUVReportType : std::uint32_t {
  kDUVReportLaunch = 1,
  kDUVReportActivity = 2,
  kDUVReportDevice = 3,
  kDUVReportMessage = 4,
  kDUVReportLocation = 5,
  kDUVReportCrash = 6,
};

// "active_launch": time, session id, date and time texts.
class DUVUserLoginReportRequest : public DUVReportRequest {
 public:
  explicit DUVUserLoginReportRequest(std::shared_ptr<DUVReportCache> cache) : DUVReportRequest(kDUVReportLaunch, cache) {}

 protected:
  std::optional<os::Dictionary> makeRecord() override;
};

// "active_terminate": a usage session's duration and its pages ("" for none).
class DUVUserActiveReportRequest : public DUVReportRequest {
 public:
  DUVUserActiveReportRequest(std::shared_ptr<DUVReportCache> cache, DUVPageFlow actives, double start, double close)
      : DUVReportRequest(kDUVReportActivity, cache), actives_(std::move(actives)), start_(start), close_(close) {}

 protected:
  std::optional<os::Dictionary> makeRecord() override;

 private:
  DUVPageFlow actives_;
  double start_, close_;
};

// A record sent only when it differs (apart from "itime") from the last one accepted, kept in the
// file cache under `lastKey`.
class DUVChangedOnlyReportRequest : public DUVReportRequest {
 public:
  DUVChangedOnlyReportRequest(std::uint32_t type, std::shared_ptr<DUVReportCache> cache,
                              std::shared_ptr<DUVFileCache> fileCache, std::string lastKey)
      : DUVReportRequest(type, cache), fileCache_(std::move(fileCache)), lastKey_(std::move(lastKey)) {}
  void handleReceipt(int statusCode) override;
  static bool compareDeviceInfo(const os::Dictionary& a, const os::Dictionary& b);

 protected:
  std::optional<os::Dictionary> makeRecord() override;
  virtual os::Dictionary freshRecord() = 0;

 private:
  std::shared_ptr<DUVFileCache> fileCache_;
  std::string lastKey_;
};

// "device_info": the device description of the utilities.
class DUVUserDeviceReportRequest : public DUVChangedOnlyReportRequest {
 public:
  DUVUserDeviceReportRequest(std::shared_ptr<DUVReportCache> cache, std::shared_ptr<DUVFileCache> fileCache,
                             std::string channel)
      : DUVChangedOnlyReportRequest(kDUVReportDevice, cache, fileCache, "__DUVLastDeviceInfo"),
        channel_(std::move(channel)) {}

 protected:
  os::Dictionary freshRecord() override;

 private:
  std::string channel_;
};

// The location lists gathered between location records; entries are kept once each.
struct DUVLocationInfo {
  os::Array wifiInfo, cellInfo, gpsInfo;
  std::size_t count() const { return wifiInfo.size() + cellInfo.size() + gpsInfo.size(); }
  static void addTo(os::Array& list, const os::Value& entry);
  void clearAllInfo() { wifiInfo.clear(), cellInfo.clear(), gpsInfo.clear(); }
  os::Value archivedValue() const;
  static DUVLocationInfo fromArchivedValue(const os::Value& value);
};

// "loc_info": the three lists, each "" when empty.
class DUVLocationReportRequest : public DUVChangedOnlyReportRequest {
 public:
  DUVLocationReportRequest(std::shared_ptr<DUVReportCache> cache, std::shared_ptr<DUVFileCache> fileCache,
                           DUVLocationInfo info)
      : DUVChangedOnlyReportRequest(kDUVReportLocation, cache, fileCache, "__DUVLastLocation"), info_(std::move(info)) {}

 protected:
  os::Dictionary freshRecord() override;

 private:
  DUVLocationInfo info_;
};

// "msg_status": the handling result of a remote notification and its message id ("" for none).
class DUVMessageReportRequest : public DUVReportRequest {
 public:
  DUVMessageReportRequest(std::shared_ptr<DUVReportCache> cache, int result, long long messageId)
      : DUVReportRequest(kDUVReportMessage, cache), result_(result), messageId_(messageId) {}

 protected:
  std::optional<os::Dictionary> makeRecord() override;

 private:
  int result_;
  long long messageId_;
};

// "crash_log": the first item of every crash record.
class DUVCrashHandlerReportRequest : public DUVReportRequest {
 public:
  DUVCrashHandlerReportRequest(std::shared_ptr<DUVReportCache> cache, os::Array crashLogs)
      : DUVReportRequest(kDUVReportCrash, cache), crashLogs_(std::move(crashLogs)) {}

 protected:
  std::optional<os::Dictionary> makeRecord() override;

 private:
  os::Array crashLogs_;
};

// The record times: whole seconds (saturating at 32 bits), the session id of a time.
long long DUVRecordSeconds(double timestamp);
// A time read back from a file, in whole seconds since 1970: a number from 1 to 9999999999 (ten
// digits, as report times are); anything else (another type, not finite, out of range) is absent.
std::optional<double> DUVPlausibleTime(const os::Value& stored);
std::optional<double> DUVPlausibleTime(double seconds);
std::string DUVGenerateSessionId(const std::string& appkey, double timestamp);
