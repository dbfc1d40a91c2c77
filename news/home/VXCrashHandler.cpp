#include "news/home/VXCrashHandler.h"

#include <cstdlib>
#include <exception>
#include <memory>

#include "news/api/VXGlobalHelper.h"
#include "news/api/VXUploadDumpRequest.h"
#include "os/core/Error.h"
#include "os/core/String.h"
#include "os/core/Value.h"
#include "os/runtime/CallStack.h"
#include "os/runtime/CrashHooks.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"

namespace {

constexpr int kDumpRefused = 2;

// The news client's link in the process's crash chain: the earlier terminate handler (and the
// abort after it) still run once the dump is written.
void recordUncaughtException() {
  if (auto current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const os::Exception& e) {
      VXCrashHandler::UncaughtExceptionHandlers(e);
    } catch (const std::exception& e) {
      VXCrashHandler::UncaughtExceptionHandlers(os::Exception("std::exception", e.what()));
    } catch (...) {
    }
  }
}

}  // namespace

std::string VXCrashHandler::filePath() {
  return os::Sandbox::current()->homeDirectory() + "/Library/Caches/crash.m";
}

void VXCrashHandler::setDefaultHandler() {
  os::CrashHooks::addHook("news", os::CrashHook{{}, [](os::CrashRecordWriter&) { recordUncaughtException(); }});
}

std::string VXCrashHandler::dumpText(const std::string& reason, const std::vector<std::string>& callStackSymbols) {
  os::Array symbols;
  for (const auto& s : callStackSymbols) symbols.push_back(os::Value(s));
  return reason + os::Value(symbols).description();
}

void VXCrashHandler::UncaughtExceptionHandlers(const os::Exception& exception) {
  std::string text = dumpText(exception.reason(), os::currentCallStack());
  auto& fm = os::FileManager::defaultManager();
  std::string path = filePath();
  fm.createDirectoryAtPath(path.substr(0, path.rfind('/')), true);
  fm.writeData(os::Data(text.begin(), text.end()), path);
}

void VXCrashHandler::uploadDump(std::function<void(bool)> done) {
  auto finish = [done](bool taken) {
    if (done) done(taken);
  };
  auto& fm = os::FileManager::defaultManager();
  std::string path = filePath();
  // The dump's folder is the shared caches folder: only this file's leftovers of a dump cut short go.
  fm.removeAbandonedTemporaryFiles(path);
  if (!fm.fileExistsAtPath(path)) return finish(false);
  auto contents = fm.contentsAtPath(path);
  if (!contents) return finish(false);
  std::string dump(contents->begin(), contents->end());
  if (!os::isValidUTF8(dump)) return finish(false);

  auto request = std::make_shared<VXUploadDumpRequest>(dump);
  // The log exactly as this request carries it: only that part may go once the server has it.
  std::optional<std::string> uploadedLog;
  if (const os::Dictionary* opdata = request->params()["opdata"].dictionary())
    if (const std::string* log = (*opdata)["log"].string()) uploadedLog = *log;

  VXGlobalHelper::loadWithRequest(
      *request, 0,
      [path, uploadedLog, finish, request](const std::optional<os::Dictionary>& data) {
        if (!data || (*data)["result"].intValue() == kDumpRefused) return finish(false);
        os::FileManager::defaultManager().removeItemAtPath(path);
        if (uploadedLog) removeUploadedLog(*uploadedLog);
        finish(true);
      },
      [finish] { finish(false); });
}

void VXCrashHandler::removeUploadedLog(std::string_view uploaded) {
  if (uploaded.empty()) return;
  // Under the log's lock: a line another thread writes meanwhile stays.
  VXGlobalHelper::editLog([uploaded](const std::string& current) -> std::optional<std::string> {
    std::string_view now(current);
    // The log only grows at its end and loses whole lines at its front, so what is left of the
    // uploaded text is a tail of it starting at a line, found at the front of the log.
    std::size_t drop = 0;
    for (std::size_t from = 0; from < uploaded.size();) {
      std::string_view rest = uploaded.substr(from);
      if (now.substr(0, rest.size()) == rest) {
        drop = rest.size();
        break;
      }
      std::size_t newline = uploaded.find('\n', from);
      if (newline == std::string_view::npos) break;
      from = newline + 1;
    }
    if (drop == 0) return std::nullopt;
    return std::string(now.substr(drop));
  });
}
