// fuzz-link: platforms
// Message records as the messenger leaves them on a pasteboard: property-list bytes, each
// dictionary entry read as a record and turned into the objects the application is handed. What
// comes out must keep the limits that sending keeps.
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

void checkMessage(const std::shared_ptr<WXMediaMessage>& m) {
  if (!m) return;
  require(within(m->title(), WXRecordLimits::kTitle), "title beyond its limit");
  require(within(m->description(), WXRecordLimits::kDescription), "description beyond its limit");
  require(!m->thumbData() || m->thumbData()->size() <= WXRecordLimits::kThumbData, "thumbnail beyond its limit");
  require(within(m->messageExt(), WXRecordLimits::kMessageExt), "messageExt beyond its limit");
}

void readRecord(const os::Dictionary& entry) {
  AppCommunicateData record(entry);
  if (const os::Value* file = entry.find("fileData"); file && file->data()) record.setFileData(*file->data());
  auto req = record.dataToReq();
  if (auto show = std::dynamic_pointer_cast<ShowMessageFromWXReq>(req)) {
    require(show->message() && std::dynamic_pointer_cast<WXAppExtendObject>(show->message()->mediaObject()),
            "show-message request without an app-extend object");
    checkMessage(show->message());
  }
  record.dataToResp();
  checkMessage(record.mediaMessage());
  record.mediaInternalMessage();
  record.authRequest();
  record.authResp();
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
