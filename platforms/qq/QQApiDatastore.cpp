#include "platforms/qq/QQApiDatastore.h"

#include "platforms/qq/QQOpenApiUtility.h"
#include "platforms/qq/QQPasteboard.h"

QQApiDatastore& QQApiDatastore::instance() {
  static QQApiDatastore* store = new QQApiDatastore();
  return *store;
}

int QQApiDatastore::registerWithMetadata(const std::shared_ptr<QQPluginMetadata>& metadata) {
  auto board = QQPasteboardMgr::instance().getArrayPasteboardByName(kQQPasteboardRegisterAppPlugin);
  if (!metadata || !board) return -1;
  const auto stored = board->objectArray().value_or(std::vector<os::ArchiveItem>{});
  for (std::size_t i = 0; i < stored.size(); ++i) {
    auto entry = stored[i].objectAs<QQPluginMetadata>();
    if (entry && entry->bundleIdentifier == metadata->bundleIdentifier) {
      board->replaceObjectAtIndex(static_cast<long>(i), metadata);
      return 0;
    }
  }
  board->addObject(metadata);
  return 0;
}

int QQApiDatastore::setAdItemArray(const std::vector<std::shared_ptr<QQApiAdItem>>& items) {
  auto board = QQPasteboardMgr::instance().getArrayPasteboardByName(kQQPasteboardAdItems);
  if (!board) return -1;
  board->clear();
  for (const auto& item : items) board->addObject(item);
  return 0;
}

std::vector<std::shared_ptr<QQApiAdItem>> QQApiDatastore::getAdItemArray() {
  std::vector<std::shared_ptr<QQApiAdItem>> out;
  auto board = QQPasteboardMgr::instance().getArrayPasteboardByName(kQQPasteboardAdItems);
  if (!board) return out;
  for (const auto& item : board->objectArray().value_or(std::vector<os::ArchiveItem>{})) {
    if (auto ad = item.objectAs<QQApiAdItem>()) out.push_back(ad);
  }
  return out;
}

int QQApiDatastore::setApiMessage(const std::shared_ptr<QQApiMessage>& message) {
  auto board = QQPasteboardMgr::instance().getObjectPasteboardByName(kQQPasteboardApiMessage);
  if (!board) return -1;
  if (message) {
    board->setObject(message);
  } else {
    board->clear();
  }
  return 0;
}

std::shared_ptr<QQApiMessage> QQApiDatastore::getApiMessage() {
  auto board = QQPasteboardMgr::instance().getObjectPasteboardByName(kQQPasteboardApiMessage);
  auto item = board ? board->object() : std::nullopt;
  return item ? item->objectAs<QQApiMessage>() : nullptr;
}

void QQApiDatastore::clearApiMessage() {
  if (auto board = QQPasteboardMgr::instance().getObjectPasteboardByName(kQQPasteboardApiMessage)) board->clear();
}

int QQApiDatastore::setApiLargeData(const std::optional<os::Dictionary>& data) {
  auto board = QQPasteboardMgr::instance().getObjectPasteboardByName(kQQPasteboardApiLargeData);
  if (!board) return -1;
  if (!data) {
    board->clear();
  } else if (isQQSupportApiGeneralPastboard()) {
    board->setObjectByGeneralPastboard(os::Value(*data));
  } else {
    board->setObject(os::Value(*data));
  }
  return 0;
}

namespace {
std::optional<os::Dictionary> asDictionary(const std::optional<os::ArchiveItem>& item) {
  if (!item) return std::nullopt;
  auto v = item->toValue();
  if (!v || !v->dictionary()) return std::nullopt;
  return *v->dictionary();
}
}  // namespace

std::optional<os::Dictionary> QQApiDatastore::getApiLargeData() {
  auto board = QQPasteboardMgr::instance().getObjectPasteboardByName(kQQPasteboardApiLargeData);
  return board ? asDictionary(board->object()) : std::nullopt;
}

std::optional<os::Dictionary> QQApiDatastore::getApiLargeDataByGeneralPastboard() {
  auto board = QQPasteboardMgr::instance().getObjectPasteboardByName(kQQPasteboardApiLargeData);
  return board ? asDictionary(board->objectFromGeneralPastboard()) : std::nullopt;
}

void QQApiDatastore::clearApiLargeData() {
  if (auto board = QQPasteboardMgr::instance().getObjectPasteboardByName(kQQPasteboardApiLargeData)) board->clear();
}

bool QQApiDatastore::isQQSupportApiGeneralPastboard() { return QQOpenApiUtility::canOpenURL("mqqopensdkapiV2://"); }
