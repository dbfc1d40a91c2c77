// A category's list filled to 2,000, 8,000 and 32,000 rows through the news database, as the
// reader fills it: by pulls (20 new items on top at a time), by pages (one pull, then 20 items at
// the end at a time, each stored by itself, as a single item is stored), and by next pages (the
// same, each page in one transaction, as the list stores them). The baseline writes the
// same rows into the same table with plain SQLite, 20 to a transaction, with no lookups. A list
// whose cost follows what each pull brings keeps the same ratio to the baseline at every size.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/ProcessCpu.h"
#include "news/store/VXNewsDBManager.h"
#include "os/core/Value.h"

namespace {

constexpr long long kCategory = 3;
constexpr int kPage = 20;

// The program's scratch folder, removed again when the program ends.
struct ScratchDir {
  std::filesystem::path path = std::filesystem::temp_directory_path() / ("newsdb-bench-" + std::to_string(::getpid()));
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
} gScratch;

std::string freshPath(const char* name) {
  std::filesystem::create_directories(gScratch.path);
  const std::string path = (gScratch.path / name).string();
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(path + suffix);
  return path;
}

// A list item as the news server sends it, in the form the database stores.
os::Dictionary itemFor(long long id) {
  return os::Dictionary{{"id", os::Value(id)},
                        {"category", os::Value(kCategory)},
                        {"title", os::Value("headline number " + std::to_string(id))},
                        {"source", os::Value("source")},
                        {"publishtime", os::Value(1700000000 + id)},
                        {"summary", os::Value("a summary of the article, a line or two of text")},
                        {"icon1", os::Value("http://127.0.0.1/pictures/" + std::to_string(id) + ".jpg")},
                        {"type", os::Value("")}};
}

// The rows of a list of `rows` items, a page at a time.
std::vector<os::Array> pagesOf(long long rows) {
  std::vector<os::Array> pages;
  for (long long first = 1; first <= rows; first += kPage) {
    os::Array page;
    for (long long id = first; id < first + kPage && id <= rows; ++id) page.push_back(os::Value(itemFor(id)));
    pages.push_back(std::move(page));
  }
  return pages;
}

// Fills a fresh database's category with the list's pages as `fill` stores them (answering how many
// rows it stored); opening and closing the database are left out of the time.
template <typename Fill>
void fillFresh(benchmark::State& state, const char* name, Fill fill) {
  const auto pages = pagesOf(state.range(0));
  long long stored = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto db = std::make_unique<VXNewsDBManager>(freshPath(name));
    state.ResumeTiming();
    stored += fill(*db, pages);
    state.PauseTiming();
    db.reset();
    state.ResumeTiming();
  }
  if (stored != state.range(0) * state.iterations()) state.SkipWithError("rows missing");
  state.SetItemsProcessed(stored);
}

void FillByPulls(benchmark::State& state) {
  fillFresh(state, "pulls.db", [](VXNewsDBManager& db, const std::vector<os::Array>& pages) {
    long long stored = 0;
    for (const auto& page : pages) stored += static_cast<long long>(db.insertArticles(page, kCategory).size());
    return stored;
  });
}

void FillByPages(benchmark::State& state) {
  fillFresh(state, "pages.db", [](VXNewsDBManager& db, const std::vector<os::Array>& pages) {
    auto stored = static_cast<long long>(db.insertArticles(pages.front(), kCategory).size());
    for (std::size_t p = 1; p < pages.size(); ++p)
      for (const os::Value& item : pages[p]) stored += db.insertArticle(*item.dictionary(), false) ? 1 : 0;
    return stored;
  });
}

// Next pages as the list stores them: each page below the stored end in one transaction.
void FillByNextPages(benchmark::State& state) {
  fillFresh(state, "nextpages.db", [](VXNewsDBManager& db, const std::vector<os::Array>& pages) {
    auto stored = static_cast<long long>(db.insertArticles(pages.front(), kCategory).size());
    for (std::size_t p = 1; p < pages.size(); ++p)
      if (auto page = db.storeArticles(pages[p], kCategory, false)) stored += static_cast<long long>(page->size());
    return stored;
  });
}

// The same rows, the same table and settings, written with one prepared statement and no lookups.
void BaselinePlainInserts(benchmark::State& state) {
  const auto pages = pagesOf(state.range(0));
  long long stored = 0;
  for (auto _ : state) {
    state.PauseTiming();
    {
      // The manager makes the file with its tables, as the other cases start.
      VXNewsDBManager made(freshPath("plain.db"));
    }
    sqlite3* db = nullptr;
    if (sqlite3_open((gScratch.path / "plain.db").c_str(), &db) != SQLITE_OK) {
      state.SkipWithError("open failed");
      return;
    }
    sqlite3_exec(db, "pragma journal_mode = wal; pragma synchronous = normal", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "insert into ZARTICLE (ZPK, ZORDER, ZID, ZCATEGORY, ZTITLE, ZSOURCE, ZPUBLISHTIME, ZSUMMARY, "
                       "ZICON1, ZRESERVE2) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                       -1, &insert, nullptr);
    state.ResumeTiming();
    long long key = 0;
    for (const auto& page : pages) {
      sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
      for (const os::Value& value : page) {
        const os::Dictionary& item = *value.dictionary();
        ++key;
        sqlite3_bind_int64(insert, 1, key);
        sqlite3_bind_int64(insert, 2, -key);
        sqlite3_bind_int64(insert, 3, item["id"].intValue());
        sqlite3_bind_int64(insert, 4, kCategory);
        int column = 5;
        for (const char* name : {"title", "source"}) {
          const std::string& text = *item[name].string();
          sqlite3_bind_text(insert, column++, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        }
        sqlite3_bind_int64(insert, column++, item["publishtime"].intValue());
        for (const char* name : {"summary", "icon1", "type"}) {
          const std::string& text = *item[name].string();
          sqlite3_bind_text(insert, column++, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        }
        if (sqlite3_step(insert) == SQLITE_DONE) ++stored;
        sqlite3_reset(insert);
      }
      sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
    }
    state.PauseTiming();
    sqlite3_finalize(insert);
    sqlite3_close(db);
    state.ResumeTiming();
  }
  if (stored != state.range(0) * state.iterations()) state.SkipWithError("rows missing");
  state.SetItemsProcessed(stored);
}

}  // namespace

BENCHMARK(FillByPulls)->Arg(2000)->Arg(8000)->Arg(32000)->Unit(benchmark::kMillisecond);
BENCHMARK(FillByPages)->Arg(2000)->Arg(8000)->Arg(32000)->Unit(benchmark::kMillisecond);
BENCHMARK(FillByNextPages)->Arg(2000)->Arg(8000)->Arg(32000)->Unit(benchmark::kMillisecond);
BENCHMARK(BaselinePlainInserts)->Arg(2000)->Arg(8000)->Arg(32000)->Unit(benchmark::kMillisecond);

NEWSREADER_BENCH_MAIN()
