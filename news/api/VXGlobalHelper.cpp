#include "news/api/VXGlobalHelper.h"

#include <algorithm>
#include <string_view>

#include "foundation/formats/JSONDecoder.h"
#include "news/api/NQBaseRequest.h"
#include "news/api/NQProxy.h"
#include "news/api/VXReaderContext.h"
#include "os/core/Log.h"
#include "os/core/String.h"
#include "os/runtime/DispatchQueue.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"

namespace {

std::string describe(const os::Value* value) { return value ? value->description() : "(null)"; }

os::Data bytesOf(std::string_view text) { return os::Data(text.begin(), text.end()); }

// Keeps the newest part of the log (at most `keep` bytes, from a line start) so that appending
// `incoming` bytes stays within the limit. Caller holds the log lock.
void trimLogLocked(const std::string& path, std::size_t incoming, std::size_t limit) {
  auto& fm = os::FileManager::defaultManager();
  auto attributes = fm.attributesOfItemAtPath(path);
  if (!attributes || attributes->size + incoming <= limit) return;
  // A log that cannot be read now is left whole rather than replaced by an empty tail: it is what
  // a crash report sends.
  auto read = fm.contentsAtPath(path);
  if (!read) return;
  const os::Data& contents = *read;
  std::size_t keep = limit / 2 > incoming ? limit / 2 - incoming : 0;
  std::size_t from = contents.size() > keep ? contents.size() - keep : 0;
  // Start at the beginning of a line, so no half line (or half character) survives.
  while (from > 0 && from < contents.size() && contents[from - 1] != '\n') ++from;
  os::Data tail(contents.begin() + static_cast<std::ptrdiff_t>(std::min(from, contents.size())), contents.end());
  // Under the log lock no other rewrite is under way: what an earlier one cut short left goes.
  fm.removeAbandonedTemporaryFiles(path);
  fm.writeData(tail, path);
}

}  // namespace

VXGlobalHelper& VXGlobalHelper::share() { return share(*VXReaderContext::current()); }

VXGlobalHelper& VXGlobalHelper::share(VXReaderContext& context) {
  // The context keeps its runner; the reference lives as long as the context does.
  return *context.requestRunner.get([&] {
    return std::make_shared<VXGlobalHelper>(std::weak_ptr<const VXReaderContext>(context.weak_from_this()));
  });
}

VXRequestConfig VXGlobalHelper::requestConfig() const {
  auto context = context_.lock();
  return context ? context->requestConfig() : VXRequestConfig();
}

namespace {
// A whole number, as a number or as its text ("2", "-1"): what a caller's integer reading of the
// status takes at its word.
bool readsAsStatus(const os::Value& result) {
  if (result.isNumber()) return true;
  const std::string* text = result.string();
  if (!text) return false;
  std::string_view digits = *text;
  if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) digits.remove_prefix(1);
  return !digits.empty() && digits.size() <= 18 &&
         std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}
}  // namespace

std::optional<os::Dictionary> VXGlobalHelper::praseRespString(const std::optional<std::string>& text) {
  if (!text || text->empty()) {
    writeLog("resp is nil");
    return std::nullopt;
  }
  // Lossy: a stray byte must not cost the whole answer.
  std::string utf8 = os::repairUTF8(*text);
  if (utf8.empty()) {
    writeLog("respData is nil");
    return std::nullopt;
  }
  JSONDecoder decoder;
  auto parsed = decoder.mutableObjectWithUTF8String(utf8.data(), utf8.size());
  const os::Dictionary* answer = parsed ? parsed->dictionary() : nullptr;
  if (!answer) {
    writeLog("respDict is nil");
    return std::nullopt;
  }
  const os::Value* errorcode = answer->find("errorcode");
  const os::Value* opcode = answer->find("opcode");
  std::string whole = parsed->description();
  // Only a number is an error code; anything else is no code at all.
  long long code = errorcode && errorcode->isNumber() ? errorcode->intValue() : 0;
  if (code < 0) {
    writeLog(os::format("errorcode is %lld and opcode is %s and respdict is %s", code, describe(opcode).c_str(),
                        whole.c_str()));
    return std::nullopt;
  }
  const os::Value* data = answer->find("data");
  const os::Dictionary* dict = data ? data->dictionary() : nullptr;
  const os::Value* result = dict ? dict->find("result") : nullptr;
  // The status is a number, or a number written as text, which callers read as one; anything
  // else says nothing a caller could judge, and a caller reading it as a number would take it
  // for a success.
  if (!result || !readsAsStatus(*result)) {
    writeLog(os::format("data is nil and opcode is %s and respdict is %s", describe(opcode).c_str(), whole.c_str()));
    return std::nullopt;
  }
  return *dict;
}

void VXGlobalHelper::loadWithRequest(NQBaseRequest& request, CompletedBlock completed) {
  loadWithRequest(*VXReaderContext::current(), request, std::move(completed));
}

void VXGlobalHelper::loadWithRequest(VXReaderContext& context, NQBaseRequest& request, CompletedBlock completed) {
  loadWithRequest(context, request, 0, std::move(completed), nullptr);
}

void VXGlobalHelper::loadWithRequest(NQBaseRequest& request, double timeout, CompletedBlock completed,
                                     FailedBlock failed) {
  loadWithRequest(*VXReaderContext::current(), request, timeout, std::move(completed), std::move(failed));
}

void VXGlobalHelper::loadWithRequest(VXReaderContext& context, NQBaseRequest& request, double timeout,
                                     CompletedBlock completed, FailedBlock failed) {
  std::string className = request.className();
  auto proxy = NQProxy::loadWithRequest(
      request, share(context).requestConfig(), timeout,
      [completed](const std::string& text, os::StringEncoding) {
        auto data = praseRespString(text);
        os::DispatchQueue::main()->async([completed, data] {
          if (completed) completed(data);
        });
      },
      [className, failed](const os::Error&) {
        os::log("request proxy failed. class name is : " + className);
        if (failed) failed();  // already on the main queue
      });
  proxy->start();
}

std::optional<os::Dictionary> VXGlobalHelper::synchWithRequest(NQBaseRequest& request) {
  return synchWithRequest(*VXReaderContext::current(), request);
}

std::optional<os::Dictionary> VXGlobalHelper::synchWithRequest(VXReaderContext& context, NQBaseRequest& request) {
  auto text = NQProxy::synchWithRequest(request, share(context).requestConfig());
  if (!text) return std::nullopt;
  return praseRespString(text);
}

std::string VXGlobalHelper::cachesDirectory() { return os::Sandbox::current()->libraryDirectory() + "/Caches/"; }

std::string VXGlobalHelper::offlineDirectory() {
  std::string path = cachesDirectory() + "offline/";
  auto& fm = os::FileManager::defaultManager();
  if (!fm.fileExistsAtPath(path)) fm.createDirectoryAtPath(path, true);
  return path;
}

std::string VXGlobalHelper::pathLog() {
  std::string path = cachesDirectory() + "log.txt";
  auto& fm = os::FileManager::defaultManager();
  if (!fm.fileExistsAtPath(path)) {
    fm.createDirectoryAtPath(cachesDirectory(), true);
    fm.writeData(os::Data(), path);
  }
  return path;
}

void VXGlobalHelper::writeLog(std::string_view text) {
  std::string line(text);
  line += '\n';
  auto& runner = share();
  std::lock_guard<std::mutex> lock(runner.logMutex_);
  std::string path = pathLog();
  trimLogLocked(path, line.size(), runner.logLimit_.load());
  os::FileManager::defaultManager().appendData(bytesOf(line), path);
}

std::optional<std::string> VXGlobalHelper::readLog() {
  std::lock_guard<std::mutex> lock(share().logMutex_);
  auto contents = os::FileManager::defaultManager().contentsAtPath(pathLog());
  if (!contents) return std::nullopt;
  std::string text(contents->begin(), contents->end());
  if (!os::isValidUTF8(text)) return std::nullopt;
  return text;
}

void VXGlobalHelper::editLog(const std::function<std::optional<std::string>(const std::string&)>& edit) {
  std::lock_guard<std::mutex> lock(share().logMutex_);
  auto& fm = os::FileManager::defaultManager();
  const std::string path = pathLog();
  auto contents = fm.contentsAtPath(path);
  if (!contents) return;
  std::string text(contents->begin(), contents->end());
  if (!os::isValidUTF8(text)) return;
  auto edited = edit(text);
  if (!edited) return;
  fm.removeAbandonedTemporaryFiles(path);
  if (edited->empty())
    fm.removeItemAtPath(path);
  else
    fm.writeData(bytesOf(*edited), path);
}

std::size_t VXGlobalHelper::logLimit() { return share().logLimit_.load(); }
void VXGlobalHelper::setLogLimit(std::size_t bytes) { share().logLimit_ = bytes; }
