#include "app/main/QQPeer.h"

#include <map>

#include "foundation/formats/Base64.h"
#include "os/core/String.h"
#include "os/core/URL.h"
#include "os/core/Value.h"
#include "os/store/KeyedArchive.h"
#include "os/store/Pasteboard.h"

namespace reader {

namespace {

constexpr const char* kQQIdentifier = "com.velmora.mqq";
// The large-data record's pasteboard: its name is also its type.
constexpr const char* kLargeDataBoard = "com.velmora.mqq.api.apiLargeData";

// The query as QQ reads it: pairs split at "&" and at the first "=", values as they came, not
// unescaped.
std::map<std::string, std::string> queryOf(const os::URL& url) {
  std::map<std::string, std::string> items;
  for (const auto& piece : os::split(url.query().value_or(""), "&")) {
    const auto eq = piece.find('=');
    if (piece.empty() || eq == std::string::npos) continue;
    items[piece.substr(0, eq)] = piece.substr(eq + 1);
  }
  return items;
}

std::string text(const std::map<std::string, std::string>& query, const std::string& key) {
  auto found = query.find(key);
  return found == query.end() ? "" : base64DecodedString(found->second).value_or("");
}

// A share: said on the console and answered on the callback scheme it names.
bool take(PeerApplication& qq, std::ostream& out, const os::URL& url) {
  const std::string scheme = os::lowercaseASCII(url.scheme());
  if (scheme != "mqqapi" && scheme != "mqq" && scheme != "mqqopensdkapiv2") return false;
  if (scheme != "mqqapi" || url.host().value_or("") != "share" || url.path() != "/to_fri") {
    out << "qq: opened\n";
    return true;
  }
  const auto query = queryOf(url);
  const bool qzone = query.count("shareType") && query.at("shareType") == "1";
  const std::string kind = query.count("file_type") ? query.at("file_type") : "";
  const std::string title = text(query, "title");
  std::string line = std::string("qq: shared to ") + (qzone ? "QZone" : "a friend") + " (" + kind +
                     "): " + titleAndLink(title, text(query, "url"));
  // What did not fit in the URL waits on the pasteboard; reading it takes it off.
  if (query.count("objectlocation") && query.at("objectlocation") == "pasteboard") {
    const bool general = query.count("generalpastboard") && query.at("generalpastboard") == "1";
    auto board = general ? os::Pasteboard::generalPasteboard(qq.sandbox())
                         : os::Pasteboard::pasteboardWithName(kLargeDataBoard, false, qq.sandbox());
    auto bytes = board ? board->dataForPasteboardType(kLargeDataBoard) : std::nullopt;
    auto record = bytes && !bytes->empty() ? os::KeyedUnarchiver::unarchiveValue(*bytes) : std::nullopt;
    const os::Data* preview = record && record->dictionary() ? (*record->dictionary())["previewimagedata"].data() : nullptr;
    if (preview && !preview->empty()) line += ", with a preview picture of " + std::to_string(preview->size()) + " bytes";
    if (board) board->setData(std::nullopt, kLargeDataBoard);
  }
  out << line << "\n";
  auto callback = query.find("callback_name");
  if (callback == query.end() || callback->second.empty()) {
    out << "qq: the share names no application to answer\n";
    return true;
  }
  qq.open(callback->second + "://response_from_qq?source=qq&source_scheme=mqqapi&error=0&version=1");
  return true;
}

}  // namespace

std::unique_ptr<PeerApplication> installQQ(const std::string& folder, const std::shared_ptr<os::Sandbox>& reader,
                                           std::ostream& out) {
  return PeerApplication::install(folder, reader, kQQIdentifier, {"mqq", "mqqapi", "mqqopensdkapiV2"},
                                  [&out](PeerApplication& self, const os::URL& url) { return take(self, out, url); });
}

}  // namespace reader
