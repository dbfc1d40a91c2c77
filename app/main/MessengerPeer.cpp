#include "app/main/MessengerPeer.h"

#include "os/core/URL.h"
#include "os/core/Value.h"
#include "os/store/Pasteboard.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"
#include "os/views/Device.h"

namespace reader {

namespace {

constexpr const char* kMessengerIdentifier = "com.example.wechat";
constexpr const char* kRequestPrefix = "weixin://app/";

// Records travel on the general pasteboard on systems above 6.9 (the version's leading number),
// before that on "wechat_data", with their file data beside them on "wechat_file".
bool recordsOnGeneralBoard() { return os::Device::current().systemVersionNumber() > 6.9; }

std::shared_ptr<os::Pasteboard> recordsBoard(const std::shared_ptr<os::Sandbox>& sandbox) {
  if (recordsOnGeneralBoard()) return os::Pasteboard::generalPasteboard(sandbox);
  return os::Pasteboard::pasteboardWithName("wechat_data", true, sandbox);
}

const char* sceneName(const std::string& scene) {
  if (scene == "0") return "chat";
  if (scene == "1") return "timeline";
  if (scene == "2") return "favourites";
  return "an unknown place";
}

// A share request: the record it names is read off the pasteboard and answered.
bool take(PeerApplication& messenger, std::ostream& out, const os::URL& url) {
  const std::string text = url.absoluteString();
  if (text.rfind(kRequestPrefix, 0) != 0) return false;
  const std::string rest = text.substr(std::char_traits<char>::length(kRequestPrefix));
  const std::size_t slash = rest.find('/');
  const std::string appId = rest.substr(0, slash);
  if (appId.empty() || slash == std::string::npos || rest.compare(slash, 9, "/sendreq/") != 0) {
    out << "messenger: opened by " << appId << "\n";
    return true;
  }
  // Reading a record takes it off the pasteboard, and on older systems the file data beside it:
  // left there, it would go back with the answer as if it were the answer's.
  auto board = recordsBoard(messenger.sandbox());
  auto bytes = board->dataForPasteboardType("content");
  os::Dictionary record;
  if (bytes && !bytes->empty()) {
    if (auto list = os::PropertyList::read(*bytes); list && list->dictionary())
      if (const os::Dictionary* entry = (*list->dictionary())[appId].dictionary()) record = *entry;
    board->setData(os::Data(), "content");
    if (!recordsOnGeneralBoard())
      os::Pasteboard::pasteboardWithName("wechat_file", true, messenger.sandbox())->setData(os::Data(), "content");
  }
  if (record.empty()) {
    out << "messenger: a request from " << appId << " without a record\n";
    return true;
  }
  const std::string command = record["command"].stringOr();
  if (command != "1010" && command != "1020") {
    // Only shares are played here; anything else stays unanswered, as a messenger that was
    // left would.
    out << "messenger: a request from " << appId << " it does not answer (command " << command << ")\n";
    return true;
  }
  out << "messenger: shared to " << sceneName(record["scene"].stringOr()) << ": "
      << titleAndLink(record["title"].stringOr(), record["mediaUrl"].stringOr()) << "\n";
  const os::Dictionary answer{{"command", os::Value("2010")},
                              {"result", os::Value("0")},
                              {"returnFromApp", os::Value("1")},
                              {"sdkver", os::Value("1.4.3")}};
  auto data = os::PropertyList::write(os::Value(os::Dictionary{{appId, os::Value(answer)}}), os::PropertyListFormat::Binary);
  if (!data) return true;
  board->setData(*data, "content");
  messenger.open(appId + "://platformId=wechat");
  return true;
}

}  // namespace

std::unique_ptr<PeerApplication> installMessenger(const std::string& folder, const std::shared_ptr<os::Sandbox>& reader,
                                                  std::ostream& out) {
  return PeerApplication::install(folder, reader, kMessengerIdentifier, {"weixin", "wechat"},
                                  [&out](PeerApplication& self, const os::URL& url) { return take(self, out, url); });
}

}  // namespace reader
