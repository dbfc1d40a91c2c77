// The operations of both APIs: each fills its payload after storing its opcode.
#include "foundation/formats/Base64.h"
#include "news/api/VXAdClickRequest.h"
#include "news/api/VXAdListRequest.h"
#include "news/api/VXAllAdListRequest.h"
#include "news/api/VXAppActiveRequest.h"
#include "news/api/VXDiggAndBuryRequest.h"
#include "news/api/VXFavoriteRequest.h"
#include "news/api/VXFeedbackRequest.h"
#include "news/api/VXGetFavoriteRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXNewsDetailRequest.h"
#include "news/api/VXNewsHistoryRequest.h"
#include "news/api/VXNewsInfoRequest.h"
#include "news/api/VXNewsListRequest.h"
#include "news/api/VXPraseXMLErrorRequest.h"
#include "news/api/VXRequestConfig.h"
#include "news/api/VXUploadDumpRequest.h"
#include "os/core/String.h"

namespace {

// Copies a member of the caller's dictionary when it is there; a missing one stays missing.
void copyIfPresent(os::Dictionary& to, const char* toKey, const os::Dictionary& from, const char* fromKey) {
  if (const os::Value* v = from.find(fromKey)) to.set(toKey, *v);
}

}  // namespace

VXAppActiveRequest::VXAppActiveRequest(int cp) {
  initWithNone();
  params().set("opdata", os::Dictionary{{"cp", cp}});
}

VXNewsHistoryRequest::VXNewsHistoryRequest(os::Value ID) {
  initWithNone();
  params().set("opdata", os::Dictionary{{"id", std::move(ID)}});
}

VXNewsListRequest::VXNewsListRequest(const os::Dictionary& dict) {
  initWithNone();
  os::Dictionary opdata;
  copyIfPresent(opdata, "id", dict, "id");
  copyIfPresent(opdata, "flag", dict, "flag");
  const std::pair<const char*, long long> optional[] = {
      {"count", 0}, {"uptime", -1}, {"downtime", -1}, {"upid", 0}, {"downid", 0}};
  for (const auto& [key, fallback] : optional) {
    const os::Value* v = dict.find(key);
    opdata.set(key, v ? *v : os::Value(fallback));
  }
  params().set("opdata", std::move(opdata));
}

VXNewsDetailRequest::VXNewsDetailRequest(long long ID) {
  initWithNone();
  params().set("opdata", os::Dictionary{{"id", ID}});
}

VXNewsInfoRequest::VXNewsInfoRequest(long long ID) {
  initWithNone();
  params().set("opdata", os::Dictionary{{"id", ID}});
}

VXGetFavoriteRequest::VXGetFavoriteRequest(long long pageNO) {
  initWithNone();
  params().set("opdata", os::Dictionary{{"type", 1}, {"pageno", pageNO}});
}

VXDiggAndBuryRequest::VXDiggAndBuryRequest(const os::Dictionary& dict) {
  initWithNone();
  os::Dictionary opdata;
  copyIfPresent(opdata, "id", dict, "id");
  copyIfPresent(opdata, "categoryid", dict, "category");
  copyIfPresent(opdata, "action", dict, "action");
  params().set("opdata", std::move(opdata));
}

VXFavoriteRequest::VXFavoriteRequest(const os::Dictionary& dict) {
  initWithNone();
  os::Dictionary opdata;
  copyIfPresent(opdata, "id", dict, "id");
  copyIfPresent(opdata, "categoryid", dict, "category");
  copyIfPresent(opdata, "action", dict, "action");
  params().set("opdata", std::move(opdata));
}

VXUploadDumpRequest::VXUploadDumpRequest(std::string_view dump) {
  initWithNone();
  os::Dictionary opdata;
  opdata.set("dump", os::replaceAll(base64EncodedString(dump).value_or(""), "\r\n", ""));
  // The log as it stands now: lines written after this are not part of this upload.
  if (auto log = VXGlobalHelper::readLog()) opdata.set("log", *log);
  params().set("opdata", std::move(opdata));
}

VXPraseXMLErrorRequest::VXPraseXMLErrorRequest(os::Value ID, std::optional<std::string> error) {
  initWithNone();
  params().set("opdata", os::Dictionary{{"id", std::move(ID)}, {"error", error.value_or("")}});
}

VXFeedbackRequest::VXFeedbackRequest(std::string suggestion, std::string contact) {
  initWithNone();
  params().set("opdata", os::Dictionary{{"suggestion", std::move(suggestion)}, {"contact", std::move(contact)}});
}

VXAdClickRequest::VXAdClickRequest(os::Value adid) {
  initWithNone();
  params().set("in", os::Dictionary{{"appid", std::move(adid)}, {"cp", 0}, {"channelid", CHANNEL_ID}});
}

VXAdListRequest::VXAdListRequest() {
  initWithNone();
  params().set("in", os::Dictionary{{"pageno", 1}});
}
std::string VXAdListRequest::serverPath() const { return std::string(INTERFACE_PATH_MIL); }

VXAllAdListRequest::VXAllAdListRequest(long long pageno) {
  initWithNone();
  params().set("in", os::Dictionary{{"pageno", pageno}});
}
std::string VXAllAdListRequest::serverPath() const { return std::string(INTERFACE_PATH_MIL); }
