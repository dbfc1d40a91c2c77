// The database wrapper against the plain SQLite calls doing the same work: 10,000 inserts in one
// transaction, and 10,000 reads of one row by its key. The wrapper runs as the news database uses it
// (statement cache off) and with its statement cache on; SQLite runs with one prepared statement
// reused for every row, and, as the wrapper without its cache does, preparing the statement anew.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>

#include <unistd.h>

#include "bench/ProcessCpu.h"
#include "foundation/sqlite/SQDatabase.h"
#include "foundation/sqlite/SQResultSet.h"

namespace {

constexpr int kRows = 10000;

// The program's scratch folder, removed again when the program ends.
struct ScratchDir {
  std::filesystem::path path = std::filesystem::temp_directory_path() / ("sqlite-bench-" + std::to_string(::getpid()));
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
} gScratch;

std::string freshPath(const char* name) {
  const auto& dir = gScratch.path;
  std::filesystem::create_directories(dir);
  auto path = dir / name;
  std::filesystem::remove(path);
  std::filesystem::remove(path.string() + "-journal");
  return path.string();
}

std::string titleFor(int i) { return "headline number " + std::to_string(i); }

// --- inserts ---

void insertsWrapper(benchmark::State& state, bool cache) {
  auto db = SQDatabase::databaseWithPath(freshPath(cache ? "insert-cached.db" : "insert.db"));
  if (!db->open()) {
    state.SkipWithError("open failed");
    return;
  }
  db->setShouldCacheStatements(cache);
  db->executeUpdate("create table t (id integer primary key, title text, score real)");
  for (auto _ : state) {
    db->executeUpdate("delete from t");
    db->beginTransaction();
    for (int i = 0; i < kRows; ++i) db->executeUpdate("insert into t (id, title, score) values (?, ?, ?)", i, titleFor(i), i * 0.5);
    db->commit();
  }
  if (db->intForQuery("select count(*) from t") != kRows) state.SkipWithError("rows missing");
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_InsertWrapper(benchmark::State& state) { insertsWrapper(state, false); }
void BM_InsertWrapperCached(benchmark::State& state) { insertsWrapper(state, true); }

void insertsSQLite(benchmark::State& state, bool reuse) {
  sqlite3* db = nullptr;
  if (sqlite3_open(freshPath(reuse ? "insert-raw.db" : "insert-raw-prepare.db").c_str(), &db) != SQLITE_OK) {
    state.SkipWithError("open failed");
    return;
  }
  sqlite3_exec(db, "create table t (id integer primary key, title text, score real)", nullptr, nullptr, nullptr);
  const char* sql = "insert into t (id, title, score) values (?, ?, ?)";
  sqlite3_stmt* insert = nullptr;
  if (reuse) sqlite3_prepare_v2(db, sql, -1, &insert, nullptr);
  for (auto _ : state) {
    sqlite3_exec(db, "delete from t", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "begin exclusive transaction", nullptr, nullptr, nullptr);
    for (int i = 0; i < kRows; ++i) {
      if (!reuse) sqlite3_prepare_v2(db, sql, -1, &insert, nullptr);
      std::string title = titleFor(i);
      sqlite3_bind_int(insert, 1, i);
      sqlite3_bind_text(insert, 2, title.data(), static_cast<int>(title.size()), SQLITE_TRANSIENT);
      sqlite3_bind_double(insert, 3, i * 0.5);
      sqlite3_step(insert);
      if (reuse) {
        sqlite3_reset(insert);
      } else {
        sqlite3_finalize(insert);
        insert = nullptr;
      }
    }
    sqlite3_exec(db, "commit transaction", nullptr, nullptr, nullptr);
  }
  sqlite3_finalize(insert);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_InsertSQLite(benchmark::State& state) { insertsSQLite(state, true); }
void BM_InsertSQLitePreparingEachRow(benchmark::State& state) { insertsSQLite(state, false); }

// --- keyed reads ---

std::shared_ptr<SQDatabase> filledDatabase(const char* name) {
  auto db = SQDatabase::databaseWithPath(freshPath(name));
  if (!db->open()) return nullptr;
  db->executeUpdate("create table t (id integer primary key, title text, score real)");
  db->beginTransaction();
  for (int i = 0; i < kRows; ++i) db->executeUpdate("insert into t (id, title, score) values (?, ?, ?)", i, titleFor(i), i * 0.5);
  db->commit();
  return db;
}

void readsWrapper(benchmark::State& state, bool cache) {
  auto db = filledDatabase(cache ? "read-cached.db" : "read.db");
  if (!db) {
    state.SkipWithError("open failed");
    return;
  }
  db->setShouldCacheStatements(cache);
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (int i = 0; i < kRows; ++i) {
      auto rs = db->executeQuery("select title, score from t where id = ?", i);
      if (rs->next()) {
        bytes += rs->stringForColumn("title")->size();
        benchmark::DoNotOptimize(rs->doubleForColumn("score"));
      }
      rs->close();
    }
  }
  if (bytes == 0) state.SkipWithError("nothing read");
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_ReadWrapper(benchmark::State& state) { readsWrapper(state, false); }
void BM_ReadWrapperCached(benchmark::State& state) { readsWrapper(state, true); }

void readsSQLite(benchmark::State& state, bool reuse) {
  auto filled = filledDatabase(reuse ? "read-raw.db" : "read-raw-prepare.db");
  if (!filled) {
    state.SkipWithError("open failed");
    return;
  }
  sqlite3* db = filled->sqliteHandle();
  const char* sql = "select title, score from t where id = ?";
  sqlite3_stmt* select = nullptr;
  if (reuse) sqlite3_prepare_v2(db, sql, -1, &select, nullptr);
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (int i = 0; i < kRows; ++i) {
      if (!reuse) sqlite3_prepare_v2(db, sql, -1, &select, nullptr);
      sqlite3_bind_int(select, 1, i);
      if (sqlite3_step(select) == SQLITE_ROW) {
        std::string title(reinterpret_cast<const char*>(sqlite3_column_text(select, 0)),
                          static_cast<std::size_t>(sqlite3_column_bytes(select, 0)));
        bytes += title.size();
        benchmark::DoNotOptimize(sqlite3_column_double(select, 1));
      }
      if (reuse) {
        sqlite3_reset(select);
      } else {
        sqlite3_finalize(select);
        select = nullptr;
      }
    }
  }
  sqlite3_finalize(select);
  if (bytes == 0) state.SkipWithError("nothing read");
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_ReadSQLite(benchmark::State& state) { readsSQLite(state, true); }
void BM_ReadSQLitePreparingEachRow(benchmark::State& state) { readsSQLite(state, false); }

}  // namespace

BENCHMARK(BM_InsertWrapper)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertWrapperCached)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertSQLite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertSQLitePreparingEachRow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadWrapper)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadWrapperCached)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSQLite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSQLitePreparingEachRow)->Unit(benchmark::kMillisecond);

NEWSREADER_BENCH_MAIN()
