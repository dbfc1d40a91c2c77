#include "news/store/VXNewsDBManager.h"

#include <optional>
#include <set>
#include <utility>

#include "foundation/sqlite/SQDatabase.h"
#include "foundation/sqlite/SQDatabaseQueue.h"
#include "foundation/sqlite/SQResultSet.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/store/VXRecordReading.h"
#include "os/core/Log.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"

using vxrecord::integerMember;
using vxrecord::stringMember;

namespace {

void writeLog(std::string_view line) {
  if (auto writer = VXReaderContext::current()->databaseLog.get())
    writer(line);
  else
    VXGlobalHelper::writeLog(line);
}

constexpr const char* kCreateCategoryTable =
    "create table if not exists ZCATEGORY (ZID integer primary key, ZNAME text, ZORDER integer, ZFLAG integer, "
    "ZLASTUPDATE float, ZRESERVE1 text, ZRESERVE2 text, ZRESERVE3 text, ZRESERVE4 text, ZRESERVE5 text, "
    "ZRESERVE6 text, ZRESERVE7 text, ZRESERVE8 text, ZRESERVE9 text, ZRESERVE10 text)";
constexpr const char* kCreateArticleTable =
    "create table if not exists ZARTICLE (ZPK integer primary key, ZORDER integer, ZID integer, ZCATEGORY integer, "
    "ZTITLE text, ZSOURCE text, ZPUBLISHTIME integer, ZSUMMARY text, ZICON1 text, ZICON2 text, ZICON3 text, "
    "ZRESERVE1 text, ZRESERVE2 text, ZRESERVE3 text, ZRESERVE4 text, ZRESERVE5 text, ZRESERVE6 text, "
    "ZRESERVE7 text, ZRESERVE8 text, ZRESERVE9 text, ZRESERVE10 text)";
// A category's rows by id (is an item stored?) and by position (its list, its top and its end):
// without them every lookup reads the whole table, and a list costs the square of its length.
// Plain indexes: a file from before them may hold a repeated pair, which a unique one would refuse.
constexpr const char* kCreateArticleIndexes[] = {
    "create index if not exists ZARTICLE_CATEGORY_ID on ZARTICLE (ZCATEGORY, ZID)",
    "create index if not exists ZARTICLE_CATEGORY_ORDER on ZARTICLE (ZCATEGORY, ZORDER)"};
constexpr const char* kCreateHistoryTable =
    "create table if not exists ZHISTORY (ZID integer primary key, ZRESERVE1 text, ZRESERVE2 text, ZRESERVE3 text, "
    "ZRESERVE4 text, ZRESERVE5 text)";

// A string member, or a null binding when it is absent or not text.
os::Value textOrNull(const os::Dictionary& dict, std::string_view key) {
  auto s = stringMember(dict, key);
  return s ? os::Value(*s) : os::Value();
}

os::Value integerOrNull(const os::Dictionary& dict, std::string_view key) {
  auto v = integerMember(dict, key);
  return v ? os::Value(*v) : os::Value();
}

bool insertCategoryRow(SQDatabase& db, const os::Dictionary& category) {
  os::Value id = integerOrNull(category, "id");
  std::string idText = id.isNull() ? "(null)" : std::to_string(id.intValue());
  if (!db.executeUpdate("delete from ZCATEGORY where ZID = ?", id)) {
    os::log("delete table ZCATEGORY failed zid = " + idText);
    return false;
  }
  os::Array values{id, textOrNull(category, "name"), integerOrNull(category, "order"), integerOrNull(category, "flag")};
  values.resize(15);  // ZLASTUPDATE and the reserves start null
  if (!db.executeUpdateWithArgumentsInArray("insert into ZCATEGORY values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                                            values)) {
    os::log("insert table ZCATEGORY failed zid = " + idText);
    return false;
  }
  return true;
}

bool articleExists(SQDatabase& db, long long id, long long category) {
  auto rs = db.executeQuery("select 1 from ZARTICLE where ZID = ? and ZCATEGORY = ? limit 1", id, category);
  return rs && rs->next();
}

// The position of a category's top row (or of its last), nothing when it has none: one step into
// the position index.
std::optional<long long> categoryEnd(SQDatabase& db, long long category, bool top) {
  auto rs = db.executeQuery(top ? "select ZORDER from ZARTICLE where ZCATEGORY = ? and ZORDER is not null order by ZORDER limit 1"
                                : "select ZORDER from ZARTICLE where ZCATEGORY = ? and ZORDER is not null order by ZORDER desc limit 1",
                            category);
  if (!rs || !rs->next()) return std::nullopt;
  std::optional<long long> order;
  if (!rs->columnIndexIsNull(0)) order = rs->longLongIntForColumnIndex(0);
  rs->close();
  return order;
}

// The key the next row takes.
long long nextArticleKey(SQDatabase& db) { return db.longForQuery("select max(ZPK) from ZARTICLE") + 1; }

// One ZARTICLE row with the given key at the given position.
bool insertArticleRow(SQDatabase& db, const os::Dictionary& item, long long key, long long order) {
  os::Array values{os::Value(key),
                   os::Value(order),
                   integerOrNull(item, "id"),
                   integerOrNull(item, "category"),
                   textOrNull(item, "title"),
                   textOrNull(item, "source"),
                   integerOrNull(item, "publishtime"),
                   textOrNull(item, "summary"),
                   textOrNull(item, "icon1"),
                   textOrNull(item, "icon2"),
                   textOrNull(item, "icon3"),
                   textOrNull(item, "upmark"),
                   textOrNull(item, "type")};
  values.resize(21);  // the remaining reserves stay null
  if (!db.executeUpdateWithArgumentsInArray(
          "insert into ZARTICLE values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)", values)) {
    os::log("insert ZARTICLE failed.");
    return false;
  }
  return true;
}

std::vector<long long> idColumn(SQDatabase& db, std::string_view sql, const os::Array& args) {
  std::vector<long long> ids;
  auto rs = db.executeQueryWithArgumentsInArray(sql, args);
  while (rs && rs->next()) ids.push_back(rs->longLongIntForColumn("ZID"));
  return ids;
}

}  // namespace

VXNewsDBManager::VXNewsDBManager(std::string path) : path_(std::move(path)) { initDB(); }

VXNewsDBManager::~VXNewsDBManager() {
  if (queue_) queue_->close();
}

std::shared_ptr<VXNewsDBManager> VXNewsDBManager::share() { return share(*VXReaderContext::current()); }

std::shared_ptr<VXNewsDBManager> VXNewsDBManager::share(VXReaderContext& context) {
  return context.database.get([] {
    return std::make_shared<VXNewsDBManager>(
        os::appendingPathComponent(os::Sandbox::current()->cachesDirectory(), kNewsDBFileName));
  });
}

std::shared_ptr<VXNewsDBManager> VXNewsDBManager::setShared(std::shared_ptr<VXNewsDBManager> manager) {
  return VXReaderContext::current()->database.set(std::move(manager));
}

void VXNewsDBManager::setLogWriter(LogWriter writer) { VXReaderContext::current()->databaseLog.set(std::move(writer)); }

void VXNewsDBManager::setHistoryClearedHandler(std::function<void()> handler) {
  std::lock_guard lock(handlerMutex_);
  historyCleared_ = std::move(handler);
}

void VXNewsDBManager::initDB(bool logFailure) {
  auto queue = SQDatabaseQueue::databaseQueueWithPath(path_);
  if (queue) {
    std::optional<os::Error> damage;
    queue->inDatabase([&](SQDatabase& db) {
      damage = db.quickCheck();
      if (!db.damageDetected()) damage.reset();  // busy or the like: the file itself is fine
    });
    if (damage) {
      // A damaged file would fail every write forever and show nothing: set it aside (it may
      // still be worth a look) and start afresh; the lists come back from the server.
      queue->close();
      setAside(damage->localizedDescription());
      queue = SQDatabaseQueue::databaseQueueWithPath(path_);
    }
  }
  {
    std::lock_guard lock(queueMutex_);
    queue_ = queue;
  }
  if (!queue) {
    if (logFailure) writeLog("news db open failed");
    return;
  }
  queue->inDatabase([](SQDatabase& db) {
    // The lists run the same few statements over and over: prepare each once.
    db.setShouldCacheStatements(true);
    // Readers (the main thread) and the writers of history and offline work no longer wait for
    // one another.
    db.executeStatements("pragma journal_mode = wal");
    // With the log a commit stays consistent without a flush to disk; only a power cut may lose
    // the last few (the lists are the server's, fetched again). Storing a page of a list then no
    // longer waits for the disk, which the first list on screen did three times.
    db.executeStatements("pragma synchronous = normal");
    if (!db.executeUpdate(kCreateCategoryTable)) {
      writeLog("create news category table failed");
      return;
    }
    if (!db.executeUpdate(kCreateArticleTable)) {
      writeLog("create news article table failed");
      return;
    }
    if (!db.executeUpdate(kCreateHistoryTable)) {
      writeLog("create history table failed");
      return;
    }
    // Made once on a file from before them. Without them the lists still work, only slowly.
    for (const char* index : kCreateArticleIndexes)
      if (!db.executeUpdate(index)) writeLog("create news article index failed");
  });
}

void VXNewsDBManager::setAside(const std::string& why) {
  auto& fm = os::FileManager::defaultManager();
  std::string aside = path_ + ".corrupt";
  fm.removeItemAtPath(aside);
  fm.moveItemAtPath(path_, aside);
  // The journal files belong to the damaged file: a new file must not pick them up.
  for (const char* suffix : {"-wal", "-shm", "-journal"}) fm.removeItemAtPath(path_ + suffix);
  writeLog("news db damaged, set aside as " + aside + ": " + why);
}

std::shared_ptr<SQDatabaseQueue> VXNewsDBManager::openQueue() {
  {
    std::lock_guard lock(queueMutex_);
    if (queue_) return queue_;
  }
  // Not open: the start could not open the file (no descriptor left, the disk busy). It is tried
  // again now, so the stored lists come back once it can be and this run's reads are kept; the
  // failure was logged once already.
  std::lock_guard opening(openMutex_);
  {
    std::lock_guard lock(queueMutex_);
    if (queue_) return queue_;
  }
  initDB(false);
  std::lock_guard lock(queueMutex_);
  return queue_;
}

bool VXNewsDBManager::inDatabase(const std::function<void(SQDatabase&)>& work) {
  std::shared_ptr<SQDatabaseQueue> queue = openQueue();
  if (!queue) return false;
  bool ran = false, damaged = false;
  queue->inDatabase([&](SQDatabase& db) {
    ran = true;
    work(db);
    damaged = db.damageDetected();
  });
  if (damaged) rebuild(queue);
  return ran;
}

void VXNewsDBManager::rebuild(const std::shared_ptr<SQDatabaseQueue>& damaged) {
  // Held throughout, so no use opens the damaged file again before it is set aside.
  std::lock_guard opening(openMutex_);
  {
    std::lock_guard lock(queueMutex_);
    // Another thread may have rebuilt it already.
    if (queue_ != damaged) return;
    queue_.reset();
  }
  damaged->close();
  setAside("damage found while in use");
  initDB();
}

bool VXNewsDBManager::inTransaction(const std::function<void(SQDatabase&, bool& rollback)>& work,
                                    const std::function<void()>& committedWork) {
  bool committed = false;
  inDatabase([&](SQDatabase& db) {
    bool rollbackRequested = false;
    auto error = db.runInTransaction(false, [&](SQDatabase& d, bool& rollback) {
      work(d, rollback);
      rollbackRequested = rollback;
    });
    committed = !error && !rollbackRequested;
    if (committed && committedWork) committedWork();
  });
  return committed;
}

// --- categories ---

bool VXNewsDBManager::insertCategory(const os::Dictionary& category) {
  bool ok = false;
  inTransaction([&](SQDatabase& db, bool& rollback) {
    ok = insertCategoryRow(db, category);
    rollback = !ok;
  });
  return ok;
}

bool VXNewsDBManager::clearCategoryTable() {
  bool ok = false;
  inDatabase([&](SQDatabase& db) { ok = db.executeUpdate("delete from ZCATEGORY"); });
  if (!ok) os::log("delete category failed");
  return ok;
}

bool VXNewsDBManager::replaceCategories(const std::vector<VXNewsCategory>& categories) {
  if (categories.empty()) return false;
  bool ok = false;
  bool committed = inTransaction([&](SQDatabase& db, bool& rollback) {
    ok = db.executeUpdate("delete from ZCATEGORY");
    if (!ok) os::log("delete category failed");
    for (std::size_t i = 0; ok && i < categories.size(); ++i) ok = insertCategoryRow(db, categories[i].dictForDB());
    rollback = !ok;
  });
  return ok && committed;
}

std::vector<VXNewsCategory> VXNewsDBManager::createCategoryListWithDB() {
  std::vector<VXNewsCategory> list;
  inDatabase([&](SQDatabase& db) {
    auto rs = db.executeQuery("select * from ZCATEGORY order by ZORDER");
    while (rs && rs->next()) {
      os::Dictionary row{{"id", os::Value(rs->longLongIntForColumn("ZID"))},
                         {"name", rs->objectForColumnName("ZNAME")},
                         {"order", rs->objectForColumnName("ZORDER")},
                         {"flag", rs->objectForColumnName("ZFLAG")}};
      list.emplace_back(row);
    }
  });
  return list;
}

bool VXNewsDBManager::updateCategory(long long categoryID, double lastUpdate) {
  bool ok = false;
  // Bound as a double: a single-precision time is off by about a minute at today's values.
  inDatabase([&](SQDatabase& db) {
    ok = db.executeUpdate("update ZCATEGORY set ZLASTUPDATE = ? where ZID = ?", lastUpdate, categoryID);
  });
  if (!ok) os::log("update lastupdate of category failed");
  return ok;
}

double VXNewsDBManager::lastUpdateWithCategory(long long categoryID) {
  double last = 0;
  inDatabase([&](SQDatabase& db) {
    auto rs = db.executeQuery("select ZLASTUPDATE from ZCATEGORY where ZID = ?", categoryID);
    if (rs && rs->next()) {
      last = rs->doubleForColumnIndex(0);
      rs->close();
    }
  });
  return last;
}

// --- articles ---

bool VXNewsDBManager::insertArticle(const os::Dictionary& item, bool front) {
  long long id = integerMember(item, "id").value_or(0);
  long long category = integerMember(item, "category").value_or(0);
  bool ok = false;
  inTransaction(
      [&](SQDatabase& db, bool& rollback) {
        if (articleExists(db, id, category)) return;
        // Just above the top or just below the end: the stored rows keep their positions, so an
        // item costs the same however long the list.
        auto end = categoryEnd(db, category, front);
        long long order = end ? (front ? *end - 1 : *end + 1) : 1;
        ok = insertArticleRow(db, item, nextArticleKey(db), order);
        rollback = !ok;
      },
      [&] {
        if (ok) storedInto(category);
      });
  return ok;
}

namespace {

// Inside a transaction: stores the items the category does not hold yet above its stored ones
// (front) or below them, keeping their server order (an id repeated within the batch counts once),
// into `stored`, each next to the one stored before it: at the top the last-listed first, at the
// end the first-listed first. False when a row could not be written: the caller rolls back.
bool insertFreshArticles(SQDatabase& db, const os::Array& items, long long category, bool front,
                         std::vector<std::shared_ptr<VXNewsDO>>& stored) {
  std::vector<std::shared_ptr<VXNewsDO>> fresh;
  std::set<long long> seen;
  for (const os::Value& item : items) {
    const os::Dictionary* dict = item.dictionary();
    if (!dict) continue;
    auto news = std::make_shared<VXNewsDO>(*dict, category);
    if (!seen.insert(news->ID()).second) continue;
    if (articleExists(db, news->ID(), category)) continue;
    fresh.push_back(std::move(news));
  }
  if (fresh.empty()) return true;
  long long n = static_cast<long long>(fresh.size());
  // The new items take the n positions just above the stored top, or just below the stored end
  // (1 to n in an empty category), rather than moving any stored row: a page costs what it brings.
  auto end = categoryEnd(db, category, front);
  const long long first = end ? (front ? *end - n : *end + 1) : 1;
  long long key = nextArticleKey(db);
  for (long long k = 0; k < n; ++k) {
    const long long i = front ? n - 1 - k : k;
    auto& news = fresh[static_cast<std::size_t>(i)];
    // Part of a batch would leave the list with a hole in the middle of the new items.
    // All or nothing.
    if (!insertArticleRow(db, news->dictForDB(), key++, first + i)) return false;
    stored.push_back(news);
  }
  return true;
}

}  // namespace

std::vector<std::shared_ptr<VXNewsDO>> VXNewsDBManager::insertArticles(const os::Array& items, long long category) {
  return storeArticles(items, category, true).value_or(std::vector<std::shared_ptr<VXNewsDO>>());
}

std::optional<std::vector<std::shared_ptr<VXNewsDO>>> VXNewsDBManager::storeArticles(const os::Array& items,
                                                                                      long long category, bool front) {
  return storePage(items, category, front, false);
}

std::optional<std::vector<std::shared_ptr<VXNewsDO>>> VXNewsDBManager::replaceArticles(const os::Array& items,
                                                                                        long long category) {
  return storePage(items, category, true, true);
}

VXNewsDBManager::ArticleTurn VXNewsDBManager::articleTurn() const {
  std::lock_guard lock(turnsMutex_);
  return turns_;
}

std::optional<std::vector<std::shared_ptr<VXNewsDO>>> VXNewsDBManager::replaceArticles(const os::Array& items,
                                                                                        long long category,
                                                                                        ArticleTurn asked) {
  return storePage(items, category, true, true, asked);
}

void VXNewsDBManager::storedInto(long long category) {
  std::lock_guard lock(turnsMutex_);
  storedTurn_[category] = ++turns_;
}

std::optional<std::vector<std::shared_ptr<VXNewsDO>>> VXNewsDBManager::storePage(const os::Array& items,
                                                                                  long long category, bool front,
                                                                                  bool replacing,
                                                                                  std::optional<ArticleTurn> asked) {
  std::vector<std::shared_ptr<VXNewsDO>> stored;
  bool superseded = false;
  bool committed = inTransaction(
      [&](SQDatabase& db, bool& rollback) {
        // Decided alone on the connection, so no store can come between the look and the replacement.
        if (asked) {
          std::lock_guard lock(turnsMutex_);
          auto last = storedTurn_.find(category);
          superseded = last != storedTurn_.end() && last->second > *asked;
        }
        if (superseded) return;
        rollback = (replacing && !db.executeUpdate("delete from ZARTICLE where ZCATEGORY = ?", category)) ||
                   !insertFreshArticles(db, items, category, front, stored);
      },
      [&] {
        // A replacement counts even when it stored nothing: the rows it took away are gone too.
        if (!superseded && (replacing || !stored.empty())) storedInto(category);
      });
  if (!committed) {
    os::log(replacing ? "replace articles failed" : "store articles failed");
    return std::nullopt;
  }
  return stored;
}

std::vector<std::shared_ptr<VXNewsDO>> VXNewsDBManager::createNewsListWithDB(long long category) {
  std::vector<std::shared_ptr<VXNewsDO>> list;
  inDatabase([&](SQDatabase& db) {
    auto rs = db.executeQuery("select * from ZARTICLE where ZCATEGORY = ? order by ZORDER", category);
    while (rs && rs->next()) {
      os::Dictionary row;
      row.set("id", os::Value(rs->longLongIntForColumn("ZID")));
      row.set("categoryid", os::Value(category));
      row.set("title", rs->objectForColumnName("ZTITLE"));
      row.set("source", rs->objectForColumnName("ZSOURCE"));
      if (!rs->columnIsNull("ZPUBLISHTIME"))
        row.set("publishtime", os::Value(std::to_string(rs->longLongIntForColumn("ZPUBLISHTIME"))));
      os::Array icons;
      for (const char* column : {"ZICON1", "ZICON2", "ZICON3"}) {
        auto icon = rs->stringForColumn(column);
        if (icon && !icon->empty()) icons.push_back(os::Value(*icon));
      }
      row.set("icons", os::Value(std::move(icons)));
      if (auto upmark = rs->stringForColumn("ZRESERVE1")) row.set("upmark", os::Value(*upmark));
      if (auto type = rs->stringForColumn("ZRESERVE2")) row.set("type", os::Value(*type));
      list.push_back(std::make_shared<VXNewsDO>(row));
    }
  });
  return list;
}

std::vector<os::Dictionary> VXNewsDBManager::getNewsIDWithDB(long long category) {
  std::vector<os::Dictionary> list;
  inDatabase([&](SQDatabase& db) {
    auto rs = db.executeQuery("select * from ZARTICLE where ZCATEGORY = ? order by ZORDER", category);
    while (rs && rs->next()) {
      os::Dictionary row{{"id", os::Value(rs->longLongIntForColumn("ZID"))}};
      static const std::pair<const char*, const char*> kIcons[] = {
          {"ZICON1", "icon1"}, {"ZICON2", "icon2"}, {"ZICON3", "icon3"}};
      for (const auto& [column, key] : kIcons) {
        auto icon = rs->stringForColumn(column);
        if (!icon) break;
        row.set(key, os::Value(*icon));
      }
      list.push_back(std::move(row));
    }
  });
  return list;
}

bool VXNewsDBManager::deleteArticleWithID(long long category) {
  bool ok = false;
  inDatabase([&](SQDatabase& db) { ok = db.executeUpdate("delete from ZARTICLE where ZCATEGORY = ?", category); });
  if (!ok) os::log("delete article with id failed");
  return ok;
}

bool VXNewsDBManager::clearArticle() {
  bool ok = false;
  inDatabase([&](SQDatabase& db) { ok = db.executeUpdate("delete from ZARTICLE"); });
  if (!ok) os::log("delete article failed");
  return ok;
}

bool VXNewsDBManager::clearCachesTable() {
  // Both tables or neither: a refusal half-way (a full disk) would keep the reads of articles no
  // longer stored, and the read marks would be emptied while the database still holds them.
  const bool cleared = inTransaction([&](SQDatabase& db, bool& rollback) {
    for (const char* sql : {"delete from ZARTICLE", "delete from ZHISTORY"}) {
      if (db.executeUpdate(sql)) continue;
      os::log("delete table failed");
      rollback = true;
      return;
    }
  });
  if (!cleared) return false;
  std::function<void()> handler;
  {
    std::lock_guard lock(handlerMutex_);
    handler = historyCleared_;
  }
  if (handler) handler();
  return true;
}

// --- read history ---

bool VXNewsDBManager::insertHistory(long long articleID) {
  bool ok = false;
  inDatabase([&](SQDatabase& db) {
    ok = db.executeUpdate("insert into ZHISTORY values (?, ?, ?, ?, ?, ?)", articleID, nullptr, nullptr, nullptr,
                          nullptr, nullptr);
  });
  if (!ok) os::log("insert history table failed");
  return ok;
}

std::vector<long long> VXNewsDBManager::getHistoryID() {
  std::vector<long long> ids;
  inDatabase([&](SQDatabase& db) {
    // A read still waiting for upload is not the trim's to drop: it leaves only once uploaded.
    if (db.longForQuery("select count(*) from ZHISTORY") >= kHistoryTrimThreshold &&
        !db.executeUpdate("delete from ZHISTORY where ZID in (select ZID from ZHISTORY where ZRESERVE2 is null or "
                          "ZRESERVE2 != ? order by ZID limit ?)",
                          "0", kHistoryTrimCount))
      os::log("delete redundancy from ZHISTORY failed.");
    ids = idColumn(db, "select * from ZHISTORY order by ZID", {});
  });
  return ids;
}

bool VXNewsDBManager::offlineHistory(long long articleID) {
  bool ok = false;
  inTransaction([&](SQDatabase& db, bool& rollback) {
    auto rs = db.executeQuery("select ZRESERVE1 from ZHISTORY where ZID = ?", articleID);
    if (!rs || !rs->next()) return;
    bool marked = !rs->columnIndexIsNull(0);
    rs->close();
    if (marked) return;
    ok = db.executeUpdate("update ZHISTORY set ZRESERVE1 = ? , ZRESERVE2 = ? where ZID = ?", "1", "0", articleID);
    rollback = !ok;
  });
  return ok;
}

std::vector<long long> VXNewsDBManager::historyForPost() {
  std::vector<long long> ids;
  inDatabase([&](SQDatabase& db) { ids = idColumn(db, "select * from ZHISTORY where ZRESERVE2 = ? order by ZID", {os::Value("0")}); });
  return ids;
}

bool VXNewsDBManager::updateHistoryPost(long long articleID) {
  bool ok = false;
  inDatabase([&](SQDatabase& db) {
    ok = db.executeUpdate("update ZHISTORY set ZRESERVE2 = ? where ZID = ?", "1", articleID);
  });
  return ok;
}
