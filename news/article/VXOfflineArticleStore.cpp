#include "news/article/VXOfflineArticleStore.h"

#include <atomic>
#include <cmath>
#include <functional>
#include <map>
#include <mutex>

#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "os/runtime/DispatchGroup.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/RunLoop.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/views/Application.h"

std::optional<std::string> VXOfflineArticleStore::decimalText(const os::Value& value) {
  if (value.isNumber()) {
    if (value.isFloatingPoint()) {
      double d = value.doubleValue();
      if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 1e18) return std::nullopt;
      return std::to_string(static_cast<long long>(d));
    }
    if (value.isUnsigned()) return std::to_string(value.unsignedValue());
    return std::to_string(value.intValue());
  }
  const std::string* text = value.string();
  if (!text) return std::nullopt;
  std::size_t start = (!text->empty() && (*text)[0] == '-') ? 1 : 0;
  std::size_t digits = text->size() - start;
  if (digits == 0 || digits > 18) return std::nullopt;
  for (std::size_t i = start; i < text->size(); ++i) {
    if ((*text)[i] < '0' || (*text)[i] > '9') return std::nullopt;
  }
  // Normalised, so "007" and 7 name the same file.
  return std::to_string(std::stoll(*text));
}

std::optional<std::string> VXOfflineArticleStore::fileName(const os::Value& category, const os::Value& ID) {
  auto c = decimalText(category);
  auto i = decimalText(ID);
  if (!c || !i) return std::nullopt;
  return *c + "_" + *i;
}

std::optional<std::string> VXOfflineArticleStore::pathFor(const os::Value& category, const os::Value& ID) {
  auto name = fileName(category, ID);
  if (!name) return std::nullopt;
  return VXGlobalHelper::offlineDirectory() + *name;
}

os::Value VXOfflineArticleStore::stripNulls(const os::Value& value) {
  if (const os::Dictionary* dict = value.dictionary()) {
    os::Dictionary out;
    for (const auto& [key, member] : *dict) {
      if (member.isNull()) continue;
      out.set(key, stripNulls(member));
    }
    return os::Value(std::move(out));
  }
  if (const os::Array* array = value.array()) {
    os::Array out;
    for (const auto& element : *array) {
      if (!element.isNull()) out.push_back(stripNulls(element));
    }
    return os::Value(std::move(out));
  }
  return value;
}

namespace {

// Writes the answer to `path`; `replacing` has the last word before the file is replaced.
bool writeAnswer(const os::Dictionary& info, const std::string& path, const std::function<bool()>& replacing,
                 os::Error* error) {
  os::Error writeError;
  const os::Value answer = VXOfflineArticleStore::stripNulls(os::Value(info));
  // XML cannot carry every text an answer may hold (most control characters): such an answer is
  // kept in the binary form, which the store reads alike.
  auto data = os::PropertyList::write(answer, os::PropertyListFormat::XML, &writeError);
  if (!data && writeError.domain == os::kPropertyListErrorDomain &&
      writeError.code == os::kPropertyListWriteInvalidError)
    data = os::PropertyList::write(answer, os::PropertyListFormat::Binary, &writeError);
  auto& files = os::FileManager::defaultManager();
  if (!data || !(replacing ? files.writeDataReplacing(*data, path, replacing, 0644, &writeError)
                           : files.writeData(*data, path, {}, &writeError))) {
    VXGlobalHelper::writeLog("offline file not written: " + path);
    if (error) *error = os::Error::withDescription(kOfflineArticleErrorDomain, kOfflineArticleWriteFailed,
                                               "the offline file could not be written: " +
                                                   writeError.localizedDescription());
    return false;
  }
  return true;
}

bool refuseName(os::Error* error) {
  if (error) *error = os::Error::withDescription(kOfflineArticleErrorDomain, kOfflineArticleBadName,
                                             "category and id must be decimal integers");
  return false;
}

}  // namespace

bool VXOfflineArticleStore::saveWithInfo(const os::Dictionary& info, const os::Value& category, const os::Value& ID,
                                         os::Error* error) {
  auto path = pathFor(category, ID);
  if (!path) return refuseName(error);
  return writeAnswer(info, *path, {}, error);
}

std::optional<os::Dictionary> VXOfflineArticleStore::read(const os::Value& category, const os::Value& ID) {
  auto path = pathFor(category, ID);
  if (!path) return std::nullopt;
  auto value = os::PropertyList::readFile(*path);
  if (!value || !value->dictionary()) return std::nullopt;
  return *value->dictionary();
}

std::size_t VXOfflineArticleStore::removeInterruptedSaves() {
  return os::FileManager::defaultManager().removeAbandonedTemporaryFilesInDirectory(VXGlobalHelper::offlineDirectory());
}

// Every save started in the background and not yet written, so tests and an orderly shutdown can
// wait for the disk; and the order the saves of each file began in.
struct VXOfflineSaves {
  os::DispatchGroup group;
  std::atomic<int> pending{0};

  struct File {
    unsigned long long kept = 0;  // the turn of the save the file now holds (0: none of these)
    int underWay = 0;
  };
  std::mutex mutex;
  unsigned long long turns = 0;
  unsigned long long clearings = 0;  // removals of every file so far
  std::map<std::string, File> files;  // only files with saves under way
};

namespace {

std::shared_ptr<VXOfflineSaves> backgroundSaves(VXReaderContext& context) {
  return context.offlineSaves.get([] { return std::make_shared<VXOfflineSaves>(); });
}

// One save's turn among the saves of its file, taken when its answer is in hand. An answer fetched
// earlier may reach the disk later (a screen's save waiting on a busy disk while the offline
// download writes the same article): it then must not replace the newer file.
class SaveTurn {
 public:
  SaveTurn(std::shared_ptr<VXOfflineSaves> saves, std::string name, std::optional<unsigned long long> asked)
      : saves_(std::move(saves)), name_(std::move(name)) {
    std::lock_guard lock(saves_->mutex);
    ++saves_->files[name_].underWay;
    turn_ = ++saves_->turns;
    asked_ = asked.value_or(saves_->clearings);
  }
  SaveTurn(const SaveTurn&) = delete;
  SaveTurn& operator=(const SaveTurn&) = delete;
  ~SaveTurn() {
    std::unique_lock lock = held_ ? std::move(held_) : std::unique_lock(saves_->mutex);
    auto file = saves_->files.find(name_);
    if (--file->second.underWay == 0) saves_->files.erase(file);
  }

  bool write(const os::Dictionary& info, const std::string& path, os::Error* error) {
    // Held from the decision to replace until the write returns, so no other save of the file
    // replaces it between the two.
    bool replaced = false;
    const bool written = writeAnswer(info, path, [this, &replaced] {
      held_ = std::unique_lock(saves_->mutex);
      // The files were removed since the answer was asked for: it is not brought back.
      replaced = saves_->clearings == asked_ && saves_->files[name_].kept < turn_;
      return replaced;
    }, error);
    if (written && replaced) saves_->files[name_].kept = turn_;
    if (held_) held_.unlock();
    return written;
  }

 private:
  std::shared_ptr<VXOfflineSaves> saves_;
  std::string name_;
  unsigned long long turn_ = 0;
  unsigned long long asked_ = 0;  // the clearings when its answer was asked for
  std::unique_lock<std::mutex> held_;
};

}  // namespace

bool VXOfflineArticleStore::saveWithInfo(VXReaderContext& context, const os::Dictionary& info,
                                         const os::Value& category, const os::Value& ID, os::Error* error,
                                         std::optional<unsigned long long> asked) {
  auto name = fileName(category, ID);
  auto path = pathFor(category, ID);
  if (!name || !path) return refuseName(error);
  SaveTurn turn(backgroundSaves(context), *name, asked);
  return turn.write(info, *path, error);
}

unsigned long long VXOfflineArticleStore::clearings(VXReaderContext& context) {
  auto saves = backgroundSaves(context);
  std::lock_guard lock(saves->mutex);
  return saves->clearings;
}

bool VXOfflineArticleStore::removeAll(VXReaderContext& context, os::Error* error) {
  auto saves = backgroundSaves(context);
  // Under the lock a save holds from its decision to replace until its file is in place, so no
  // save finishes behind the removal with an answer from before it.
  std::lock_guard lock(saves->mutex);
  ++saves->clearings;
  auto& files = os::FileManager::defaultManager();
  const std::string folder = VXGlobalHelper::cachesDirectory() + "offline/";
  if (!files.fileExistsAtPath(folder)) return true;
  return files.removeItemAtPath(folder, error);
}

void VXOfflineArticleStore::saveInBackground(const os::Dictionary& info, const os::Value& category,
                                             const os::Value& ID) {
  saveInBackground(*VXReaderContext::current(), info, category, ID);
}

void VXOfflineArticleStore::saveInBackground(VXReaderContext& context, const os::Dictionary& info,
                                             const os::Value& category, const os::Value& ID) {
  auto saves = backgroundSaves(context);
  // Its turn is taken now, while the answer is the newest in hand.
  auto name = fileName(category, ID);
  auto turn = name ? std::make_shared<SaveTurn>(saves, *name, std::nullopt) : nullptr;
  ++saves->pending;
  // The application is asked for the time the save takes: a reader leaving right after opening
  // an article would otherwise end before its file is written.
  // (Tasks are the main thread's to count; the screens save from there.)
  auto app = os::RunLoop::isMainThread() ? os::Application::shared() : nullptr;
  const os::BackgroundTaskIdentifier task = app ? app->beginBackgroundTask({}) : os::kInvalidBackgroundTask;
  std::weak_ptr<os::Application> weakApp = app;
  auto main = app ? app->runLoop() : nullptr;
  saves->group.async(os::DispatchQueue::global(os::DispatchQueue::Priority::Background),
                     [info, category, ID, turn, saves, weakApp, main, task]() mutable {
                       os::Error error;
                       auto path = pathFor(category, ID);
                       if (!(turn && path ? turn->write(info, *path, &error) : refuseName(&error)))
                         VXGlobalHelper::writeLog("offline save failed: " + error.localizedDescription());
                       turn.reset();
                       --saves->pending;
                       if (task == os::kInvalidBackgroundTask) return;
                       main->post([weakApp, task] {
                         if (auto application = weakApp.lock()) application->endBackgroundTask(task);
                       });
                     });
}

int VXOfflineArticleStore::pendingBackgroundSaves() { return pendingBackgroundSaves(*VXReaderContext::current()); }

int VXOfflineArticleStore::pendingBackgroundSaves(VXReaderContext& context) {
  return backgroundSaves(context)->pending.load();
}

bool VXOfflineArticleStore::waitForBackgroundSaves(double seconds) {
  return waitForBackgroundSaves(*VXReaderContext::current(), seconds);
}

bool VXOfflineArticleStore::waitForBackgroundSaves(VXReaderContext& context, double seconds) {
  return backgroundSaves(context)->group.waitFor(seconds);
}
