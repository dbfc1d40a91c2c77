// fuzz-link: platforms
// Message records as the messenger leaves them on a pasteboard: property-list bytes, each
// dictionary entry read as a record and turned into the objects the application is handed. What
// the messenger left is taken whole (the sending limits bind only the sender); the readers of the
// messenger's own side keep theirs.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "os/core/String.h"
#include "os/store/PropertyList.h"
#include "platforms/wechat/AppCommunicateData.h"

namespace {

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "wechat_record_fuzz: %s\n", what);
  std::abort();
}

bool within(const WXOptionalString& s, std::size_t limit) { return !s || os::utf16Length(*s) <= limit; }
bool within(const WXOptionalData& d, std::size_t limit) { return !d || d->size() <= limit; }

WXOptionalString textOf(const os::Dictionary& entry, const char* key) {
  const os::Value* v = entry.find(key);
  return v && v->string() ? WXOptionalString(*v->string()) : std::nullopt;
}

WXOptionalData dataOf(const os::Dictionary& entry, const char* key) {
  const os::Value* v = entry.find(key);
  return v && v->data() ? WXOptionalData(*v->data()) : std::nullopt;
}

// The media message of a record carries the record's own fields, as long as they are.
void checkMessage(const AppCommunicateData& record, const os::Dictionary& entry,
                  const std::shared_ptr<WXMediaMessage>& m) {
  if (!m) return;
  require(m->messageExt() == textOf(entry, "messageExt"), "messageExt not taken whole");
  require(m->messageAction() == textOf(entry, "messageAction"), "messageAction not taken whole");
  if (record.command() == WXCommandLaunchReq) {
    require(!m->title() && !m->description() && !m->thumbData() && !m->mediaTagName() && !m->mediaObject(),
            "a launch record's message carries more than its ext and action");
    return;
  }
  require(m->title() == textOf(entry, "title"), "title not taken whole");
  require(m->description() == textOf(entry, "description"), "description not taken whole");
  require(m->thumbData() == dataOf(entry, "thumbData"), "thumbnail not taken whole");
  require(m->mediaTagName() == textOf(entry, "mediaTagName"), "mediaTagName not taken whole");
  require(m->mediaObject() != nullptr, "a media message without its object");
}

void checkInternal(const std::shared_ptr<WXMediaInternalMessage>& m) {
  if (!m) return;
  require(within(m->title(), WXRecordLimits::kTitle) && within(m->description(), WXRecordLimits::kDescription) &&
              within(m->thumbData(), WXRecordLimits::kThumbData) && within(m->mediaTagName(), WXRecordLimits::kMediaTagName) &&
              within(m->messageExt(), WXRecordLimits::kMessageExt) &&
              within(m->messageAction(), WXRecordLimits::kMessageAction),
          "internal message beyond its message limits");
  require(within(m->mediaUrl(), WXRecordLimits::kUrl) && within(m->mediaLowBandUrl(), WXRecordLimits::kUrl) &&
              within(m->mediaDataUrl(), WXRecordLimits::kUrl) && within(m->mediaLowBandDataUrl(), WXRecordLimits::kUrl) &&
              within(m->extInfo(), WXRecordLimits::kExtInfo) && within(m->fileExt(), WXRecordLimits::kFileExt) &&
              within(m->fileData(), WXRecordLimits::kFileData),
          "internal message beyond its link limits");
  require(m->mediaUrl() || m->fileData() || m->extInfo(), "internal message without a url, data or ext info");
}

void readRecord(const os::Dictionary& entry) {
  AppCommunicateData record(entry);
  if (const os::Value* file = entry.find("fileData"); file && file->data()) record.setFileData(*file->data());
  auto req = record.dataToReq();
  if (auto show = std::dynamic_pointer_cast<ShowMessageFromWXReq>(req)) {
    require(record.command() == WXCommandMediaMessage, "show-message request from another command");
    require(show->message() && std::dynamic_pointer_cast<WXAppExtendObject>(show->message()->mediaObject()),
            "show-message request without an app-extend object");
    checkMessage(record, entry, show->message());
  }
  if (auto launch = std::dynamic_pointer_cast<LaunchFromWXReq>(req)) {
    require(record.command() == WXCommandLaunchReq, "launch request from another command");
    require(launch->message() != nullptr, "launch request without its message");
    checkMessage(record, entry, launch->message());
  }
  record.dataToResp();
  checkMessage(record, entry, record.mediaMessage());
  checkInternal(record.mediaInternalMessage());
  if (auto auth = record.authRequest())
    require(auth->scope() && within(auth->scope(), WXRecordLimits::kAuthField) && within(auth->state(), WXRecordLimits::kAuthField),
            "login request beyond its limits");
  if (auto resp = record.authResp()) require(within(resp->state(), WXRecordLimits::kAuthField), "login state beyond its limit");
  require(within(record.textMessage(), WXRecordLimits::kText), "text beyond its limit");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto list = os::PropertyList::read(os::Data(data, data + size));
  if (!list || !list->dictionary()) return 0;
  readRecord(*list->dictionary());
  for (const auto& [key, value] : *list->dictionary())
    if (const os::Dictionary* entry = value.dictionary()) readRecord(*entry);
  return 0;
}
