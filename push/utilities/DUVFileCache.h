#pragma once
// One process-wide dictionary of small values, kept as a keyed archive in the file "Zurar/<name>"
// of the Caches folder and written back when the application goes to the background or runs low
// on memory. The client thread reads and writes it while those notifications arrive on the main
// thread, so one lock guards the dictionary and the file.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "os/core/Value.h"
#include "os/runtime/NotificationCenter.h"

class DUVFileCache : public std::enable_shared_from_this<DUVFileCache> {
 public:
  // The shared instance of the current sandbox: made by the first call, which reads the file of
  // that name; later calls in the same sandbox return it and ignore their name.
  static std::shared_ptr<DUVFileCache> startShareInstance(const std::string& cacheName);
  // Null before the first startShareInstance.
  static std::shared_ptr<DUVFileCache> shareInstance();
  // A cache of its own over the file of that name in the current sandbox (the shared one is
  // made this way), observing the application's state.
  static std::shared_ptr<DUVFileCache> startCacheFile(const std::string& cacheName);

  ~DUVFileCache();
  DUVFileCache(const DUVFileCache&) = delete;
  DUVFileCache& operator=(const DUVFileCache&) = delete;

  bool hasObjectForKey(const std::string& key) const;
  // The decoded value; null when absent.
  os::Value objectForKey(const std::string& key) const;
  // A null value removes the key. The file is written only by synchronize.
  void setObject(const os::Value& object, const std::string& key);
  void removeObjectForKey(const std::string& key) { setObject(os::Value(), key); }
  void removeAllObjects();
  // Writes the whole dictionary aside and renames it over the file, so the old file stays whole
  // until the new one is; nothing when the file is there and holds it already. False, writing
  // nothing, when the file could not be read at start and could not be moved aside either: it is
  // never overwritten. A file that was there at start but could not be read then is read first,
  // and what this run did not change comes back from it; false, writing nothing, while it still
  // cannot be read.
  bool synchronize();
  // What the file should hold if the process crashed now: the dictionary with `entries` set (a
  // null entry removed), encoded ahead so that the crash handler only has to write it out. The
  // snapshot is kept in pieces (each entry, each entry of the dictionaries inside, and the entries
  // one level further down, the report records, in runs of entries), and only the pieces whose
  // value changed since the last snapshot are encoded again; arrays too go in runs of elements,
  // so a record that leaves re-encodes one run. The next start reads such a file as it reads the
  // archive.
  void prepareCrashSnapshot(const os::Dictionary& entries);
  // How many pieces the last prepareCrashSnapshot encoded anew.
  std::size_t lastSnapshotPiecesArchived() const { return piecesArchived_; }
  // Deletes the Caches folder's contents and makes the folder again.
  void clearFile();
  // The file's path in the cache folder, the folder made when missing.
  std::string fileNameForKey(const std::string& fileName) const;
  const std::string& cacheName() const { return cacheName_; }
  std::string description() const;

  // Values other than collections, strings and numbers are kept as their own keyed archive.
  static os::Value encodeCacheObject(const os::Value& object);
  static os::Value decodeCacheObject(const os::Value& stored);
  // The value with every text a save could not write (not UTF-8, or holding a NUL) repaired, in
  // strings and in keys: what the cache stores, and what may go wherever it may go.
  static os::Value storableValue(const os::Value& value);

  struct PrivateTag {};
  DUVFileCache(PrivateTag, std::string cachePath, std::string cacheName);

 private:
  // A run of an array's elements or of a dictionary's entries (keys empty for an array), cut
  // where an element's or a key's hash says so, so that a removal or an insertion leaves the
  // runs after it as they were.
  struct SnapshotRun {
    std::vector<os::Dictionary::Entry> items;
    std::shared_ptr<const os::Data> bytes;
  };
  // One entry of the crash snapshot: a value encoded with its path; or a dictionary split into
  // its entries, or a dictionary or an array split into runs (its own piece, the empty
  // container, stands for it while empty).
  struct SnapshotPiece {
    enum class Kind { Value, Dictionary, Entries, Array };
    struct Children {
      std::unordered_map<std::string, SnapshotPiece> entries;
      std::unordered_multimap<std::size_t, SnapshotRun> runs;  // by the hash of their items
    };
    Kind kind = Kind::Value;
    os::Value value;
    std::shared_ptr<const os::Data> bytes;
    std::unique_ptr<Children> children;  // only containers have them: most pieces are values
  };
  void readFileName(const std::string& name);
  static std::optional<os::Dictionary> decodeFile(const os::Data& bytes, std::string& why);
  // The following three with mutex_ held.
  void setAside(const std::string& path, const std::string& why);
  // The file that could not be read at start, read now: false while it still cannot be, or when
  // it is damaged and could not be moved aside.
  bool readUnreadFile(const std::string& path);
  void observeApplicationState();
  void preparePiece(SnapshotPiece& piece, std::vector<std::string>& path, const os::Value& value,
                    std::vector<std::shared_ptr<const os::Data>>& out);
  void prepareRuns(SnapshotPiece& piece, const std::vector<std::string>& path, const std::vector<os::Dictionary::Entry>* entries,
                   const os::Array* elements, std::vector<std::shared_ptr<const os::Data>>& out);

  const std::string cachePath_;
  const std::string cacheUser_ = "Zurar";
  const std::string cacheName_;
  mutable std::mutex mutex_;
  os::Dictionary cacheObject_;
  bool snapshotPrepared_ = false;
  // The file could not be read at start and stayed where it was: nothing may replace it.
  bool keepOff_ = false;
  // The file was there at start but could not be read (no descriptor left, an I/O error): it is
  // read again before a save, and what this run changed meanwhile goes over what it holds.
  bool unread_ = false;
  std::unordered_set<std::string> changedWhileUnread_;
  bool clearedWhileUnread_ = false;
  // Changed since the last save wrote the file (or none has yet).
  bool unsaved_ = true;
  // The client thread's alone: only prepareCrashSnapshot touches them.
  std::unordered_map<std::string, SnapshotPiece> snapshot_;
  std::size_t piecesArchived_ = 0;
  os::NotificationCenter::ObserverToken backgroundToken_ = 0, memoryToken_ = 0;
};
