#include "platforms/qq/QQPasteboard.h"

#include "platforms/qq/QQApiObject.h"
#include "platforms/qq/QQPluginMetadata.h"
#include "os/core/String.h"
#include "os/store/Pasteboard.h"

const os::ArchiveClassRegistry& QQApiArchiveClasses() {
  static const os::ArchiveClassRegistry registry = [] {
    os::ArchiveClassRegistry r;
    r.add(QQApiMessage::kClassName, [](os::KeyedUnarchiver& c) -> std::shared_ptr<os::Archivable> { return QQApiMessage::initWithCoder(c); });
    r.add(QQApiObjectCoderImpl::kClassName,
          [](os::KeyedUnarchiver& c) -> std::shared_ptr<os::Archivable> { return QQApiObjectCoderImpl::initWithCoder(c); });
    r.add(QQApiAdItem::kClassName, [](os::KeyedUnarchiver& c) -> std::shared_ptr<os::Archivable> { return QQApiAdItem::initWithCoder(c); });
    r.add(QQPluginMetadata::kClassName,
          [](os::KeyedUnarchiver& c) -> std::shared_ptr<os::Archivable> { return QQPluginMetadata::initWithCoder(c); });
    r.add(QQDataArray::kClassName, [](os::KeyedUnarchiver& c) -> std::shared_ptr<os::Archivable> { return QQDataArray::initWithCoder(c); });
    return r;
  }();
  return registry;
}

namespace {

std::optional<os::ArchiveItem> unarchive(const std::optional<os::Data>& data) {
  if (!data) return std::nullopt;
  return os::KeyedUnarchiver::unarchiveObject(*data, QQApiArchiveClasses());
}

std::shared_ptr<os::Pasteboard> board(const std::string& name, bool general) {
  if (general) return os::Pasteboard::generalPasteboard();
  auto b = os::Pasteboard::pasteboardWithName(name, true);
  if (b) b->setPersistent(true);
  return b;
}

}  // namespace

// ---- pasteboards ----

std::optional<os::Data> QQPasteboard::read(bool general) const {
  auto b = board(name_, general);
  return b ? b->dataForPasteboardType(name_) : std::nullopt;
}

void QQPasteboard::write(const std::optional<os::Data>& data, bool general) const {
  if (auto b = board(name_, general)) b->setData(data, name_);
}

void QQPasteboard::clear() {
  write(std::nullopt, false);
  write(std::nullopt, true);
}

void QQObjectPasteboard::setObject(const os::ArchiveItem& object) {
  write(object.isNull() ? std::nullopt : os::KeyedArchiver::archivedData(object), false);
}

void QQObjectPasteboard::setObjectByGeneralPastboard(const os::ArchiveItem& object) {
  write(object.isNull() ? std::nullopt : os::KeyedArchiver::archivedData(object), true);
}

std::optional<os::ArchiveItem> QQObjectPasteboard::object() const { return unarchive(read(false)); }
std::optional<os::ArchiveItem> QQObjectPasteboard::objectFromGeneralPastboard() const { return unarchive(read(true)); }

namespace {
std::shared_ptr<QQDataArray> storedArray(const std::optional<os::Data>& data) {
  auto item = unarchive(data);
  return item ? item->objectAs<QQDataArray>() : nullptr;
}
}  // namespace

void QQArrayPasteboard::addObject(const os::ArchiveItem& object) {
  if (object.isNull()) return;
  auto array = storedArray(read(false));
  if (!array) array = std::make_shared<QQDataArray>();
  array->addObject(object);
  write(os::KeyedArchiver::archivedData(array), false);
}

bool QQArrayPasteboard::removeObjectAtIndex(long index) {
  auto array = storedArray(read(false));
  if (!array || !array->removeObjectAtIndex(index)) return false;
  write(os::KeyedArchiver::archivedData(array), false);
  return true;
}

bool QQArrayPasteboard::replaceObjectAtIndex(long index, const os::ArchiveItem& object) {
  if (object.isNull()) return false;
  auto array = storedArray(read(false));
  if (!array || array->count() == 0 || !array->replaceObjectAtIndex(index, object)) return false;
  write(os::KeyedArchiver::archivedData(array), false);
  return true;
}

std::optional<std::vector<os::ArchiveItem>> QQArrayPasteboard::objectArray() const {
  auto data = read(false);
  if (!data) return std::nullopt;
  auto array = storedArray(data);
  if (!array) return std::nullopt;
  return array->objectArray();
}

QQPasteboardMgr& QQPasteboardMgr::instance() {
  static QQPasteboardMgr* mgr = new QQPasteboardMgr();
  return *mgr;
}

std::shared_ptr<QQObjectPasteboard> QQPasteboardMgr::getObjectPasteboardByName(const std::string& name) {
  if (name.empty()) return nullptr;
  for (const auto& b : boards_) {
    if (b->name() == name) return std::dynamic_pointer_cast<QQObjectPasteboard>(b);
  }
  auto b = std::make_shared<QQObjectPasteboard>(name);
  boards_.push_back(b);
  return b;
}

std::shared_ptr<QQArrayPasteboard> QQPasteboardMgr::getArrayPasteboardByName(const std::string& name) {
  if (name.empty()) return nullptr;
  for (const auto& b : boards_) {
    if (b->name() == name) return std::dynamic_pointer_cast<QQArrayPasteboard>(b);
  }
  auto b = std::make_shared<QQArrayPasteboard>(name);
  boards_.push_back(b);
  return b;
}

// ---- data array ----

os::Value QQDataArray::archive(const os::ArchiveItem& object) {
  auto data = os::KeyedArchiver::archivedData(object);
  return data ? os::Value(*data) : os::Value();
}

QQDataArray::QQDataArray(const std::vector<os::ArchiveItem>& objects) {
  for (const auto& o : objects) dataArray_.push_back(archive(o));
}

std::vector<os::ArchiveItem> QQDataArray::objectArray() const {
  std::vector<os::ArchiveItem> out;
  for (const auto& v : dataArray_) {
    std::optional<os::ArchiveItem> item;
    if (const os::Data* d = v.data()) item = os::KeyedUnarchiver::unarchiveObject(*d, QQApiArchiveClasses());
    out.push_back(item.value_or(os::ArchiveItem()));
  }
  return out;
}

void QQDataArray::addObject(const os::ArchiveItem& object) {
  if (!object.isNull()) dataArray_.push_back(archive(object));
}

bool QQDataArray::replaceObjectAtIndex(long index, const os::ArchiveItem& object) {
  if (object.isNull() || index < 0 || static_cast<std::size_t>(index) >= dataArray_.size()) return false;
  dataArray_[static_cast<std::size_t>(index)] = archive(object);
  return true;
}

bool QQDataArray::removeObjectAtIndex(long index) {
  if (index < 0 || static_cast<std::size_t>(index) >= dataArray_.size()) return false;
  dataArray_.erase(dataArray_.begin() + index);
  return true;
}

void QQDataArray::encodeWithCoder(os::KeyedArchiver& coder) const {
  coder.encodeObject(os::Value(os::Array(dataArray_.begin(), dataArray_.end())), "array");
}

std::shared_ptr<QQDataArray> QQDataArray::initWithCoder(os::KeyedUnarchiver& coder) {
  auto array = std::make_shared<QQDataArray>();
  if (auto v = coder.decodeValue("array"); v && v->array()) array->dataArray_ = *v->array();
  return array;
}

// ---- plugin record ----

std::string QQPluginMetadata::description() const {
  std::string s = os::format("ApiVersion: %d\n", ApiVersion);
  s += "scheme: " + scheme.value_or("(null)") + "\n";
  s += "displayName: " + displayName.value_or("(null)") + "\n";
  s += "bundleIdentifier: " + bundleIdentifier.value_or("(null)") + "\n";
  s += "version: " + version.value_or("(null)") + "\n";
  s += "iconFiles:\n{\n";
  for (const auto& [name, data] : iconFiles) {
    s += os::format("iconname: %s\niconsize: %d\n", name.c_str(), data.data() ? static_cast<int>(data.data()->size()) : 0);
  }
  return s + "}";
}

void QQPluginMetadata::encodeWithCoder(os::KeyedArchiver& coder) const {
  coder.encodeInt(ApiVersion, "ApiVersion");
  if (scheme) coder.encodeObject(os::Value(*scheme), "scheme");
  if (displayName) coder.encodeObject(os::Value(*displayName), "displayName");
  if (bundleIdentifier) coder.encodeObject(os::Value(*bundleIdentifier), "bundleIdentifier");
  if (version) coder.encodeObject(os::Value(*version), "version");
  coder.encodeObject(os::Value(iconFiles), "iconFiles");
}

std::shared_ptr<QQPluginMetadata> QQPluginMetadata::initWithCoder(os::KeyedUnarchiver& coder) {
  auto m = std::make_shared<QQPluginMetadata>();
  m->ApiVersion = coder.decodeInt("ApiVersion");
  if (m->ApiVersion < 1) return m;
  const auto text = [&](const char* key) -> std::optional<std::string> {
    auto s = coder.decodeString(key);
    if (s && !os::isValidUTF8(*s)) return std::nullopt;  // no text of the sender's
    return s;
  };
  m->scheme = text("scheme");
  m->displayName = text("displayName");
  m->bundleIdentifier = text("bundleIdentifier");
  m->version = text("version");
  if (auto icons = coder.decodeValue("iconFiles"); icons && icons->dictionary()) m->iconFiles = *icons->dictionary();
  return m;
}
