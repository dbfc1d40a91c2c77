#include "platforms/wechat/AppCommunicate.h"

#include "os/core/Log.h"
#include "os/store/Pasteboard.h"
#include "platforms/wechat/WeChatApiUtil.h"

namespace {

std::shared_ptr<os::Pasteboard> namedPasteboard(const std::string& name) {
  auto board = os::Pasteboard::pasteboardWithName(name, true);
  if (board) board->setPersistent(true);
  return board;
}

// Removes only our type, so whatever else the pasteboard holds (the user's clipboard) stays.
void clearContent(os::Pasteboard& board) { board.setData(std::nullopt, kWXPasteboardType); }

// Puts our type into the first item, next to what the user copied.
bool writeContent(os::Pasteboard& board, const os::Data& data) {
  auto items = board.items();
  if (items.empty()) items.emplace_back();
  for (std::size_t i = 1; i < items.size(); ++i) items[i].erase(kWXPasteboardType);
  items.front()[kWXPasteboardType] = data;
  return board.setItems(std::move(items));
}

enum class Content { None, NotAPropertyList, NotADictionary, Dictionary };

// The dictionary under "content". Data that is not a property list is left where it is; a property
// list of another kind is cleared.
Content readContent(os::Pasteboard& board, os::Dictionary* out) {
  auto data = board.dataForPasteboardType(kWXPasteboardType);
  if (!data || data->empty()) return Content::None;
  auto list = WeChatApiUtil::propertyListFromData(data);
  if (!list) {
    os::logf("WXApi: pasteboard \"%s\" holds no readable property list; left in place", board.name().c_str());
    return Content::NotAPropertyList;
  }
  if (!list->dictionary()) {
    os::logf("WXApi: pasteboard \"%s\" holds no dictionary; cleared", board.name().c_str());
    clearContent(board);
    return Content::NotADictionary;
  }
  *out = *list->dictionary();
  return Content::Dictionary;
}

std::optional<os::Dictionary> takeAll(const std::shared_ptr<os::Pasteboard>& board) {
  if (!board) return std::nullopt;
  os::Dictionary all;
  if (readContent(*board, &all) != Content::Dictionary) return std::nullopt;
  clearContent(*board);
  return all;
}

// Takes this app id's entry out and writes the others back.
std::optional<os::Dictionary> takeEntry(const std::shared_ptr<os::Pasteboard>& board, const std::string& appId) {
  if (!board || appId.empty()) return std::nullopt;
  os::Dictionary all;
  if (readContent(*board, &all) != Content::Dictionary) return std::nullopt;
  const os::Value* entry = all.find(appId);
  if (!entry) return std::nullopt;
  std::optional<os::Dictionary> record;
  if (entry->dictionary())
    record = *entry->dictionary();
  else
    os::logf("WXApi: pasteboard \"%s\" entry is no dictionary; dropped", board->name().c_str());
  all.remove(appId);
  auto rest = all.empty() ? std::nullopt : WeChatApiUtil::dataFromPropertyList(os::Value(all));
  if (rest)
    writeContent(*board, *rest);
  else
    clearContent(*board);
  return record;
}

}  // namespace

std::shared_ptr<os::Pasteboard> AppCommunicate::getDataPasteboard() { return namedPasteboard(getDataPasteboardName()); }

std::shared_ptr<os::Pasteboard> AppCommunicate::getFilePasteboard() { return namedPasteboard(getFilePasteboardName()); }

std::shared_ptr<os::Pasteboard> AppCommunicate::getDataPasteboardForiOS7Plus() {
  return os::Pasteboard::generalPasteboard();
}

std::optional<os::Dictionary> AppCommunicate::propertyListForAllApp() { return takeAll(getDataPasteboard()); }

std::optional<os::Dictionary> AppCommunicate::propertyListForAllAppForiOS7Plus() {
  return takeAll(getDataPasteboardForiOS7Plus());
}

std::optional<os::Dictionary> AppCommunicate::propertyListForAppID(const std::string& appId) {
  return takeEntry(getDataPasteboard(), appId);
}

std::optional<os::Dictionary> AppCommunicate::propertyListForAppIDForiOS7Plus(const std::string& appId) {
  return takeEntry(getDataPasteboardForiOS7Plus(), appId);
}

bool AppCommunicate::setPropertyList(const os::Dictionary& entry, const std::string& appId) {
  auto board = getDataPasteboard();
  if (!board || appId.empty()) return false;
  os::Dictionary all;
  readContent(*board, &all);
  all.set(appId, os::Value(entry));
  auto data = WeChatApiUtil::dataFromPropertyList(os::Value(all));
  return data && board->setData(*data, kWXPasteboardType);
}

bool AppCommunicate::setPropertyListForiOS7Plus(const os::Dictionary& entry, const std::string& appId) {
  auto board = getDataPasteboardForiOS7Plus();
  if (!board || appId.empty()) return false;
  auto data = WeChatApiUtil::dataFromPropertyList(os::Value(os::Dictionary{{appId, os::Value(entry)}}));
  return data && writeContent(*board, *data);
}

bool AppCommunicate::setFileData(const WXOptionalData& data, const std::string& appId) {
  auto board = getFilePasteboard();
  if (!board || appId.empty()) return false;
  return board->setData(data && !data->empty() ? *data : os::Data(), kWXPasteboardType);
}

WXOptionalData AppCommunicate::fileDataForAppID(const std::string&) {
  auto board = getFilePasteboard();
  if (!board) return std::nullopt;
  auto data = board->dataForPasteboardType(kWXPasteboardType);
  board->setData(os::Data(), kWXPasteboardType);
  // Empty data is how the pasteboard says "nothing".
  if (!data || data->empty()) return std::nullopt;
  return data;
}

bool AppCommunicate::setAppCommunicateData(const AppCommunicateData& record, const std::string& appId) {
  if (appId.empty() || !record.propertList()) return false;
  if (WeChatApiUtil::isiOS7plus()) return setAppCommunicateDataForiOS7Plus(record, appId);
  if (!setPropertyList(*record.propertList(), appId)) return false;
  if (record.fileData()) return setFileData(record.fileData(), appId);
  auto board = getFilePasteboard();
  if (board) board->setData(os::Data(), kWXPasteboardType);
  return true;
}

bool AppCommunicate::setAppCommunicateDataForiOS7Plus(const AppCommunicateData& record, const std::string& appId) {
  if (appId.empty() || !record.propertList()) return false;
  return setPropertyListForiOS7Plus(*record.propertList(), appId);
}

std::shared_ptr<AppCommunicateData> AppCommunicate::appCommunicateDataForAppID(const std::string& appId) {
  if (appId.empty()) return nullptr;
  if (WeChatApiUtil::isiOS7plus()) return appCommunicateDataForAppIDForiOS7Plus(appId);
  auto entry = propertyListForAppID(appId);
  if (!entry) return nullptr;
  auto record = std::make_shared<AppCommunicateData>(*entry);
  record->setFileData(fileDataForAppID(appId));
  return record;
}

std::shared_ptr<AppCommunicateData> AppCommunicate::appCommunicateDataForAppIDForiOS7Plus(const std::string& appId) {
  auto entry = propertyListForAppIDForiOS7Plus(appId);
  if (!entry) return nullptr;
  auto record = std::make_shared<AppCommunicateData>(*entry);
  if (const os::Value* data = entry->find("fileData"); data && data->data()) record->setFileData(*data->data());
  return record;
}
