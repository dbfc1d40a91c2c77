#include "push/report/DUVReportCache.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include "os/store/BinaryPropertyList.h"
#include "os/store/KeyedArchive.h"
#include "os/store/PropertyList.h"

namespace {

// The count in front of a string, data or container: in the marker under 15, else an integer
// object of its own.
std::int64_t lengthHeader(std::uint64_t n) { return n < 15 ? 0 : 1 + os::BinaryPropertyList::integerWidth(n); }

std::uint64_t readBigEndian(const std::uint8_t* p, unsigned n) {
  std::uint64_t v = 0;
  for (unsigned i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

constexpr std::int64_t kLargestInteger = 17;  // marker and 16 bytes, past the signed 64-bit range
constexpr std::int64_t kLargestContainerHeader = 1 + 1 + 8;

}  // namespace

DUVReportCache::Footprint& DUVReportCache::Footprint::operator+=(const Footprint& o) {
  bytes += o.bytes;
  refs += o.refs;
  objects += o.objects;
  containers += o.containers;
  places += o.places;
  dictionaries += o.dictionaries;
  lists += o.lists;
  data += o.data;
  dataBytes += o.dataBytes;
  return *this;
}

DUVReportCache::Footprint& DUVReportCache::Footprint::operator-=(const Footprint& o) {
  bytes -= o.bytes;
  refs -= o.refs;
  objects -= o.objects;
  containers -= o.containers;
  places -= o.places;
  dictionaries -= o.dictionaries;
  lists -= o.lists;
  data -= o.data;
  dataBytes -= o.dataBytes;
  return *this;
}

DUVReportCache::Footprint DUVReportCache::footprintOfText(const std::string& text) {
  // ASCII as it stands, anything else as UTF-16: one unit per character, two past the BMP.
  std::uint64_t units = 0;
  bool ascii = true;
  for (unsigned char c : text) {
    if (c >= 0x80) ascii = false;
    if ((c & 0xC0) != 0x80) ++units;
    if (c >= 0xF0) ++units;
  }
  std::uint64_t length = ascii ? text.size() : units;
  return {1 + lengthHeader(length) + static_cast<std::int64_t>(ascii ? length : 2 * length), 0, 1};
}

DUVReportCache::Footprint DUVReportCache::footprintOf(const os::Value& value) {
  switch (value.type()) {
    case os::Value::Type::Null: return {};  // cannot be archived at all
    case os::Value::Type::Boolean: return {1, 0, 1, 0, 1};
    case os::Value::Type::Number: {
      if (value.isFloatingPoint()) return {9, 0, 1, 0, 1};
      if (value.isUnsigned() && value.unsignedValue() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return {kLargestInteger, 0, 1, 0, 1};
      if (value.intValue() < 0) return {9, 0, 1, 0, 1};
      return {1 + os::BinaryPropertyList::integerWidth(static_cast<std::uint64_t>(value.intValue())), 0, 1, 0, 1};
    }
    case os::Value::Type::String: return footprintOfText(*value.string());
    case os::Value::Type::Data: {
      std::uint64_t n = value.data()->size();
      const std::int64_t bytes = 1 + lengthHeader(n) + static_cast<std::int64_t>(n);
      return {bytes, 0, 1, 0, 1, 0, 0, 1, bytes};
    }
    case os::Value::Type::Date: return {9, 0, 1, 1, 1};
    case os::Value::Type::Array:
    case os::Value::Type::Set: {
      const os::Array& items = value.isArray() ? *value.array() : *value.setMembers();
      Footprint f{1 + lengthHeader(items.size()), items.size(), 1, 1, 1, 0, 1};
      for (const os::Value& item : items) f += footprintOf(item);
      return f;
    }
    case os::Value::Type::Dictionary: {
      const os::Dictionary& entries = *value.dictionary();
      Footprint f{1 + lengthHeader(entries.size()), 2 * entries.size(), 1, 1, 1, 1};
      for (const auto& [key, item] : entries) {
        f += footprintOfText(key);
        f += footprintOf(item);
      }
      return f;
    }
  }
  return {};
}

DUVReportCache::Footprint DUVReportCache::entryFootprint(const std::string& key, const os::Value& record) {
  Footprint f = footprintOfText(key);
  f += footprintOf(record);
  f.refs += 2;
  return f;
}

std::uint64_t DUVReportCache::lengthOf(const Footprint& f, unsigned refSize, unsigned offsetSize) {
  // Header, objects with their references, the offset table, the trailer; references and
  // offsets as wide as the writer makes them for the object count and the table's position (or
  // wider when the last archive had them so).
  unsigned r = std::max(refSize, os::BinaryPropertyList::referenceWidth(f.objects));
  auto table = static_cast<std::uint64_t>(std::max<std::int64_t>(8 + f.bytes + static_cast<std::int64_t>(r * f.refs), 8));
  unsigned o = std::max(offsetSize, os::BinaryPropertyList::referenceWidth(table));
  return table + o * f.objects + 32;
}

std::uint64_t DUVReportCache::archiveLengthBound() const {
  // The top dictionary: six keys, two integers and a flag at their largest, and the headers of
  // the three containers at theirs (their references are counted with each entry).
  std::uint64_t bound = lengthOf(everything(), 1, 1);
  if (calibrated_) bound = std::min(bound, lengthOf(calibration_, calibratedRefSize_, calibratedOffsetSize_));
  return bound;
}

namespace {

// Every text of a value, the keys of its dictionaries included.
void forEachText(const os::Value& value, const std::function<void(const std::string&)>& visit) {
  if (const std::string* text = value.string()) {
    visit(*text);
  } else if (const os::Dictionary* entries = value.dictionary()) {
    for (const auto& [key, item] : *entries) {
      visit(key);
      forEachText(item, visit);
    }
  } else if (value.isArray() || value.type() == os::Value::Type::Set) {
    for (const os::Value& item : value.isArray() ? *value.array() : *value.setMembers()) forEachText(item, visit);
  }
}

// Texts short enough to be names and kinds, and how many the bound remembers at once.
constexpr std::size_t kRememberedTextBytes = 64;
constexpr std::size_t kRememberedTexts = 1024;

}  // namespace

DUVReportCache::Footprint DUVReportCache::structureOf(const Footprint& f) {
  // The property list writes every container and data anew where it stands, with the references
  // it holds; text, numbers and dates once for all that hold them. A container's count at most
  // as long as the largest header.
  const std::uint64_t containers = f.dictionaries + f.lists;
  return {static_cast<std::int64_t>(kLargestContainerHeader * containers) + std::max<std::int64_t>(f.dataBytes, 0), f.refs,
          containers + f.data};
}

void DUVReportCache::left(const Footprint& f) {
  if (calibrated_) {
    // What surely leaves the property list with the part: its containers (a marker byte each at
    // least) and data, the references they hold and the offsets of both.
    const std::uint64_t containers = f.dictionaries + f.lists;
    calibration_.bytes -= std::min(static_cast<std::int64_t>(containers) + std::max<std::int64_t>(f.dataBytes, 0),
                                   std::max<std::int64_t>(calibration_.bytes, 0));
    calibration_.refs -= std::min(f.refs, calibration_.refs);
    calibration_.objects -= std::min(containers + f.data, calibration_.objects);
  }
  if (!fileCalibrated_) return;
  // At the widths the archive was measured with (it holds no wider ones while the bound stands):
  // the references the part held, and for each of its places the reference in the object list
  // and the reference value standing for it (two bytes at least) with its offset; a dictionary
  // is written as one of three entries and two lists, an array or set as one of two entries and
  // one list, a date as one of two entries; data as it is. Its text and numbers may be held by
  // others still.
  const std::uint64_t r = fileRefSize_, o = fileOffsetSize_;
  const std::uint64_t dates = f.containers - f.dictionaries - f.lists;
  const std::uint64_t bytes = r * f.refs + (r + 2 + o) * f.places + (3 + 6 * r + 3 * o) * f.dictionaries +
                              (2 + 4 * r + 2 * o) * f.lists + (1 + 4 * r + o) * dates +
                              static_cast<std::uint64_t>(std::max<std::int64_t>(f.dataBytes, 0)) + o * f.data;
  const std::uint64_t objects = f.places + 3 * f.dictionaries + 2 * f.lists + dates + f.data;
  fileCalibration_ -= std::min(bytes, fileCalibration_);
  fileListObjects_ -= std::min(objects, fileListObjects_);
}

std::uint64_t DUVReportCache::sharedTextLength(const std::string& text, bool counted) {
  const std::uint64_t length = keyedLengthOf(footprintOfText(text));
  if (counted) return length;
  if (text.size() > kRememberedTextBytes) return 0;
  if (fileTexts_.contains(text)) return length;
  if (fileTexts_.size() < kRememberedTexts) fileTexts_.insert(text);
  return 0;
}

void DUVReportCache::entered(const Footprint& f, const std::string& key, const os::Value* record, bool carried) {
  // A record on its way from the in-flight area holds what the list shares there already: only
  // its containers and data are written again.
  if (calibrated_) calibration_ += carried ? structureOf(f) : f;
  if (fileCalibrated_) {
    // Text already counted is held once: only the references to it are new. A record on its way
    // from the in-flight area stands there still, its texts all counted.
    std::uint64_t shared = sharedTextLength(key, carried);
    if (record) forEachText(*record, [&](const std::string& text) { shared += sharedTextLength(text, carried); });
    fileCalibration_ += keyedLengthOf(f) - std::min(shared, keyedLengthOf(f));
    // Each object and the reference value that stands for it; a container's two lists.
    fileListObjects_ += 2 * f.objects + 2 * f.containers;
  }
}

std::uint64_t DUVReportCache::keyedLengthOf(const Footprint& f) {
  // The keyed archive lists each object once more under "$objects" and refers to it through a
  // reference value of its own: per object a reference and an offset in the list, the reference
  // value (five bytes at most) and its offset; references and offsets four bytes wide (the file
  // holds under 4 GiB and fewer objects than that). A container becomes a dictionary of three
  // entries ("keys", "objects", "$class") and two lists, each with its offset; the references it
  // holds stand in those lists. Text, numbers and data as the property list holds them.
  constexpr std::uint64_t kPerObject = 4 + 4 + 5 + 4;
  constexpr std::uint64_t kPerContainer = (1 + 6 * 4) + 2 * (1 + 9) + 3 * 4;
  return static_cast<std::uint64_t>(std::max<std::int64_t>(f.bytes, 0)) + 4 * f.refs + kPerObject * f.objects +
         kPerContainer * f.containers;
}

DUVReportCache::Footprint DUVReportCache::everything() const {
  Footprint all{1, 12, 1, 1};
  for (const char* key : {"cacheCount", "maxCacheCount", "clearWhenMemoryLow", "cacheObjects", "cacheKeys", "sendingCache"})
    all += footprintOfText(key);
  all += Footprint{2 * kLargestInteger + 1 + 3 * kLargestContainerHeader, 0, 6, 3};
  all += pendingSum_;
  all += orderSum_;
  all += sendingSum_;
  return all;
}

std::uint64_t DUVReportCache::fileLengthBound() const {
  // The archive's own frame (header, trailer, its top dictionary, the class records and the
  // keys every container repeats) in a few KiB.
  std::uint64_t bound = keyedLengthOf(everything()) + 4096;
  if (!fileCalibrated_) return bound;
  // The measured length grown by what entered counts each new reference and offset at four bytes,
  // but not the ones measured widening: past the widths it was measured with, each of those may
  // grow to four bytes too (the offsets address the objects before their table, which the length
  // overstates by the table itself: dropping the measured length for the sums there would have
  // every change archive the whole cache until the table moved past the width).
  const unsigned refWidth = os::BinaryPropertyList::referenceWidth(fileListObjects_);
  const unsigned offsetWidth = os::BinaryPropertyList::referenceWidth(fileCalibration_);
  if (refWidth > 4 || offsetWidth > 4) return bound;
  std::uint64_t widened = fileCalibration_;
  if (refWidth > fileRefSize_) widened += (4 - fileRefSize_) * fileMeasuredRefs_;
  if (offsetWidth > fileOffsetSize_) widened += (4 - fileOffsetSize_) * fileMeasuredObjects_;
  return std::min(bound, widened);
}

std::uint64_t DUVReportCache::fileObjectsBound() const {
  // Each text once in the keyed archive, each other object once per place: never more than the
  // objects counted apart, and the frame's few.
  return everything().objects + 16;
}

void DUVReportCache::holdFlagsOf(const std::string& key, bool held) {
  // Every text before a dot may be a flag the key stands under.
  for (std::size_t dot = key.find('.'); dot != std::string::npos; dot = key.find('.', dot + 1)) {
    if (held) {
      ++flagsHeld_[key.substr(0, dot)];
    } else if (auto it = flagsHeld_.find(key.substr(0, dot)); it != flagsHeld_.end() && --it->second == 0) {
      flagsHeld_.erase(it);
    }
  }
}

void DUVReportCache::valueChanged(const std::string& key, const os::Value* object) {
  auto it = pendingFootprints_.find(key);
  if (it != pendingFootprints_.end()) {
    pendingSum_ -= it->second;
    if (!object) {
      left(it->second);
      pendingFootprints_.erase(it);
      holdFlagsOf(key, false);
      return;
    }
  } else if (object) {
    holdFlagsOf(key, true);
  }
  if (!object) return;
  Footprint f = carried_ ? *carried_ : entryFootprint(key, *object);
  pendingFootprints_[key] = f;
  pendingSum_ += f;
  entered(f, key, object, carried_ != nullptr);
}

void DUVReportCache::orderChanged(const std::string& key, long slots) {
  Footprint slot = footprintOfText(key);
  slot.refs += 1;
  for (long i = 0; i < slots; ++i) {
    orderSum_ += slot;
    entered(slot, key, nullptr, carried_ != nullptr);
  }
  for (long i = 0; i > slots; --i) {
    orderSum_ -= slot;
    left(Footprint{0, 1});
  }
}

void DUVReportCache::cleared() {
  pendingFootprints_.clear();
  flagsHeld_.clear();
  pendingSum_ = {};
  orderSum_ = {};
}

void DUVReportCache::setSending(const std::string& key, const os::Value& record) {
  Footprint f = entryFootprint(key, record);
  auto [it, added] = sendingFootprints_.try_emplace(key, f);
  if (!added) {
    sendingSum_ -= it->second;
    it->second = f;
  }
  sendingSum_ += f;
  entered(f, key, &record);
  sending_.set(key, record);
}

void DUVReportCache::removeSendingObjectForKey(const std::string& key) {
  if (!sending_.remove(key)) return;
  auto it = sendingFootprints_.find(key);
  sendingSum_ -= it->second;
  left(it->second);
  sendingFootprints_.erase(it);
}

void DUVReportCache::calibrate(const os::Data& archive) {
  if (archive.size() < 8 + 32) return;
  const std::uint8_t* trailer = archive.data() + archive.size() - 32;
  unsigned offsetSize = trailer[6], refSize = trailer[7];
  std::uint64_t objects = readBigEndian(trailer + 8, 8), table = readBigEndian(trailer + 24, 8);
  if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || table < 8) return;
  // The references as counted here (never fewer than the archive holds) at the archive's width,
  // the rest of the objects' bytes as it wrote them; any bytes past its table and trailer kept.
  std::uint64_t refs = 12 + pendingSum_.refs + orderSum_.refs + sendingSum_.refs;
  auto beyond = static_cast<std::int64_t>(archive.size()) - static_cast<std::int64_t>(table + offsetSize * objects + 32);
  calibration_ = {static_cast<std::int64_t>(table) - 8 - static_cast<std::int64_t>(refSize * refs) + beyond, refs, objects};
  // What may grow without a record entering: the two integers and the flag of the top dictionary,
  // each possibly shared with an equal record value now, and the three containers' headers.
  calibration_ += Footprint{2 * kLargestInteger + 1 + 3 * kLargestContainerHeader, 0, 6};
  calibratedRefSize_ = refSize;
  calibratedOffsetSize_ = offsetSize;
  calibrated_ = true;
}

void DUVReportCache::addCacheObject(const os::Dictionary& record, const std::string& key) {
  storeObject(os::Value(record), key);
  calculateCacheLength();
}

bool DUVReportCache::checkReportFlag(const std::string& flag) const {
  return pending().contains(flag) || flagsHeld_.contains(flag);
}

void DUVReportCache::enumerate(const std::function<bool(const std::string&, const os::Value&)>& visitor) const {
  // Over a copy, so that the visitor may change the cache; the entries alone, without an index.
  const std::vector<os::Dictionary::Entry> entries(pending().begin(), pending().end());
  for (const auto& [key, value] : entries)
    if (value.dictionary() && !visitor(key, value)) return;
}

void DUVReportCache::addSendingCacheObject(const os::Dictionary& record, const std::string& key) {
  setSending(key, os::Value(record));
  calculateCacheLength();
}

void DUVReportCache::changeSendingObjectFailedForKey(const std::string& key) {
  const os::Value* record = sending_.find(key);
  if (!record) return;
  if (const os::Dictionary* dictionary = record->dictionary()) {
    // The same key and record: its footprint moves along rather than being counted again.
    carried_ = &sendingFootprints_.at(key);
    storeObject(os::Value(*dictionary), key);
    carried_ = nullptr;
    calculateCacheLength();
  }
  removeSendingObjectForKey(key);
}

void DUVReportCache::resetCache() {
  const std::vector<os::Dictionary::Entry> entries(sending_.begin(), sending_.end());
  for (const auto& [key, value] : entries) {
    if (const os::Dictionary* record = value.dictionary()) {
      carried_ = &sendingFootprints_.at(key);
      storeObject(os::Value(*record), key);
      carried_ = nullptr;
    }
    removeSendingObjectForKey(key);
  }
}

std::int64_t DUVReportCache::freedByOldest() const {
  // Its entry in the pending dictionary and its slot in the key order (the key's text is written
  // once for both), references and offsets as wide as the last archive wrote them. Text the
  // record shares with others stays: this may count more than leaves, never what cannot.
  const std::string& key = cacheKeys().front();
  auto it = pendingFootprints_.find(key);
  Footprint f = it != pendingFootprints_.end() ? it->second : Footprint{};
  f.refs += 1;
  return f.bytes + static_cast<std::int64_t>(calibratedRefSize_ * f.refs + calibratedOffsetSize_ * f.objects);
}

void DUVReportCache::calculateCacheLength() {
  trimToArchiveLimit();
  trimToFileShare();
}

std::optional<std::uint64_t> DUVReportCache::measureFile() {
  ++wholeArchives_;
  auto archive = os::KeyedArchiver::archivedData(os::ArchiveItem(archivedValue()));
  if (!archive || archive->size() < 8 + 32) return std::nullopt;
  const std::uint8_t* trailer = archive->data() + archive->size() - 32;
  // What may grow without a record entering, as for the other archive: the top dictionary's two
  // integers and flag, each possibly shared with an equal record value now, and the containers'
  // headers.
  const Footprint frame{2 * kLargestInteger + 1 + 3 * kLargestContainerHeader, 0, 6};
  fileCalibration_ = archive->size() + keyedLengthOf(frame);
  fileMeasuredObjects_ = readBigEndian(trailer + 8, 8);
  fileListObjects_ = fileMeasuredObjects_ + 2 * frame.objects;
  fileOffsetSize_ = trailer[6];
  fileRefSize_ = std::max<unsigned>(trailer[7], 1);
  // Every reference stands in the objects' bytes, between the header and the offset table.
  fileMeasuredRefs_ = (std::max<std::uint64_t>(readBigEndian(trailer + 24, 8), 8) - 8) / fileRefSize_;
  fileTexts_.clear();
  fileCalibrated_ = true;
  return archive->size();
}

void DUVReportCache::trimToFileShare() {
  if (fileLengthBound() <= share_.bytes && fileObjectsBound() <= share_.objects) return;
  // Past the share, the oldest go until what the file will hold of the cache is a sixteenth of
  // the share under it: the bound then passes the share again only once records of as many bytes
  // have entered (or moved between the areas), so the archiving of the whole cache that learns
  // its length is paid once for every sixteenth of the share added, not at every add.
  const std::uint64_t bytesTarget = share_.bytes - share_.bytes / 16;
  const std::uint64_t objectsTarget = share_.objects - share_.objects / 16;
  // The objects are counted as they come and go; records that leave never lengthen the archive,
  // so its measured length stays a bound.
  if (fileObjectsBound() > share_.objects)
    while (count() > 0 && fileObjectsBound() > objectsTarget) removeFirstObject();
  if (fileLengthBound() <= share_.bytes) return;
  // Only the archive says how long it is; its bound found in the last sixteenth of the share, or
  // past it, is brought back to the target, else the next adds would measure it again soon (the
  // bound, not the length alone: where references or offsets are about to widen it stands past
  // the length).
  auto length = measureFile();
  while (length && fileLengthBound() > bytesTarget && count() > 0) {
    const std::uint64_t excess = fileLengthBound() - bytesTarget;
    // A record's keyed length counted apart, scaled by how much the archive's sharing saved
    // over the whole cache.
    const double shared = std::min(1.0, static_cast<double>(*length) /
                                            static_cast<double>(std::max<std::uint64_t>(keyedLengthOf(everything()), 1)));
    std::uint64_t freed = 0;
    while (count() > 0 && freed < excess) {
      Footprint f;
      if (auto it = pendingFootprints_.find(cacheKeys().front()); it != pendingFootprints_.end()) f = it->second;
      freed += static_cast<std::uint64_t>(static_cast<double>(keyedLengthOf(f)) * shared);
      removeFirstObject();
    }
    // What left may have shared text with what stays: only the archive says what is left.
    length = measureFile();
  }
}

std::optional<std::uint64_t> DUVReportCache::measureArchive() {
  ++wholeArchives_;
  auto archive = os::PropertyList::write(archivedValue(), os::PropertyListFormat::Binary);
  if (!archive) return std::nullopt;
  calibrate(*archive);
  return archive->size();
}

void DUVReportCache::trimToArchiveLimit() {
  // Under the bound the archive cannot be too long; past it, only the archive itself can say.
  if (archiveLengthBound() <= kMaximumArchiveBytes) return;
  auto length = measureArchive();
  // While fewer than 100 wait, the oldest go one at a time until the archive is under the limit.
  // From 100 on, an archive found past the limit or within its last sixteenth is brought down to
  // the low-water mark a sixteenth under it, a run of kTrimRun at least. The bound counts what
  // enters either area (what moves between them too), so after any measure it stands a
  // sixteenth under the limit and passes it again only once as much has come in: the
  // whole cache is archived a few times per sixteenth, not at every change near the limit (a
  // measure that trimmed nothing would leave the bound at the limit, and the next change would
  // archive again).
  const std::uint64_t lowWater = kMaximumArchiveBytes - kMaximumArchiveBytes / 16;
  std::size_t run = kTrimRun;
  while (length && count() > 0) {
    const bool many = count() >= 100;
    const std::uint64_t target = many ? lowWater : kMaximumArchiveBytes;
    if (*length <= target) return;
    const std::int64_t excess = static_cast<std::int64_t>(*length - target);
    // A record counted apart, scaled by how much the archive's sharing saved over the whole
    // cache: what stays may hold its text and numbers still.
    const double shared = std::min(1.0, static_cast<double>(*length) /
                                            static_cast<double>(std::max<std::uint64_t>(lengthOf(everything(), 1, 1), 1)));
    std::int64_t freed = 0;
    std::size_t removed = 0;
    while (count() > 0 && (removed < (many ? run : 1) || (many && freed < excess))) {
      freed += static_cast<std::int64_t>(static_cast<double>(freedByOldest()) * shared);
      removeFirstObject();
      ++removed;
    }
    // The calibration keeps what left of text and numbers (it may be shared with what stays):
    // it or the sums may give a bound under the target, else only measuring again does. Measured
    // past it still (what left shared more than counted), the oldest go on.
    if (archiveLengthBound() <= target) return;
    length = measureArchive();
    run = 1;
  }
}

os::Value DUVReportCache::archivedValue() const {
  os::Array keys;
  for (const auto& key : cacheKeys()) keys.push_back(os::Value(key));
  return os::Value(os::Dictionary{{"cacheCount", os::Value(cachedCount())},
                                  {"maxCacheCount", os::Value(maxCacheCount())},
                                  {"clearWhenMemoryLow", os::Value(clearWhenMemoryLow())},
                                  {"cacheObjects", os::Value(pending())},
                                  {"cacheKeys", os::Value(keys)},
                                  {"sendingCache", os::Value(sending_)}});
}

std::shared_ptr<DUVReportCache> DUVReportCache::fromArchivedValue(const os::Value& value) {
  auto cache = std::make_shared<DUVReportCache>();
  // The order is the dictionary's own (insertion order); only records count.
  if (const os::Dictionary* pending = value["cacheObjects"].dictionary())
    for (const auto& [key, record] : *pending)
      if (record.dictionary()) cache->storeObject(record, key);
  if (const os::Dictionary* sending = value["sendingCache"].dictionary())
    for (const auto& [key, record] : *sending)
      if (record.dictionary()) cache->setSending(key, record);
  return cache;
}
