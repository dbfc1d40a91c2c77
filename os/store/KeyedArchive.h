#pragma once
// Keyed archives: object graphs as a binary property list of the form
//   {"$archiver": kKeyedArchiverName, "$version": 100000, "$top": {key: ref}, "$objects": ["$null", ...]}
// where every object is a dictionary whose "$class" refers to {"$classname": name, "$classes": chain}
// and refs are property-list UIDs into "$objects".
//
// Archivable classes write their fields through KeyedArchiver and are rebuilt by a factory that reads
// them through KeyedUnarchiver. Decoding only makes classes the caller lists in an
// ArchiveClassRegistry (plus the built-in kinds); anything else, a malformed archive or a cycle is
// an error, and the whole decode answers absent. Archives also arrive from other applications
// (through pasteboards), so each unarchiver holds limits on the bytes it reads, the objects the
// archive may list and how deep its objects may nest; past any of them it refuses the archive
// before making anything.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "os/core/Data.h"
#include "os/core/Error.h"
#include "os/core/Value.h"
#include "os/store/PropertyList.h"

namespace os {

inline constexpr const char* kKeyedArchiveErrorDomain = "os.archive";
enum KeyedArchiveErrorCode : long {
  kKeyedArchiveReadCorruptError = 4864,
  kKeyedArchiveUnknownClassError = 4865,
  kKeyedArchiveWriteError = 4866,
  kKeyedArchiveLimitError = 4867,  // the archive passes one of the unarchiver's limits
};

struct KeyedArchiveLimits {
  // Room for a 10 MB picture and its thumbnail beside the rest of a message.
  std::size_t maxBytes = std::size_t{32} << 20;
  // Entries of the archive's object table, class records and strings included.
  std::size_t maxObjects = 100000;
  // Objects inside objects, counted from the top; at most 1024 (decoding recurses).
  int maxDepth = 256;
  // Nodes of the property list the archive is, expanded as it is read (a reference counted each
  // time it is held): see kPropertyListMaxNodes.
  std::uint64_t maxNodes = kPropertyListMaxNodes;
};

inline constexpr const char* kKeyedArchiveRootKey = "root";
inline constexpr const char* kKeyedArchiverName = "KeyedArchiver";
inline constexpr std::int64_t kKeyedArchiveVersion = 100000;
// Class names this system records for its built-in kinds.
inline constexpr const char* kArchiveDateClass = "os.Date";
inline constexpr const char* kArchiveArrayClass = "os.Array";
inline constexpr const char* kArchiveSetClass = "os.Set";
inline constexpr const char* kArchiveDictionaryClass = "os.Dictionary";
inline constexpr const char* kArchiveURLClass = "os.URL";
inline constexpr const char* kArchiveRootClass = "os.Object";

class KeyedArchiver;
class KeyedUnarchiver;

class Archivable {
 public:
  virtual ~Archivable() = default;
  // The class first, then its ancestors, as recorded in the archive.
  virtual std::vector<std::string> archiveClassNames() const = 0;
  virtual void encodeWithCoder(KeyedArchiver& coder) const = 0;
};

// What an archive holds: plain values, archivable objects, URLs, and collections mixing them.
class ArchiveItem {
 public:
  enum class Kind { Null, Value, Object, URL, Array, Set, Dictionary };
  using Entries = std::vector<std::pair<std::string, ArchiveItem>>;

  ArchiveItem() = default;
  ArchiveItem(std::nullptr_t) {}
  ArchiveItem(os::Value value);
  ArchiveItem(std::shared_ptr<Archivable> object);
  template <class T, class = std::enable_if_t<std::is_base_of_v<Archivable, T> && !std::is_same_v<T, Archivable>>>
  ArchiveItem(std::shared_ptr<T> object) : ArchiveItem(std::static_pointer_cast<Archivable>(std::move(object))) {}

  static ArchiveItem url(std::string text);
  static ArchiveItem array(std::vector<ArchiveItem> items);
  static ArchiveItem set(std::vector<ArchiveItem> items);
  static ArchiveItem dictionary(Entries entries);

  Kind kind() const { return kind_; }
  bool isNull() const { return kind_ == Kind::Null; }
  const os::Value* value() const { return kind_ == Kind::Value ? &value_ : nullptr; }
  const std::shared_ptr<Archivable>& object() const { return object_; }
  template <class T> std::shared_ptr<T> objectAs() const { return std::dynamic_pointer_cast<T>(object_); }
  const std::string* urlString() const { return kind_ == Kind::URL ? &text_ : nullptr; }
  const std::vector<ArchiveItem>* elements() const {
    return kind_ == Kind::Array || kind_ == Kind::Set ? elements_.get() : nullptr;
  }
  const Entries* entries() const { return kind_ == Kind::Dictionary ? entries_.get() : nullptr; }

  // The plain value when the item holds no objects or URLs (null for Null).
  std::optional<os::Value> toValue() const;

 private:
  Kind kind_ = Kind::Null;
  os::Value value_;
  std::shared_ptr<Archivable> object_;
  std::string text_;
  std::shared_ptr<std::vector<ArchiveItem>> elements_;
  std::shared_ptr<Entries> entries_;
};

class KeyedArchiver {
 public:
  KeyedArchiver();

  void encodeObject(const ArchiveItem& object, const std::string& key);
  void encodeInt(std::int32_t value, const std::string& key);
  void encodeInt64(std::int64_t value, const std::string& key);
  void encodeBool(bool value, const std::string& key);
  void encodeDouble(double value, const std::string& key);

  // The archive as a binary property list; absent when something in it could not be written.
  // With `readBy`, also when an unarchiver with those limits would refuse it, the error naming the
  // limit: a store that reads back with them never writes what it could not read.
  std::optional<Data> finishEncoding(Error* error = nullptr, const KeyedArchiveLimits* readBy = nullptr);

  static std::optional<Data> archivedData(const ArchiveItem& root, const std::string& rootKey = kKeyedArchiveRootKey,
                                          Error* error = nullptr, const KeyedArchiveLimits* readBy = nullptr);

 private:
  std::uint64_t encodeItem(const ArchiveItem& item, int depth);
  std::uint64_t encodeValue(const Value& value, int depth);
  std::uint64_t encodeString(const std::string& text);
  std::uint64_t encodeCollection(const char* className, const std::vector<ArchiveItem>* items, const Array* values,
                                 int depth);
  std::uint64_t classRef(const std::vector<std::string>& names);
  std::uint64_t push(Value v);
  Value reference(std::uint64_t ref);
  void fail(std::string why);

  Array objects_;
  Array references_;  // by object number, made on first use
  std::vector<Dictionary> stack_;  // the object being written last; $top first
  std::unordered_map<std::string, std::uint64_t> strings_;
  std::map<std::string, std::uint64_t> classes_;
  std::map<const Archivable*, std::uint64_t> written_;
  std::optional<Error> error_;
  bool finished_ = false;
};

using ArchiveFactory = std::function<std::shared_ptr<Archivable>(KeyedUnarchiver&)>;

// The classes a decode may make, by archived class name.
class ArchiveClassRegistry {
 public:
  ArchiveClassRegistry& add(std::string className, ArchiveFactory factory);
  const ArchiveFactory* find(const std::string& className) const;

 private:
  std::map<std::string, ArchiveFactory, std::less<>> factories_;
};

class KeyedUnarchiver {
 public:
  // Asked for a class the registry lacks, with the names recorded for it (the class first, then its
  // ancestors); may answer a registered name to decode the object as.
  using ClassSubstitution = std::function<std::optional<std::string>(const std::vector<std::string>& classNames)>;

  explicit KeyedUnarchiver(const Data& data, ArchiveClassRegistry registry = {}, KeyedArchiveLimits limits = {});

  // The first failure so far (malformed archive, unknown class, cycle); the decode counts as failed.
  const std::optional<Error>& error() const { return error_; }
  void setClassSubstitution(ClassSubstitution substitution) { substitution_ = std::move(substitution); }
  // Lets a class's factory refuse its archived form.
  void failWithError(Error error);

  bool containsValueForKey(const std::string& key) const;
  // Null when missing.
  ArchiveItem decodeObject(const std::string& key);
  std::optional<Value> decodeValue(const std::string& key);
  std::optional<std::string> decodeString(const std::string& key);
  std::optional<Data> decodeData(const std::string& key);
  // 0 / false when missing or not a number.
  std::int32_t decodeInt(const std::string& key) const;
  std::int64_t decodeInt64(const std::string& key) const;
  bool decodeBool(const std::string& key) const;
  double decodeDouble(const std::string& key) const;

  // The object under rootKey; absent (with the error) when the archive cannot be decoded whole.
  static std::optional<ArchiveItem> unarchiveObject(const Data& data, ArchiveClassRegistry registry = {},
                                                    const std::string& rootKey = kKeyedArchiveRootKey,
                                                    Error* error = nullptr, KeyedArchiveLimits limits = {});
  // The same for archives of plain values.
  static std::optional<Value> unarchiveValue(const Data& data, const std::string& rootKey = kKeyedArchiveRootKey,
                                             Error* error = nullptr, KeyedArchiveLimits limits = {});

 private:
  const Value* field(const std::string& key) const;
  ArchiveItem decodeRef(std::uint64_t ref);
  ArchiveItem decodeBuiltIn(const std::string& className, const Dictionary& object);
  void fail(long code, std::string why);

  ArchiveClassRegistry registry_;
  KeyedArchiveLimits limits_;
  ClassSubstitution substitution_;
  Value root_;
  const Array* objects_ = nullptr;
  std::vector<const Dictionary*> stack_;
  std::map<std::uint64_t, ArchiveItem> decoded_;
  std::set<std::uint64_t> inProgress_;
  std::optional<Error> error_;
};

}  // namespace os
