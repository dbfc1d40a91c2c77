#pragma once
// The application's preferences: property-list values by key, kept in one property-list file that
// is rewritten (atomically, owner-only) after every change.
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "os/core/Error.h"
#include "os/core/Value.h"

namespace os {

class UserDefaults {
 public:
  // Loads the file at path. A file that is not a property-list dictionary, or that no read will
  // get (a folder in its place), is moved aside to path + ".corrupt" (replacing an older one) and
  // the store starts empty; lastError() tells. A file that is there but cannot be read now (no
  // descriptor left, an input error) starts the store empty too, but stays: each save reads it
  // again first, and writes nothing while it cannot; once read, its values come back under what
  // this run set or removed.
  explicit UserDefaults(std::string path);

  // The current sandbox's store.
  static std::shared_ptr<UserDefaults> standardUserDefaults();

  // Absent for a missing key. Registered defaults answer for keys never set.
  std::optional<Value> objectForKey(const std::string& key) const;
  // A null value removes the key. Raises kInvalidArgumentException for a value that cannot be
  // stored in a property list (a null inside a collection, a string with a NUL character).
  void setObject(const Value& value, const std::string& key);
  void removeObjectForKey(const std::string& key);

  // Numbers, booleans and numeric strings convert; anything else is 0 / NO.
  long long integerForKey(const std::string& key) const;
  bool boolForKey(const std::string& key) const;
  double doubleForKey(const std::string& key) const;
  float floatForKey(const std::string& key) const;
  // Absent when missing or of another type.
  std::optional<std::string> stringForKey(const std::string& key) const;
  std::optional<Data> dataForKey(const std::string& key) const;
  std::optional<Array> arrayForKey(const std::string& key) const;
  std::optional<Dictionary> dictionaryForKey(const std::string& key) const;

  void setInteger(long long value, const std::string& key);
  void setBool(bool value, const std::string& key);
  void setDouble(double value, const std::string& key);

  // Values answered for keys that were never set; not saved.
  void registerDefaults(const Dictionary& defaults);
  // Stored values only.
  Dictionary dictionaryRepresentation() const;

  // Writes the file again when the last write failed; true when the file holds every value.
  bool synchronize();

  const std::string& path() const { return path_; }
  std::optional<Error> lastError() const;

 private:
  bool save();  // requires mutex_
  // The file's dictionary: nothing when it is missing, unreadable (unread_ set) or corrupt
  // (moved aside). Requires mutex_, or the constructor.
  std::optional<Dictionary> readFile();
  // Whether a save may write: an unread file is read again first, and merged.
  bool readBackBeforeWriting();  // requires mutex_

  std::string path_;
  mutable std::mutex mutex_;
  Dictionary values_;
  Dictionary registered_;
  bool dirty_ = false;
  bool saveFailing_ = false;  // the last save failed and said so
  bool unread_ = false;  // the file is there and could not be read: nothing may go over it
  std::set<std::string> changed_;  // keys set or removed while the file is unread
  std::optional<Error> lastError_;
};

}  // namespace os
