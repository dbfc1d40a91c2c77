#pragma once
// The news client's local database "news.db" in the caches directory: the category list (tabs
// without a network), the news items of every category in display order, and the ids of the
// articles the reader opened (read marks and the read-history upload).
//
// The main thread, the history upload and the offline download all use it, so every operation
// runs alone on the one connection, and every operation of several statements (a key taken from
// max(ZPK), a position taken from a category's top or end, a rewrite of the categories) runs in one
// transaction.
//
// A category's rows sort top first by ZORDER. Items stored on top take the positions just above
// the current top (which may so go below 1) and the stored rows keep theirs, so that storing a
// page costs what the page brings, however long the list has grown.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "news/store/VXNewsCategory.h"
#include "news/store/VXNewsDO.h"
#include "os/core/Value.h"

class VXReaderContext;

class SQDatabase;
class SQDatabaseQueue;

// File name of the database in the caches directory.
inline constexpr const char* kNewsDBFileName = "news.db";

class VXNewsDBManager {
 public:
  using LogWriter = std::function<void(std::string_view line)>;

  // History trimming: at kHistoryTrimThreshold rows, the kHistoryTrimCount smallest ids go, reads
  // waiting for upload passed over.
  static constexpr long long kHistoryTrimThreshold = 1200;
  static constexpr long long kHistoryTrimCount = 1000;

  // Opens (creating when missing) the database file and its three tables. A failure is written
  // to the log and leaves a manager whose operations answer nothing. A damaged file, found at open
  // or later by any statement, is set aside as "news.db.corrupt" and a fresh one takes its place.
  explicit VXNewsDBManager(std::string path);
  ~VXNewsDBManager();
  VXNewsDBManager(const VXNewsDBManager&) = delete;
  VXNewsDBManager& operator=(const VXNewsDBManager&) = delete;

  // The shared instance: "news.db" in the current sandbox's caches directory, opened on first use.
  static std::shared_ptr<VXNewsDBManager> share();
  // The database of a given context (share() asks the current one).
  static std::shared_ptr<VXNewsDBManager> share(VXReaderContext& context);
  // Replaces the shared instance (null: a fresh one on the next share()); returns the previous one.
  static std::shared_ptr<VXNewsDBManager> setShared(std::shared_ptr<VXNewsDBManager> manager);
  // Where open and table-creation failures go: the application's log file, unless a writer is set
  // in its place (null: back to the log file).
  static void setLogWriter(LogWriter writer);

  // Called (outside the database's guard) after clearCachesTable emptied the read history, so that
  // the in-memory read history can follow.
  void setHistoryClearedHandler(std::function<void()> handler);

  const std::string& path() const { return path_; }
  bool isOpen() const {
    std::lock_guard lock(queueMutex_);
    return queue_ != nullptr;
  }

  // --- categories ---
  // {"id", "name", "order", "flag"}: replaces any stored category with the same id.
  bool insertCategory(const os::Dictionary& category);
  bool clearCategoryTable();
  // Replaces every stored category with the given ones, in one transaction. An empty list is
  // refused and changes nothing, so a bad server answer never wipes the tabs; a failure rolls
  // back to the previous list.
  bool replaceCategories(const std::vector<VXNewsCategory>& categories);
  // The stored categories in tab order.
  std::vector<VXNewsCategory> createCategoryListWithDB();
  // The last list refresh, seconds since 1 January 2001 UTC, kept at full double precision.
  bool updateCategory(long long categoryID, double lastUpdate);
  // 0 when the category is unknown or was never refreshed.
  double lastUpdateWithCategory(long long categoryID);

  // --- articles ---
  // One item dictionary (the form of VXNewsDO::dictForDB): at the top of its category when front
  // is set, else at the end. False when the category already holds the id, or on failure.
  bool insertArticle(const os::Dictionary& item, bool front);
  // Server items that the category does not hold yet go above the stored ones, keeping their
  // server order (an id repeated within the batch counts once). Answers the stored items, the
  // last-listed first. Empty both when nothing was new and when the database refused the rows.
  std::vector<std::shared_ptr<VXNewsDO>> insertArticles(const os::Array& items, long long category);
  // The same above the stored items (front) or below them, in one transaction, telling a refusal
  // (a full disk: absent, nothing stored) from nothing new (empty). Answers the stored items each
  // next to the one before it: at the top the last-listed first, at the end the first-listed first.
  std::optional<std::vector<std::shared_ptr<VXNewsDO>>> storeArticles(const os::Array& items, long long category,
                                                                      bool front);
  // The category's stored items become the server items, in one transaction: when the database
  // refuses any of it (a full disk), absent, and the category keeps the items it had.
  std::optional<std::vector<std::shared_ptr<VXNewsDO>>> replaceArticles(const os::Array& items, long long category);
  // Where article writes stand now: every item stored from here on comes after it.
  using ArticleTurn = unsigned long long;
  ArticleTurn articleTurn() const;
  // The same for a list asked for at `asked` (articleTurn() before the request went out), by a
  // writer that must not win over a newer one: when the category stored items since (a pull, a
  // next page or a refresh answered meanwhile), those stay and nothing is replaced (empty).
  std::optional<std::vector<std::shared_ptr<VXNewsDO>>> replaceArticles(const os::Array& items, long long category,
                                                                        ArticleTurn asked);
  // The category's items, top first.
  std::vector<std::shared_ptr<VXNewsDO>> createNewsListWithDB(long long category);
  // {"id", "icon1", "icon2", "icon3"} per stored item, top first; the icons end at the first
  // missing one.
  std::vector<os::Dictionary> getNewsIDWithDB(long long category);
  // Every stored item of the category.
  bool deleteArticleWithID(long long category);
  bool clearArticle();
  // Empties the articles and the read history, both or neither: false when the database refused
  // (a full disk), and then both stay as they were, and so does the read history kept in memory.
  bool clearCachesTable();

  // --- read history ---
  bool insertHistory(long long articleID);
  // Trims the history at its limit first; ids in ascending order.
  std::vector<long long> getHistoryID();
  // Marks a read article for the history upload; false when it has no row or is marked already.
  bool offlineHistory(long long articleID);
  // Marked ids that wait for upload.
  std::vector<long long> historyForPost();
  bool updateHistoryPost(long long articleID);

 private:
  // A page stored in one transaction, in place of the category's rows when replacing.
  std::optional<std::vector<std::shared_ptr<VXNewsDO>>> storePage(const os::Array& items, long long category,
                                                                  bool front, bool replacing,
                                                                  std::optional<ArticleTurn> asked = std::nullopt);
  // On the connection, after a commit that stored items of the category: it takes the next turn.
  void storedInto(long long category);
  // Opens the file (setting a damaged one aside) and makes the tables; a failed open is logged
  // when `logFailure`. Callers other than the constructor hold openMutex_.
  void initDB(bool logFailure = true);
  // The open connection; one the start could not open is tried again here, at each use.
  std::shared_ptr<SQDatabaseQueue> openQueue();
  // Runs work alone on the connection; false when the database is not open.
  bool inDatabase(const std::function<void(SQDatabase&)>& work);
  // The same inside a transaction; work sets rollback to undo everything. `committed` runs after a
  // commit, still alone on the connection.
  bool inTransaction(const std::function<void(SQDatabase&, bool& rollback)>& work,
                     const std::function<void()>& committed = nullptr);

  // Moves a damaged file (and its journal files) out of the way.
  void setAside(const std::string& why);
  // Replaces a connection that found its file damaged with one on a fresh file.
  void rebuild(const std::shared_ptr<SQDatabaseQueue>& damaged);

  std::string path_;
  mutable std::mutex queueMutex_;  // guards queue_, which a rebuild replaces
  std::mutex openMutex_;           // one opening of the file at a time after the start
  std::shared_ptr<SQDatabaseQueue> queue_;
  std::mutex handlerMutex_;
  std::function<void()> historyCleared_;
  // Article writes counted, and the turn of each category's last stored items.
  mutable std::mutex turnsMutex_;
  ArticleTurn turns_ = 0;
  std::map<long long, ArticleTurn> storedTurn_;
};
