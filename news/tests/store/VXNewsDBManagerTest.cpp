#include "news/store/VXNewsDBManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <thread>

#include "foundation/sqlite/SQDatabase.h"
#include "foundation/sqlite/SQResultSet.h"
#include "news/api/VXGlobalHelper.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"
#include "os/testing/NoDescriptorLeft.h"
#include "os/testing/TestSandbox.h"

namespace {

os::Dictionary item(long long id, std::string title = "t", os::Array icons = {}) {
  return os::Dictionary{{"id", os::Value(id)}, {"title", os::Value(std::move(title))}, {"icons", os::Value(std::move(icons))}};
}

os::Array batch(std::initializer_list<long long> ids) {
  os::Array items;
  for (long long id : ids) items.push_back(os::Value(item(id)));
  return items;
}

class NewsDB : public newstest::RealTimeFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(db_->isOpen());
    raw_ = SQDatabase::databaseWithPath(db_->path());
    ASSERT_TRUE(raw_->open());
  }

  // (ZID, ZORDER) of a category's rows, top first, read behind the manager's back.
  std::vector<std::pair<long long, long long>> orders(long long category) {
    std::vector<std::pair<long long, long long>> rows;
    auto rs = raw_->executeQuery("select ZID, ZORDER from ZARTICLE where ZCATEGORY = ? order by ZORDER", category);
    while (rs && rs->next()) rows.emplace_back(rs->longLongIntForColumnIndex(0), rs->longLongIntForColumnIndex(1));
    return rows;
  }

  void fillHistory(long long count) {
    ASSERT_TRUE(raw_->beginTransaction());
    for (long long id = 1; id <= count; ++id) ASSERT_TRUE(raw_->executeUpdate("insert into ZHISTORY (ZID) values (?)", id));
    ASSERT_TRUE(raw_->commit());
  }

  std::shared_ptr<VXNewsDBManager> db_ = VXNewsDBManager::share();
  std::shared_ptr<SQDatabase> raw_;
};

TEST_F(NewsDB, LivesInTheCachesDirectoryWithItsThreeTables) {
  EXPECT_EQ(db_->path(), os::appendingPathComponent(os::Sandbox::current()->cachesDirectory(), "news.db"));
  for (const char* table : {"ZCATEGORY", "ZARTICLE", "ZHISTORY"}) EXPECT_TRUE(raw_->tableExists(table)) << table;
  EXPECT_TRUE(raw_->columnExists("ZLASTUPDATE", "ZCATEGORY"));
  EXPECT_TRUE(raw_->columnExists("ZRESERVE10", "ZARTICLE"));
  EXPECT_TRUE(raw_->columnExists("ZRESERVE5", "ZHISTORY"));
}

TEST_F(NewsDB, AnUnopenableFileIsLoggedAndEveryOperationAnswersNothing) {
  const std::string logBefore = VXGlobalHelper::readLog().value_or("");
  VXNewsDBManager broken(env_.sandbox().root() + "/missing/folder/news.db");
  EXPECT_FALSE(broken.isOpen());
  // The application's log file, nothing after the failed open.
  EXPECT_EQ(VXGlobalHelper::readLog().value_or(""), logBefore + "news db open failed\n");
  EXPECT_FALSE(broken.insertArticle(item(1), true));
  EXPECT_TRUE(broken.insertArticles(batch({1, 2}), 1).empty());
  EXPECT_TRUE(broken.createCategoryListWithDB().empty());
  EXPECT_EQ(broken.lastUpdateWithCategory(1), 0);
  EXPECT_TRUE(broken.getHistoryID().empty());
}

// A start that could not open the file (no descriptor left) leaves it as it is, and opens it at
// the next use once it can: the stored lists and history come back, and what this run reads is
// kept.
TEST_F(NewsDB, AFileThatCouldNotBeOpenedAtStartIsOpenedAtTheNextUse) {
  ASSERT_EQ(db_->insertArticles(batch({1, 2}), 3).size(), 2u);
  ASSERT_TRUE(db_->insertHistory(7));
  // What the undefined-behaviour checker does on meeting a type for the first time needs a
  // descriptor: the failed open's types are met once before.
  { VXNewsDBManager unopenable(env_.sandbox().root() + "/missing/folder/news.db"); }
  std::optional<VXNewsDBManager> restarted;
  {
    os::testing::NoDescriptorLeft none;
    restarted.emplace(db_->path());
    EXPECT_TRUE(restarted->getHistoryID().empty());
  }
  EXPECT_FALSE(os::FileManager::defaultManager().fileExistsAtPath(db_->path() + ".corrupt"));
  EXPECT_EQ(restarted->getHistoryID(), std::vector<long long>{7});
  EXPECT_EQ(restarted->createNewsListWithDB(3).size(), 2u);
  EXPECT_TRUE(restarted->insertHistory(8));
  EXPECT_EQ(db_->getHistoryID(), (std::vector<long long>{7, 8}));
  EXPECT_TRUE(restarted->isOpen());
}

TEST_F(NewsDB, SingleInsertionsAreUniquePerCategoryAndGoOnTopOrAtTheEnd) {
  auto put = [&](long long id, long long category, bool front) {
    auto a = item(id);
    a.set("category", os::Value(category));
    return db_->insertArticle(a, front);
  };
  EXPECT_TRUE(put(1, 5, false));
  EXPECT_TRUE(put(2, 5, false));
  EXPECT_TRUE(put(3, 5, true));
  EXPECT_FALSE(put(1, 5, true));
  EXPECT_TRUE(put(1, 6, false));
  // On top means just above the top row: the stored rows keep their positions.
  EXPECT_EQ(orders(5), (std::vector<std::pair<long long, long long>>{{3, 0}, {1, 1}, {2, 2}}));
  EXPECT_EQ(orders(6).size(), 1u);
}

TEST_F(NewsDB, ABatchGoesAboveTheStoredItemsInServerOrder) {
  db_->insertArticles(batch({10, 11, 12, 13, 14}), 7);
  auto stored = db_->insertArticles(batch({20, 21, 22}), 7);
  ASSERT_EQ(stored.size(), 3u);
  // Handed back in insertion order: the last-listed new item first.
  EXPECT_EQ(stored[0]->ID(), 22);
  EXPECT_EQ(stored[2]->ID(), 20);
  EXPECT_EQ(stored[0]->category(), 7);
  // An empty category's items start at 1; later ones take the positions just above its top.
  EXPECT_EQ(orders(7), (std::vector<std::pair<long long, long long>>{
                           {20, -2}, {21, -1}, {22, 0}, {10, 1}, {11, 2}, {12, 3}, {13, 4}, {14, 5}}));
}

// A row whose position was lost (a file damaged or written by hand) sorts first but is no top:
// new items still go above the rows that have positions, never among them.
TEST_F(NewsDB, ARowWithoutAPositionDoesNotMoveWhereABatchGoes) {
  db_->insertArticles(batch({10, 11, 12}), 7);
  ASSERT_TRUE(raw_->executeUpdate("update ZARTICLE set ZORDER = null where ZID = 12"));
  ASSERT_EQ(db_->insertArticles(batch({20, 21}), 7).size(), 2u);
  auto rs = raw_->executeQuery("select ZID, ZORDER from ZARTICLE where ZCATEGORY = 7 and ZID in (20, 21)");
  int seen = 0;
  while (rs && rs->next()) {
    ++seen;
    EXPECT_LT(rs->longLongIntForColumnIndex(1), 1) << "item " << rs->longLongIntForColumnIndex(0);
  }
  EXPECT_EQ(seen, 2);
}

TEST_F(NewsDB, ABatchOfKnownItemsChangesNothingAndRepeatsCountOnce) {
  db_->insertArticles(batch({1, 2, 3}), 1);
  EXPECT_TRUE(db_->insertArticles(batch({3, 1}), 1).empty());
  EXPECT_EQ(orders(1), (std::vector<std::pair<long long, long long>>{{1, 1}, {2, 2}, {3, 3}}));

  auto stored = db_->insertArticles(batch({9, 9, 2, 8}), 1);
  EXPECT_EQ(stored.size(), 2u);
  EXPECT_EQ(orders(1), (std::vector<std::pair<long long, long long>>{{9, -1}, {8, 0}, {1, 1}, {2, 2}, {3, 3}}));
}

TEST_F(NewsDB, StoredItemsComeBackAsNewsRecords) {
  os::Dictionary a = item(5, "Title", os::Array{os::Value("u1"), os::Value("u2")});
  a.set("publishtime", os::Value(1700000000));
  a.set("upmark", os::Value("hot"));
  a.set("type", os::Value("album"));
  a.set("source", os::Value(" src\n"));
  os::Dictionary b = item(6, "Three", os::Array{os::Value("a"), os::Value("b"), os::Value("c")});
  os::Dictionary c = item(7, "None");
  db_->insertArticles(os::Array{os::Value(a), os::Value(b), os::Value(c)}, 3);

  auto list = db_->createNewsListWithDB(3);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0]->ID(), 5);
  EXPECT_EQ(list[0]->category(), 3);
  EXPECT_EQ(list[0]->title(), "Title");
  EXPECT_EQ(list[0]->source(), "src");
  EXPECT_EQ(list[0]->time(), 1700000000);
  EXPECT_EQ(list[0]->upmark(), "hot");
  EXPECT_EQ(list[0]->type(), "album");
  // Two icons are stored as one.
  EXPECT_EQ(list[0]->iconurls(), std::vector<std::string>{"u1"});
  EXPECT_EQ(list[0]->style(), VXNewsDO::kOneIconStyle);
  EXPECT_EQ(list[1]->style(), VXNewsDO::kThreeIconStyle);
  EXPECT_EQ(list[2]->style(), VXNewsDO::kTitleStyle);

  auto ids = db_->getNewsIDWithDB(3);
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_EQ(ids[0], (os::Dictionary{{"id", os::Value(5)}, {"icon1", os::Value("u1")}}));
  EXPECT_EQ(ids[1].size(), 4u);
  EXPECT_EQ(ids[2], (os::Dictionary{{"id", os::Value(7)}}));

  EXPECT_TRUE(db_->deleteArticleWithID(3));
  EXPECT_TRUE(db_->createNewsListWithDB(3).empty());
}

TEST_F(NewsDB, CategoriesComeBackInTabOrderAndReplaceByID) {
  db_->insertCategory({{"id", os::Value(7)}, {"name", os::Value("A")}, {"order", os::Value(1)}, {"flag", os::Value(1)}});
  db_->insertCategory({{"id", os::Value(3)}, {"name", os::Value("B")}, {"order", os::Value(0)}, {"flag", os::Value(2)}});
  db_->insertCategory({{"id", os::Value(7)}, {"name", os::Value("A2")}, {"order", os::Value(2)}, {"flag", os::Value(1)}});
  auto list = db_->createCategoryListWithDB();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].ID(), 3);
  EXPECT_EQ(list[0].flag(), 2);
  EXPECT_EQ(list[1].name(), "A2");
  EXPECT_EQ(list[1].order(), 2);
}

TEST_F(NewsDB, ReplacingCategoriesRefusesAnEmptyListAndRollsBackAFailure) {
  std::vector<VXNewsCategory> first{VXNewsCategory({{"id", os::Value(7)}, {"name", os::Value("A")}, {"order", os::Value(0)}}),
                                    VXNewsCategory({{"id", os::Value(3)}, {"name", os::Value("B")}, {"order", os::Value(1)}})};
  ASSERT_TRUE(db_->replaceCategories(first));
  ASSERT_TRUE(db_->updateCategory(7, 1000.5));

  EXPECT_FALSE(db_->replaceCategories({}));
  ASSERT_EQ(db_->createCategoryListWithDB().size(), 2u);

  // A row the database refuses half-way leaves the previous list whole.
  ASSERT_TRUE(raw_->executeUpdate(
      "create trigger refuse before insert on ZCATEGORY when new.ZNAME = 'bad' begin select raise(abort, 'no'); end"));
  EXPECT_FALSE(db_->replaceCategories({VXNewsCategory({{"id", os::Value(1)}, {"name", os::Value("ok")}}),
                                       VXNewsCategory({{"id", os::Value(2)}, {"name", os::Value("bad")}})}));
  auto kept = db_->createCategoryListWithDB();
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].ID(), 7);
  EXPECT_EQ(kept[1].ID(), 3);
  EXPECT_EQ(db_->lastUpdateWithCategory(7), 1000.5);

  // A new list starts without a refresh time.
  ASSERT_TRUE(db_->replaceCategories({VXNewsCategory({{"id", os::Value(7)}, {"name", os::Value("A")}})}));
  EXPECT_EQ(db_->lastUpdateWithCategory(7), 0);
  EXPECT_EQ(db_->createCategoryListWithDB().size(), 1u);
}

TEST_F(NewsDB, LastUpdateKeepsFullPrecision) {
  db_->insertCategory({{"id", os::Value(1)}, {"name", os::Value("A")}});
  EXPECT_EQ(db_->lastUpdateWithCategory(1), 0);
  EXPECT_EQ(db_->lastUpdateWithCategory(99), 0);
  // Seconds since 2001 in the late 2020s: a float would be off by tens of seconds.
  const double when = 818000123.456789;
  ASSERT_TRUE(db_->updateCategory(1, when));
  EXPECT_DOUBLE_EQ(db_->lastUpdateWithCategory(1), when);
  EXPECT_EQ(raw_->doubleForQuery("select ZLASTUPDATE from ZCATEGORY where ZID = 1"), when);
}

TEST_F(NewsDB, HistoryIsTrimmedAtItsLimit) {
  fillHistory(1199);
  EXPECT_EQ(db_->getHistoryID().size(), 1199u);
  ASSERT_TRUE(db_->insertHistory(1200));
  auto ids = db_->getHistoryID();
  ASSERT_EQ(ids.size(), 200u);
  EXPECT_EQ(ids.front(), 1001);
  EXPECT_EQ(ids.back(), 1200);
}

// The history filled to one short of its limit reads back whole at the next start, reads
// waiting for upload included; reaching the limit, the next start keeps the newest rows past the
// trim, and every read still waiting for upload, however old.
TEST_F(NewsDB, AHistoryFilledToItsLimitReadsBackAtTheNextStart) {
  constexpr long long kThreshold = VXNewsDBManager::kHistoryTrimThreshold;
  fillHistory(kThreshold - 2);
  ASSERT_TRUE(db_->insertHistory(kThreshold - 1));
  for (long long id : {5LL, 6LL, kThreshold - 1}) ASSERT_TRUE(db_->offlineHistory(id));
  ASSERT_TRUE(db_->updateHistoryPost(6));
  const std::vector<long long> waiting{5, kThreshold - 1};
  {
    VXNewsDBManager next(db_->path());
    auto ids = next.getHistoryID();
    ASSERT_EQ(ids.size(), static_cast<std::size_t>(kThreshold - 1));
    EXPECT_EQ(ids.front(), 1);
    EXPECT_EQ(next.historyForPost(), waiting);
    ASSERT_TRUE(next.insertHistory(kThreshold));
  }
  VXNewsDBManager after(db_->path());
  auto ids = after.getHistoryID();
  ASSERT_EQ(ids.size(), static_cast<std::size_t>(kThreshold - VXNewsDBManager::kHistoryTrimCount));
  EXPECT_EQ(ids.front(), 5);
  EXPECT_EQ(ids[1], VXNewsDBManager::kHistoryTrimCount + 2);
  EXPECT_EQ(ids.back(), kThreshold);
  EXPECT_EQ(after.historyForPost(), waiting);
}

TEST_F(NewsDB, HistoryMarksForUploadOnlyOnce) {
  EXPECT_TRUE(db_->insertHistory(5));
  EXPECT_FALSE(db_->insertHistory(5));
  EXPECT_TRUE(db_->insertHistory(6));
  EXPECT_FALSE(db_->offlineHistory(99));
  EXPECT_TRUE(db_->offlineHistory(5));
  EXPECT_FALSE(db_->offlineHistory(5));
  EXPECT_EQ(db_->historyForPost(), std::vector<long long>{5});
  EXPECT_TRUE(db_->updateHistoryPost(5));
  EXPECT_TRUE(db_->historyForPost().empty());
  EXPECT_EQ(db_->getHistoryID(), (std::vector<long long>{5, 6}));
}

TEST_F(NewsDB, ClearingCachesEmptiesArticlesAndHistoryButKeepsCategories) {
  int cleared = 0;
  db_->setHistoryClearedHandler([&] { ++cleared; });
  db_->insertCategory({{"id", os::Value(1)}, {"name", os::Value("A")}});
  db_->insertArticles(batch({1, 2}), 1);
  db_->insertHistory(1);
  db_->clearCachesTable();
  EXPECT_EQ(cleared, 1);
  EXPECT_TRUE(db_->createNewsListWithDB(1).empty());
  EXPECT_TRUE(db_->getHistoryID().empty());
  EXPECT_EQ(db_->createCategoryListWithDB().size(), 1u);
}

TEST_F(NewsDB, ConcurrentBatchesNeitherCollideNorInterleave) {
  constexpr int kBatches = 40;
  constexpr int kPerBatch = 3;
  auto writer = [&](long long firstID) {
    for (int b = 0; b < kBatches; ++b) {
      os::Array items;
      for (int k = 0; k < kPerBatch; ++k) items.push_back(os::Value(item(firstID + b * kPerBatch + k)));
      db_->insertArticles(items, 1);
      auto single = item(firstID + 100000 + b);
      single.set("category", os::Value(2));
      db_->insertArticle(single, b % 2 == 0);
    }
  };
  std::thread one(writer, 1000);
  std::thread two(writer, 5000);
  std::thread reader([&] {
    for (int i = 0; i < kBatches; ++i) {
      db_->insertHistory(i);
      db_->getHistoryID();
      db_->createNewsListWithDB(1);
    }
  });
  one.join();
  two.join();
  reader.join();

  const long long total = 2 * kBatches * (kPerBatch + 1);
  EXPECT_EQ(raw_->longForQuery("select count(*) from ZARTICLE"), total);
  EXPECT_EQ(raw_->longForQuery("select count(distinct ZPK) from ZARTICLE"), total);
  EXPECT_EQ(raw_->longForQuery("select max(ZPK) from ZARTICLE"), total);
  for (long long category : {1, 2}) {
    auto rows = orders(category);
    // Every position taken once.
    for (std::size_t i = 1; i < rows.size(); ++i) ASSERT_LT(rows[i - 1].second, rows[i].second);
  }
  // Every batch sits in one piece, in server order.
  auto rows = orders(1);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(2 * kBatches * kPerBatch));
  for (std::size_t i = 0; i < rows.size(); i += kPerBatch)
    for (int k = 1; k < kPerBatch; ++k) EXPECT_EQ(rows[i + k].first, rows[i].first + k);
  EXPECT_EQ(db_->getHistoryID().size(), static_cast<std::size_t>(kBatches));
}

// A row the database refuses (a full disk, say) stops the batch: nothing of it stays, the stored
// positions are as before and nothing is handed back as stored.
TEST_F(NewsDB, ABatchWithARefusedRowStoresNothing) {
  db_->insertArticles(batch({1, 2}), 3);
  ASSERT_TRUE(raw_->executeUpdate(
      "create trigger refuse before insert on ZARTICLE when new.ZTITLE = 'bad' begin select raise(abort, 'disk full'); end"));
  os::Array items = batch({10, 11});
  items.insert(items.begin() + 1, os::Value(item(12, "bad")));
  EXPECT_TRUE(db_->insertArticles(items, 3).empty());
  EXPECT_EQ(orders(3), (std::vector<std::pair<long long, long long>>{{1, 1}, {2, 2}}));
  ASSERT_TRUE(raw_->executeUpdate("drop trigger refuse"));
  EXPECT_EQ(db_->insertArticles(batch({10}), 3).size(), 1u);
  EXPECT_EQ(orders(3), (std::vector<std::pair<long long, long long>>{{10, 0}, {1, 1}, {2, 2}}));
}

// What a list costs must follow what it brings, not what it holds: a pull or a page onto a long
// list writes its own rows and touches none of the stored ones. Counted by triggers in the file,
// which fire for the manager's connection as for any.
TEST_F(NewsDB, APullOrAPageWritesOnlyTheRowsItBrings) {
  constexpr long long kStored = 600;
  for (long long first = 1; first <= kStored; first += 20) {
    os::Array page;
    for (long long id = first; id < first + 20; ++id) page.push_back(os::Value(item(id)));
    ASSERT_EQ(db_->insertArticles(page, 1).size(), 20u);
  }
  ASSERT_TRUE(raw_->executeStatements(
      "create table WRITES (KIND text);"
      "create trigger COUNT_UPDATES after update on ZARTICLE begin insert into WRITES values ('update'); end;"
      "create trigger COUNT_INSERTS after insert on ZARTICLE begin insert into WRITES values ('insert'); end;"));
  auto writes = [&](const char* kind) { return raw_->longForQuery("select count(*) from WRITES where KIND = ?", kind); };

  // A pull of three new items among two known ones.
  EXPECT_EQ(db_->insertArticles(batch({5001, 7, 5002, 5003, 9}), 1).size(), 3u);
  EXPECT_EQ(writes("insert"), 3);
  EXPECT_EQ(writes("update"), 0);
  // A pull that brings nothing writes nothing.
  EXPECT_TRUE(db_->insertArticles(batch({5001, 7}), 1).empty());
  EXPECT_EQ(writes("insert"), 3);
  // A next page, item by item, and a single item on top.
  auto single = [](long long id) {
    auto a = item(id);
    a.set("category", os::Value(1));
    return a;
  };
  EXPECT_TRUE(db_->insertArticle(single(6001), false));
  EXPECT_TRUE(db_->insertArticle(single(6002), false));
  EXPECT_TRUE(db_->insertArticle(single(6003), true));
  EXPECT_FALSE(db_->insertArticle(single(8), false));
  EXPECT_EQ(writes("insert"), 6);
  EXPECT_EQ(writes("update"), 0);

  // And the list reads in the order it was built: the last pull's items above the rest.
  auto list = db_->createNewsListWithDB(1);
  ASSERT_EQ(list.size(), static_cast<std::size_t>(kStored + 6));
  std::vector<long long> top, bottom;
  for (std::size_t i = 0; i < 4; ++i) top.push_back(list[i]->ID());
  for (std::size_t i = list.size() - 3; i < list.size(); ++i) bottom.push_back(list[i]->ID());
  EXPECT_EQ(top, (std::vector<long long>{6003, 5001, 5002, 5003}));
  EXPECT_EQ(list[4]->ID(), kStored - 19);
  EXPECT_EQ(bottom, (std::vector<long long>{20, 6001, 6002}));
}

// A replacement asked for before a store of its category leaves that store's rows as they are,
// whichever road stored them; one asked for after them, or a store of another category, does not.
TEST_F(NewsDB, AReplacementAskedBeforeAStoreOfItsCategoryStoresNothing) {
  auto ids = [&](long long category) {
    std::vector<long long> out;
    for (auto& [id, order] : orders(category)) out.push_back(id);
    return out;
  };
  ASSERT_EQ(db_->insertArticles(batch({2, 1}), 5).size(), 2u);
  auto asked = db_->articleTurn();
  ASSERT_EQ(db_->insertArticles(batch({9}), 6).size(), 1u);
  EXPECT_TRUE(db_->insertArticles(batch({2}), 5).empty());  // nothing new stores nothing
  auto replaced = db_->replaceArticles(batch({3, 2}), 5, asked);
  ASSERT_TRUE(replaced);
  EXPECT_EQ(replaced->size(), 2u);
  EXPECT_EQ(ids(5), (std::vector<long long>{3, 2}));

  auto single = item(4);
  single.set("category", os::Value(5));
  const std::vector<std::function<bool()>> stores{
      [&] { return db_->storeArticles(batch({10}), 5, true).has_value(); },
      [&] { return db_->storeArticles(batch({11}), 5, false).has_value(); },
      [&] { return db_->replaceArticles(batch({12, 13}), 5).has_value(); },
      [&] { return db_->insertArticle(single, true); }};
  for (std::size_t road = 0; road < stores.size(); ++road) {
    asked = db_->articleTurn();
    ASSERT_TRUE(stores[road]()) << road;
    const auto before = ids(5);
    replaced = db_->replaceArticles(batch({20, 21}), 5, asked);
    ASSERT_TRUE(replaced) << road;
    EXPECT_TRUE(replaced->empty()) << road;
    EXPECT_EQ(ids(5), before) << road;
  }
}

// The rows of one category, found without reading the others: the lookups a pull and a page make
// for each item (is it stored? where is the top, where the end?) go through an index. A file made
// before the indexes gains them when it opens, its lists as they were.
TEST_F(NewsDB, AFileFromBeforeTheIndexesGainsThemAndKeepsItsLists) {
  const std::string path = os::appendingPathComponent(os::Sandbox::current()->cachesDirectory(), "earlier.db");
  {
    auto earlier = SQDatabase::databaseWithPath(path);
    ASSERT_TRUE(earlier->open());
    ASSERT_TRUE(earlier->executeStatements(
        "create table ZCATEGORY (ZID integer primary key, ZNAME text, ZORDER integer, ZFLAG integer, ZLASTUPDATE float, "
        "ZRESERVE1 text, ZRESERVE2 text, ZRESERVE3 text, ZRESERVE4 text, ZRESERVE5 text, ZRESERVE6 text, ZRESERVE7 text, "
        "ZRESERVE8 text, ZRESERVE9 text, ZRESERVE10 text);"
        "create table ZARTICLE (ZPK integer primary key, ZORDER integer, ZID integer, ZCATEGORY integer, ZTITLE text, "
        "ZSOURCE text, ZPUBLISHTIME integer, ZSUMMARY text, ZICON1 text, ZICON2 text, ZICON3 text, ZRESERVE1 text, "
        "ZRESERVE2 text, ZRESERVE3 text, ZRESERVE4 text, ZRESERVE5 text, ZRESERVE6 text, ZRESERVE7 text, "
        "ZRESERVE8 text, ZRESERVE9 text, ZRESERVE10 text);"
        "create table ZHISTORY (ZID integer primary key, ZRESERVE1 text, ZRESERVE2 text, ZRESERVE3 text, "
        "ZRESERVE4 text, ZRESERVE5 text);"
        "insert into ZARTICLE (ZPK, ZORDER, ZID, ZCATEGORY, ZTITLE) values (1, 1, 31, 4, 'a'), (2, 2, 32, 4, 'b'), "
        "(3, 3, 33, 4, 'c'), (4, 1, 31, 5, 'a');"));
    ASSERT_TRUE(earlier->close());
  }
  VXNewsDBManager manager(path);
  ASSERT_TRUE(manager.isOpen());

  auto reader = SQDatabase::databaseWithPath(path);
  ASSERT_TRUE(reader->open());
  auto plan = [&](const std::string& sql) {
    std::string steps;
    auto rs = reader->executeQuery("explain query plan " + sql, 4, 31);
    while (rs && rs->next()) steps += rs->stringForColumn("detail").value_or("") + "; ";
    return steps;
  };
  for (const std::string sql : {"select 1 from ZARTICLE where ZID = ?2 and ZCATEGORY = ?1 limit 1",
                                "select * from ZARTICLE where ZCATEGORY = ?1 order by ZORDER",
                                "select ZORDER from ZARTICLE where ZCATEGORY = ?1 and ZORDER is not null order by ZORDER desc limit 1"}) {
    const std::string steps = plan(sql);
    EXPECT_NE(steps.find("USING"), std::string::npos) << sql << ": " << steps;
    EXPECT_EQ(steps.find("SCAN"), std::string::npos) << sql << ": " << steps;
    EXPECT_EQ(steps.find("TEMP B-TREE"), std::string::npos) << sql << ": " << steps;
  }

  auto ids = [&](long long category) {
    std::vector<long long> out;
    for (const auto& news : manager.createNewsListWithDB(category)) out.push_back(news->ID());
    return out;
  };
  EXPECT_EQ(ids(4), (std::vector<long long>{31, 32, 33}));
  EXPECT_EQ(manager.insertArticles(batch({40, 31, 41}), 4).size(), 2u);
  auto next = item(50);
  next.set("category", os::Value(4));
  EXPECT_TRUE(manager.insertArticle(next, false));
  EXPECT_EQ(ids(4), (std::vector<long long>{40, 41, 31, 32, 33, 50}));
  EXPECT_EQ(ids(5), std::vector<long long>{31});
  EXPECT_EQ(reader->longForQuery("select max(ZPK) from ZARTICLE"), 7);
}

// Damage between two launches: the second finds it, sets the file aside and starts afresh, so the
// lists count as never refreshed and are fetched again; a file that goes bad while in use is
// replaced at the next operation.
TEST_F(NewsDB, ADamagedFileIsSetAsideAndRebuilt) {
  ASSERT_TRUE(db_->replaceCategories({VXNewsCategory({{"id", os::Value(1)}, {"name", os::Value("A")}})}));
  ASSERT_TRUE(db_->updateCategory(1, 5000));
  for (long long id = 1; id <= 300; ++id) db_->insertArticle(item(id, std::string(300, 'x')), false);
  const std::string path = db_->path();
  raw_->close();
  db_.reset();
  VXNewsDBManager::setShared(nullptr);

  auto& fm = os::FileManager::defaultManager();
  auto overwrite = [&](std::streamoff at, std::size_t bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(file);
    std::string noise(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i) noise[i] = static_cast<char>(i * 31 + 7);
    file.seekp(at);
    file.write(noise.data(), static_cast<std::streamsize>(bytes));
  };
  // The last connection to close folds its log into news.db, so the damage lands on the data.
  overwrite(0, 100);

  db_ = VXNewsDBManager::share();
  ASSERT_TRUE(db_->isOpen());
  EXPECT_TRUE(fm.fileExistsAtPath(path + ".corrupt"));
  EXPECT_NE(VXGlobalHelper::readLog().value_or("").find("news db damaged"), std::string::npos);
  EXPECT_TRUE(db_->createCategoryListWithDB().empty());
  EXPECT_EQ(db_->lastUpdateWithCategory(1), 0) << "never refreshed: the list is fetched again";
  ASSERT_TRUE(db_->replaceCategories({VXNewsCategory({{"id", os::Value(1)}, {"name", os::Value("A")}})}));
  EXPECT_EQ(db_->insertArticles(batch({7, 8}), 1).size(), 2u);
  EXPECT_EQ(db_->createNewsListWithDB(1).size(), 2u);

  // Inner pages spoilt while the reader runs: the operation that meets them fails, the next one
  // works on a fresh file.
  for (long long id = 100; id <= 400; ++id) {
    auto a = item(id, std::string(300, 'y'));
    a.set("category", os::Value(4));
    db_->insertArticle(a, false);
  }
  db_.reset();
  VXNewsDBManager::setShared(nullptr);
  db_ = VXNewsDBManager::share();
  fm.removeItemAtPath(path + ".corrupt");
  overwrite(4096 * 4, 4096 * 6);
  // A write by another connection makes the manager's connection read the file again.
  raw_ = SQDatabase::databaseWithPath(path);
  ASSERT_TRUE(raw_->open());
  ASSERT_TRUE(raw_->executeUpdate("insert into ZHISTORY (ZID) values (1)"));
  EXPECT_LT(db_->createNewsListWithDB(4).size(), 301u);
  EXPECT_TRUE(fm.fileExistsAtPath(path + ".corrupt"));
  auto again = item(1);
  again.set("category", os::Value(4));
  EXPECT_TRUE(db_->insertArticle(again, true));
  EXPECT_EQ(db_->createNewsListWithDB(4).size(), 1u);
}

}  // namespace
