#pragma once
// Report records that wait for an upload, on the memory cache: the pending records (its
// dictionary, oldest first in its key order), which the next report takes in beside its own
// record; and the in-flight area, the records of packets posted and not yet answered, one key per
// record so that a failed packet brings every record back. Pending records are bounded by the
// size of the archived cache, not by the memory cache's count, and a memory warning leaves them:
// they exist nowhere else.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "os/core/Value.h"
#include "push/utilities/DUVMemoryCache.h"

class DUVReportCache : public DUVMemoryCache {
 public:
  // The archive size past which the oldest pending records go.
  static constexpr std::size_t kMaximumArchiveBytes = 52428800;
  // How many of the oldest go at least at once when 100 or more wait; more go when that does not
  // bring the archive down to a sixteenth under the limit.
  static constexpr std::size_t kTrimRun = 10;

  // The share of the push file cache's file (a keyed archive the next start reads only up to
  // 192 MiB and 12 Mi objects) the report cache may take: records of many tiny dictionaries (the
  // pages of usage sessions) archive there in some five times the bytes the size check counts,
  // and past the file's limits every save would be refused. The rest is room for the client's
  // other state.
  struct FileShare {
    std::uint64_t bytes = std::uint64_t{128} << 20;
    std::uint64_t objects = std::uint64_t{8} << 20;
  };

  DUVReportCache() : DUVMemoryCache(PrivateTag{}) {}
  explicit DUVReportCache(FileShare share) : DUVMemoryCache(PrivateTag{}), share_(share) {}

  std::size_t count() const { return cacheObjects().size(); }
  const os::Dictionary& pending() const { return cacheObjects(); }
  const os::Dictionary& sendingPackageCache() const { return sending_; }

  // A new key goes to the end of the order; an existing one keeps its place.
  void addCacheObject(const os::Dictionary& record, const std::string& key);
  void removeCacheObjectForKey(const std::string& key) { removeObjectForKey(key); }
  // Whether a pending record is held under a flag's text: the text itself, or one of the per-record
  // keys "<flag>.<n>" its packets were kept under.
  bool checkReportFlag(const std::string& flag) const;
  // Every pending record (a dictionary, as held: a copy costs nothing), oldest first; the visitor
  // may stop by returning false.
  void enumerate(const std::function<bool(const std::string&, const os::Value&)>& visitor) const;

  void addSendingCacheObject(const os::Dictionary& record, const std::string& key);
  void removeSendingObjectForKey(const std::string& key);
  // Back to the pending records, when the area holds the key.
  void changeSendingObjectFailedForKey(const std::string& key);
  // Every in-flight record back to the pending records (the application became active).
  void resetCache();

  // The state as one value for the shared file cache ("cacheCount", "maxCacheCount",
  // "clearWhenMemoryLow", "cacheObjects", "cacheKeys", "sendingCache"), and back; anything
  // malformed reads as empty.
  os::Value archivedValue() const;
  static std::shared_ptr<DUVReportCache> fromArchivedValue(const os::Value& value);

  // A length the binary property list of archivedValue() cannot exceed, kept up to date as
  // records come and go at the cost of the record that changed. The size check archives the
  // whole cache only once this passes kMaximumArchiveBytes.
  std::uint64_t archiveLengthBound() const;
  // The same for the keyed archive the file cache writes of archivedValue(), and a count its
  // objects cannot exceed: the cache is trimmed to keep both within its file share.
  std::uint64_t fileLengthBound() const;
  std::uint64_t fileObjectsBound() const;
  const FileShare& fileShare() const { return share_; }
  // How many times the size checks archived the whole cache to learn its length.
  std::uint64_t wholeArchives() const { return wholeArchives_; }

 protected:
  void valueChanged(const std::string& key, const os::Value* object) override;
  void orderChanged(const std::string& key, long slots) override;
  void cleared() override;

 private:
  // What part of the cache adds to the archive, counted as if no object were shared: bytes of
  // the objects themselves, references between them and objects (one offset each).
  struct Footprint {
    std::int64_t bytes = 0;
    std::uint64_t refs = 0;
    std::uint64_t objects = 0;
    // Of the objects, the containers (and dates), which the keyed archive writes as a dictionary
    // of its own with lists of references.
    std::uint64_t containers = 0;
    // What the keyed archive writes for this part alone, whatever else it holds: every object but
    // text (each in a place of its own), of them the dictionaries, the arrays and sets, and the
    // data with their bytes.
    std::uint64_t places = 0;
    std::uint64_t dictionaries = 0;
    std::uint64_t lists = 0;
    std::uint64_t data = 0;
    std::int64_t dataBytes = 0;
    Footprint& operator+=(const Footprint& o);
    Footprint& operator-=(const Footprint& o);
  };
  static Footprint footprintOf(const os::Value& value);
  static Footprint footprintOfText(const std::string& text);
  // A keyed entry of either area: its key, its record and the two references to them.
  static Footprint entryFootprint(const std::string& key, const os::Value& record);
  // What of a part the property list writes wherever it stands, shared with nothing.
  static Footprint structureOf(const Footprint& f);
  static std::uint64_t lengthOf(const Footprint& f, unsigned refSize, unsigned offsetSize);

  void setSending(const std::string& key, const os::Value& record);
  // A footprint entering either area: the key (and record) it is made of, and whether it stands
  // in the in-flight area already (on its way to the pending records).
  void entered(const Footprint& f, const std::string& key, const os::Value* record, bool carried = false);
  // Records leaving either area: what the keyed archive surely loses with them.
  void left(const Footprint& f);
  // What entering text need not add to the keyed bound: all of it where the bound counts it already.
  std::uint64_t sharedTextLength(const std::string& text, bool counted);
  void calibrate(const os::Data& archive);
  void calculateCacheLength();
  void trimToArchiveLimit();
  // Archives the whole cache as the size check would and calibrates the bound by it.
  std::optional<std::uint64_t> measureArchive();
  // Counts the key under (or no longer under) each flag it stands under.
  void holdFlagsOf(const std::string& key, bool held);
  void trimToFileShare();
  // Archives the whole cache as the file cache would and calibrates the keyed bound by it.
  std::optional<std::uint64_t> measureFile();
  static std::uint64_t keyedLengthOf(const Footprint& f);
  Footprint everything() const;
  // What the archive loses at most when the oldest pending record goes.
  std::int64_t freedByOldest() const;

  os::Dictionary sending_;
  // How many pending keys stand under each flag as "<flag>.<n>": a flag is looked up at every
  // send, so the check must not walk every pending key.
  std::unordered_map<std::string, std::size_t> flagsHeld_;
  std::unordered_map<std::string, Footprint> pendingFootprints_;
  std::unordered_map<std::string, Footprint> sendingFootprints_;
  Footprint pendingSum_, orderSum_, sendingSum_;
  // The length of the last exact archive as a footprint, grown by every footprint that entered
  // since (a record moving back from flight by its containers alone) and shrunk only by the
  // containers and data that surely left (text and numbers may be shared with what stays).
  // Tighter than the sums, since it knows what the archive shares.
  bool calibrated_ = false;
  Footprint calibration_;
  unsigned calibratedRefSize_ = 1, calibratedOffsetSize_ = 1;
  FileShare share_;
  // The length of the last keyed archive measured, grown by the keyed share of every footprint
  // that entered since and shrunk only by what surely left with a record (what the archive
  // writes for each record alone, never its text): a bound while the archive's references and
  // offsets keep the widths it was measured with, so also the objects its list may hold by now.
  // A report refused thus moves its records through the bound at little cost.
  bool fileCalibrated_ = false;
  std::uint64_t fileCalibration_ = 0;
  std::uint64_t fileListObjects_ = 0;
  unsigned fileRefSize_ = 1, fileOffsetSize_ = 1;
  // The objects and (at most) the references of the archive measured: what widens with them.
  std::uint64_t fileMeasuredObjects_ = 0, fileMeasuredRefs_ = 0;
  // Short texts whose bytes the keyed bound counted since it was measured: the archive holds a
  // text once, so the names and kinds every record repeats are counted once, not at every add.
  // Any of them may have left since; the bound keeps their bytes all the same.
  std::unordered_set<std::string> fileTexts_;
  // The footprint of an in-flight record on its way to the pending records, known already.
  const Footprint* carried_ = nullptr;
  std::uint64_t wholeArchives_ = 0;
};
