#include "os/store/UserDefaults.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <strings.h>

#include "os/core/Log.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"

namespace os {

UserDefaults::UserDefaults(std::string path) : path_(std::move(path)) {
  FileManager& fm = FileManager::defaultManager();
  fm.removeAbandonedTemporaryFiles(path_);
  if (!fm.fileExistsAtPath(path_)) return;
  if (auto stored = readFile()) values_ = std::move(*stored);
}

std::optional<Dictionary> UserDefaults::readFile() {
  FileManager& fm = FileManager::defaultManager();
  Error error;
  auto bytes = fm.contentsAtPath(path_, &error);
  if (!bytes && !fm.fileExistsAtPath(path_)) {
    unread_ = false;
    return std::nullopt;
  }
  if (!bytes && FileManager::mayReadLater(error)) {
    // The file is there and could not be read now (no descriptor left, an input error): what it
    // holds is still the user's, so nothing is written over it until it has been read.
    if (!unread_)
      log("UserDefaults: " + path_ + " could not be read (" + error.localizedDescription() +
          "); nothing is written over it until it is read");
    unread_ = true;
    lastError_ = error;
    return std::nullopt;
  }
  unread_ = false;
  // Our own file, written by our own writer: it expands to fewer nodes than it has bytes, so as
  // many as that are allowed, and whatever a save wrote is read back. One no read will ever get
  // is set aside as one that is no dictionary.
  auto v = bytes ? PropertyList::read(*bytes, nullptr, &error,
                                      std::max<std::uint64_t>(kPropertyListMaxNodes, bytes->size()))
                 : std::nullopt;
  if (v && v->isDictionary()) return *v->dictionary();
  if (v) error = Error::withDescription(kPropertyListErrorDomain, kPropertyListReadCorruptError,
                                       "user defaults file is not a dictionary");
  // Keep the unreadable file for inspection rather than overwriting it with the next change.
  std::string aside = path_ + ".corrupt";
  fm.removeItemAtPath(aside);
  fm.moveItemAtPath(path_, aside);
  log("UserDefaults: unreadable " + path_ + " moved to " + aside + ": " + error.localizedDescription());
  lastError_ = error;
  return std::nullopt;
}

bool UserDefaults::readBackBeforeWriting() {
  if (!unread_) return true;
  auto stored = readFile();
  if (unread_) return false;
  // What the file held, under what this run set or removed meanwhile.
  if (stored) {
    for (const auto& key : changed_) {
      if (const Value* v = values_.find(key))
        stored->set(key, *v);
      else
        stored->remove(key);
    }
    values_ = std::move(*stored);
  }
  changed_.clear();
  return true;
}

std::shared_ptr<UserDefaults> UserDefaults::standardUserDefaults() { return Sandbox::current()->standardUserDefaults(); }

std::optional<Value> UserDefaults::objectForKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  if (const Value* v = values_.find(key)) return *v;
  if (const Value* v = registered_.find(key)) return *v;
  return std::nullopt;
}

void UserDefaults::setObject(const Value& value, const std::string& key) {
  if (value.isNull()) {
    removeObjectForKey(key);
    return;
  }
  Error error;
  // Checked as the file holds it, one level down under its key: a value that fits only alone
  // would make every later save fail.
  if (!PropertyList::write(Value(Dictionary{{key, value}}), PropertyListFormat::Binary, &error))
    throw Exception(kInvalidArgumentException, "Attempt to insert non-property list object " + value.description() +
                                                   " for key " + key + " (" + error.localizedDescription() + ")");
  std::lock_guard lock(mutex_);
  values_.set(key, value);
  if (unread_) changed_.insert(key);
  dirty_ = true;
  save();
}

void UserDefaults::removeObjectForKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  // While the file is unread, a key it may hold is removed from it once it is read.
  if (unread_) changed_.insert(key);
  if (!values_.remove(key) && !unread_) return;
  dirty_ = true;
  save();
}

long long UserDefaults::integerForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v || !(v->isNumber() || v->isBool() || v->isString())) return 0;
  if (v->isFloatingPoint()) return static_cast<long long>(v->doubleValue());
  if (v->isString()) return static_cast<long long>(std::strtod(v->string()->c_str(), nullptr));
  return v->intValue();
}

bool UserDefaults::boolForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v) return false;
  if (const std::string* s = v->string()) {
    if (strcasecmp(s->c_str(), "yes") == 0 || strcasecmp(s->c_str(), "true") == 0) return true;
    return std::strtod(s->c_str(), nullptr) != 0;
  }
  if (v->isNumber()) return v->isFloatingPoint() ? v->doubleValue() != 0 : v->intValue() != 0;
  return v->isBool() && v->boolValue();
}

double UserDefaults::doubleForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v) return 0;
  if (const std::string* s = v->string()) return std::strtod(s->c_str(), nullptr);
  if (v->isNumber() || v->isBool()) return v->doubleValue();
  return 0;
}

float UserDefaults::floatForKey(const std::string& key) const { return static_cast<float>(doubleForKey(key)); }

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v || !v->isString()) return std::nullopt;
  return *v->string();
}

std::optional<Data> UserDefaults::dataForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v || !v->isData()) return std::nullopt;
  return *v->data();
}

std::optional<Array> UserDefaults::arrayForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v || !v->isArray()) return std::nullopt;
  return *v->array();
}

std::optional<Dictionary> UserDefaults::dictionaryForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v || !v->isDictionary()) return std::nullopt;
  return *v->dictionary();
}

void UserDefaults::setInteger(long long value, const std::string& key) { setObject(Value::number('q', value), key); }
void UserDefaults::setBool(bool value, const std::string& key) { setObject(Value(value), key); }
void UserDefaults::setDouble(double value, const std::string& key) { setObject(Value(value), key); }

void UserDefaults::registerDefaults(const Dictionary& defaults) {
  std::lock_guard lock(mutex_);
  for (const auto& [k, v] : defaults) registered_.set(k, v);
}

Dictionary UserDefaults::dictionaryRepresentation() const {
  std::lock_guard lock(mutex_);
  return values_;
}

bool UserDefaults::synchronize() {
  std::lock_guard lock(mutex_);
  return !dirty_ || save();
}

std::optional<Error> UserDefaults::lastError() const {
  std::lock_guard lock(mutex_);
  return lastError_;
}

bool UserDefaults::save() {
  if (!readBackBeforeWriting()) {
    saveFailing_ = true;
    return false;
  }
  Error error;
  auto slash = path_.find_last_of('/');
  if (slash != std::string::npos && slash > 0)
    FileManager::defaultManager().createDirectoryAtPath(path_.substr(0, slash), true);
  if (!PropertyList::writeFile(Value(values_), path_, PropertyListFormat::Binary, &error, 0600)) {
    // Said once for a run of failures: a full disk refuses every change until it has room again.
    if (!saveFailing_)
      log("UserDefaults: " + path_ + " was not saved (" + error.localizedDescription() +
          "); it keeps what the last save wrote until a save succeeds");
    saveFailing_ = true;
    lastError_ = error;
    return false;
  }
  if (saveFailing_) log("UserDefaults: " + path_ + " is saved again");
  saveFailing_ = false;
  dirty_ = false;
  return true;
}

}  // namespace os
