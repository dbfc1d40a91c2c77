#include "os/store/Keychain.h"

#include <sys/stat.h>

#include <cerrno>
#include <optional>

#include "os/core/Log.h"
#include "os/core/Value.h"
#include "os/store/FileLock.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"

namespace os {

namespace {

bool matches(const Value& item, const KeychainQuery& q) {
  return (q.service.empty() || item["service"].stringOr() == q.service) && item["account"].stringOr() == q.account &&
         (q.accessGroup.empty() || item["accessGroup"].stringOr() == q.accessGroup);
}

// Items on file. A file read whole and found not to be a keychain (or too large to be one) is set
// aside (path + ".corrupt") so the next write cannot erase what might still be recovered, and counts
// as empty. A file that could not be opened or read this time (no descriptor left, an I/O error)
// says nothing of its items: null, and the call fails alone, leaving the file as it is.
std::optional<Array> loadItems(const std::string& path) {
  FileManager& fm = FileManager::defaultManager();
  if (!fm.fileExistsAtPath(path)) return Array{};
  Error error;
  std::optional<Value> v;
  if (auto bytes = fm.contentsAtPath(path, &error, Keychain::kMaxFileBytes)) {
    v = PropertyList::read(*bytes, nullptr, &error);
  } else if (error.code == ENOENT) {
    return Array{};
  } else if (error.code != EFBIG && error.code != EISDIR) {
    log("Keychain: " + path + " not read: " + error.localizedDescription());
    return std::nullopt;
  }
  if (v && v->isArray()) {
    Array items;
    for (const Value& item : *v->array())
      if (item.isDictionary() && item["data"].isData() && item["account"].isString()) items.push_back(item);
    return items;
  }
  fm.removeItemAtPath(path + ".corrupt");
  fm.moveItemAtPath(path, path + ".corrupt");
  log("Keychain: unreadable " + path + " set aside: " + error.localizedDescription());
  return Array{};
}

bool saveItems(const std::string& path, const Array& items) {
  auto bytes = PropertyList::write(Value(items), PropertyListFormat::Binary);
  // A file the next read would refuse would lose every item with it.
  if (!bytes || bytes->size() > Keychain::kMaxFileBytes) return false;
  // Under the folder's lock no other save is under way: what an earlier one cut short left goes.
  FileManager::defaultManager().removeAbandonedTemporaryFiles(path);
  return FileManager::defaultManager().writeData(*bytes, path, WriteOptions{true, 0600});
}

bool validAccessibility(int a) { return a >= 0 && a < kKeychainAccessibilityCount; }

}  // namespace

Keychain::Keychain(std::string deviceDirectory)
    : folder_(appendingPathComponent(deviceDirectory, "Keychain")), path_(appendingPathComponent(folder_, "keychain.plist")) {}

std::shared_ptr<Keychain> Keychain::defaultKeychain() {
  return std::make_shared<Keychain>(Sandbox::current()->deviceDirectory());
}

long Keychain::copyData(const KeychainQuery& query, Data* out) const {
  if (!FileManager::defaultManager().fileExistsAtPath(path_)) return kKeychainItemNotFound;
  FileLock lock(appendingPathComponent(folder_, ".lock"), FileLock::Mode::Exclusive);
  auto items = loadItems(path_);
  if (!items) return kKeychainIOError;
  for (const Value& item : *items) {
    if (!matches(item, query)) continue;
    if (out) *out = *item["data"].data();
    return kKeychainSuccess;
  }
  return kKeychainItemNotFound;
}

long Keychain::add(const KeychainQuery& query, const Data& data, int accessibility) {
  if (!validAccessibility(accessibility)) return kKeychainParamError;
  FileManager::defaultManager().createDirectoryAtPath(folder_, true);
  ::chmod(folder_.c_str(), 0700);
  FileLock lock(appendingPathComponent(folder_, ".lock"), FileLock::Mode::Exclusive);
  if (!lock.locked()) return kKeychainIOError;
  auto loaded = loadItems(path_);
  if (!loaded) return kKeychainIOError;
  Array items = std::move(*loaded);
  for (const Value& item : items) {
    if (item["service"].stringOr() == query.service && item["account"].stringOr() == query.account &&
        item["accessGroup"].stringOr() == query.accessGroup)
      return kKeychainDuplicateItem;
  }
  items.push_back(Value(Dictionary{{"service", Value(query.service)},
                                   {"account", Value(query.account)},
                                   {"accessGroup", Value(query.accessGroup)},
                                   {"accessibility", Value(accessibility)},
                                   {"data", Value(data)}}));
  return saveItems(path_, items) ? kKeychainSuccess : kKeychainIOError;
}

long Keychain::update(const KeychainQuery& query, const Data& data, int accessibility) {
  if (!validAccessibility(accessibility)) return kKeychainParamError;
  if (!FileManager::defaultManager().fileExistsAtPath(path_)) return kKeychainItemNotFound;
  FileLock lock(appendingPathComponent(folder_, ".lock"), FileLock::Mode::Exclusive);
  if (!lock.locked()) return kKeychainIOError;
  auto loaded = loadItems(path_);
  if (!loaded) return kKeychainIOError;
  Array items = std::move(*loaded);
  bool found = false;
  for (Value& item : items) {
    if (!matches(item, query)) continue;
    found = true;
    item.mutableDictionary()->set("data", Value(data));
    item.mutableDictionary()->set("accessibility", Value(accessibility));
  }
  if (!found) return kKeychainItemNotFound;
  return saveItems(path_, items) ? kKeychainSuccess : kKeychainIOError;
}

long Keychain::remove(const KeychainQuery& query) {
  if (!FileManager::defaultManager().fileExistsAtPath(path_)) return kKeychainItemNotFound;
  FileLock lock(appendingPathComponent(folder_, ".lock"), FileLock::Mode::Exclusive);
  if (!lock.locked()) return kKeychainIOError;
  auto loaded = loadItems(path_);
  if (!loaded) return kKeychainIOError;
  Array items = std::move(*loaded);
  std::size_t before = items.size();
  std::erase_if(items, [&](const Value& item) { return matches(item, query); });
  if (items.size() == before) return kKeychainItemNotFound;
  return saveItems(path_, items) ? kKeychainSuccess : kKeychainIOError;
}

}  // namespace os
