#include "push/report/DUVReportRecords.h"

#include <cmath>
#include <limits>

#include "push/utilities/DUVFileCache.h"
#include "push/utilities/DUVUtilities.h"

long long DUVRecordSeconds(double timestamp) {
  if (std::isnan(timestamp)) return 0;
  double whole = std::trunc(timestamp);
  whole = std::min(whole, static_cast<double>(std::numeric_limits<std::int32_t>::max()));
  whole = std::max(whole, static_cast<double>(std::numeric_limits<std::int32_t>::min()));
  return static_cast<long long>(whole);
}

std::optional<double> DUVPlausibleTime(double seconds) {
  if (!std::isfinite(seconds) || seconds < 1 || seconds >= 1e10) return std::nullopt;
  return std::trunc(seconds);
}

std::optional<double> DUVPlausibleTime(const os::Value& stored) {
  if (!stored.isNumber()) return std::nullopt;
  return DUVPlausibleTime(stored.doubleValue());
}

std::string DUVGenerateSessionId(const std::string& appkey, double timestamp) {
  return DUVStringHashingByMD5(appkey + DUVFakeIMEI() + std::to_string(DUVRecordSeconds(timestamp)));
}

namespace {
void addDateAndTime(os::Dictionary& record, double timestamp) {
  std::string date, time;
  DUVGetDateAndTimeFromTimestamp(timestamp, &date, &time);
  record.set("date", os::Value(date));
  record.set("time", os::Value(time));
}
os::Value listOrEmpty(const os::Array& list) { return list.empty() ? os::Value("") : os::Value(list); }
}  // namespace

std::optional<os::Dictionary> DUVUserLoginReportRequest::makeRecord() {
  double now = DUVGetCurrentTimestamp();
  os::Dictionary record{{"type", os::Value("active_launch")},
                        {"itime", os::Value(DUVRecordSeconds(now))},
                        {"session_id", os::Value(DUVGenerateSessionId(identityAppkey(), now))}};
  addDateAndTime(record, now);
  return record;
}

std::optional<os::Dictionary> DUVUserActiveReportRequest::makeRecord() {
  os::Dictionary record{{"type", os::Value("active_terminate")},
                        {"itime", os::Value(DUVRecordSeconds(close_))},
                        {"duration", os::Value(DUVRecordSeconds(close_ - start_))},
                        {"session_id", os::Value(DUVGenerateSessionId(identityAppkey(), close_))},
                        {"activities", listOrEmpty(actives_.pageFlow())}};
  addDateAndTime(record, close_);
  return record;
}

bool DUVChangedOnlyReportRequest::compareDeviceInfo(const os::Dictionary& a, const os::Dictionary& b) {
  os::Dictionary left = a, right = b;
  left.remove("itime");
  right.remove("itime");
  return left == right;
}

std::optional<os::Dictionary> DUVChangedOnlyReportRequest::makeRecord() {
  os::Dictionary record = freshRecord();
  os::Value last = fileCache_ ? fileCache_->objectForKey(lastKey_) : os::Value();
  if (const os::Dictionary* previous = last.dictionary()) {
    setIsSendLock(compareDeviceInfo(*previous, record));
  } else if (!last.isNull()) {
    setIsSendLock(true);
  }
  return record;
}

void DUVChangedOnlyReportRequest::handleReceipt(int statusCode) {
  if (statusCode == 200 && fileCache_ && packedRecord())
    fileCache_->setObject(os::Value(*packedRecord()), lastKey_);
}

os::Dictionary DUVUserDeviceReportRequest::freshRecord() { return DUVCurrentDeviceInfo(channel_); }

void DUVLocationInfo::addTo(os::Array& list, const os::Value& entry) {
  if (std::find(list.begin(), list.end(), entry) == list.end()) list.push_back(entry);
}

os::Value DUVLocationInfo::archivedValue() const {
  return os::Value(os::Dictionary{{"wifiInfo", os::Value(wifiInfo)},
                                  {"cellInfo", os::Value(cellInfo)},
                                  {"gpsInfo", os::Value(gpsInfo)}});
}

DUVLocationInfo DUVLocationInfo::fromArchivedValue(const os::Value& value) {
  DUVLocationInfo info;
  auto take = [&](const char* key, os::Array& list) {
    if (const os::Array* stored = value[key].array())
      for (const auto& entry : *stored)
        if (entry.dictionary()) addTo(list, entry);
  };
  take("wifiInfo", info.wifiInfo);
  take("cellInfo", info.cellInfo);
  take("gpsInfo", info.gpsInfo);
  return info;
}

os::Dictionary DUVLocationReportRequest::freshRecord() {
  return {{"type", os::Value("loc_info")},
          {"itime", os::Value(DUVRecordSeconds(DUVGetCurrentTimestamp()))},
          {"wifi", listOrEmpty(info_.wifiInfo)},
          {"cell", listOrEmpty(info_.cellInfo)},
          {"gps", listOrEmpty(info_.gpsInfo)}};
}

std::optional<os::Dictionary> DUVMessageReportRequest::makeRecord() {
  return os::Dictionary{{"itime", os::Value(DUVRecordSeconds(DUVGetCurrentTimestamp()))},
                        {"type", os::Value("msg_status")},
                        {"result", os::Value(result_)},
                        {"msg_id", os::Value(messageId_ ? std::to_string(messageId_) : std::string())}};
}

std::optional<os::Dictionary> DUVCrashHandlerReportRequest::makeRecord() {
  os::Array logs;
  for (const auto& entry : crashLogs_)
    if (const os::Array* pair = entry.array(); pair && !pair->empty()) logs.push_back(pair->front());
  return os::Dictionary{{"type", os::Value("crash_log")},
                        {"itime", os::Value(DUVRecordSeconds(DUVGetCurrentTimestamp()))},
                        {"crashlogs", os::Value(logs)}};
}
