#pragma once
// The named persistent pasteboards the QQ client and QQ exchange through: each item is a keyed
// archive stored under a type equal to the pasteboard's name. Only the QQ archive classes are
// ever made from what another application left there.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/store/KeyedArchive.h"

inline constexpr const char* kQQPasteboardRegisterAppPlugin = "com.velmora.mqq.api.registerAppPlugin";
inline constexpr const char* kQQPasteboardAdItems = "com.velmora.mqq.api.aditems";
inline constexpr const char* kQQPasteboardApiMessage = "com.velmora.mqq.api.apiMessage";
inline constexpr const char* kQQPasteboardApiLargeData = "com.velmora.mqq.api.apiLargeData";

class QQPasteboard {
 public:
  explicit QQPasteboard(std::string name) : name_(std::move(name)) {}
  virtual ~QQPasteboard() = default;
  const std::string& name() const { return name_; }
  // No data for the type, on the named pasteboard and on the general one.
  void clear();

 protected:
  std::optional<os::Data> read(bool general) const;
  void write(const std::optional<os::Data>& data, bool general) const;

 private:
  std::string name_;
};

class QQObjectPasteboard : public QQPasteboard {
 public:
  using QQPasteboard::QQPasteboard;
  void setObject(const os::ArchiveItem& object);
  void setObjectByGeneralPastboard(const os::ArchiveItem& object);
  // Nothing when there is no data or it is no archive of the QQ classes.
  std::optional<os::ArchiveItem> object() const;
  std::optional<os::ArchiveItem> objectFromGeneralPastboard() const;
};

// An array of archives (QQDataArray) as one pasteboard item.
class QQArrayPasteboard : public QQPasteboard {
 public:
  using QQPasteboard::QQPasteboard;
  void addObject(const os::ArchiveItem& object);
  bool removeObjectAtIndex(long index);
  bool replaceObjectAtIndex(long index, const os::ArchiveItem& object);
  // Elements that do not decode are null items; nothing when there is no data.
  std::optional<std::vector<os::ArchiveItem>> objectArray() const;
};

class QQPasteboardMgr {
 public:
  static QQPasteboardMgr& instance();
  // Nothing for an empty name or for a name already used by a pasteboard of the other kind.
  std::shared_ptr<QQObjectPasteboard> getObjectPasteboardByName(const std::string& name);
  std::shared_ptr<QQArrayPasteboard> getArrayPasteboardByName(const std::string& name);

 private:
  std::vector<std::shared_ptr<QQPasteboard>> boards_;
};

// Stored objects as separate keyed archives, so one that cannot be read costs only itself.
class QQDataArray : public os::Archivable {
 public:
  static constexpr const char* kClassName = "QQDataArray";
  QQDataArray() = default;
  explicit QQDataArray(const std::vector<os::ArchiveItem>& objects);

  std::vector<os::ArchiveItem> objectArray() const;
  std::size_t count() const { return dataArray_.size(); }
  void addObject(const os::ArchiveItem& object);
  bool replaceObjectAtIndex(long index, const os::ArchiveItem& object);
  bool removeObjectAtIndex(long index);
  void removeAllObjects() { dataArray_.clear(); }

  std::vector<std::string> archiveClassNames() const override { return {kClassName, os::kArchiveRootClass}; }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  static std::shared_ptr<QQDataArray> initWithCoder(os::KeyedUnarchiver& coder);

 private:
  static os::Value archive(const os::ArchiveItem& object);
  std::vector<os::Value> dataArray_;  // data, or null for an object that could not be archived
};
