#include "sharing/service/OBUtils.h"

#include <cstdarg>
#include <cstdio>
#include <cstdint>

#include "os/core/Log.h"
#include "os/core/String.h"
#include "os/crypto/Digest.h"
#include "os/runtime/Thread.h"
#include "sharing/service/OBProtocolData.h"
#include "sharing/service/XTMOBStringEncoding.h"

OBUtils& OBUtils::sharedInstance() {
  static OBUtils instance;
  return instance;
}

std::string OBUtils::urlEncode(std::string_view text) {
  // Letters, digits and the four unreserved marks stay; everything else, the reserved marks
  // included, is escaped.
  return os::percentEscape(text, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~");
}

std::string OBUtils::md5Value(std::string_view text) {
  auto end = text.find('\0');
  if (end != std::string_view::npos) text = text.substr(0, end);
  return os::uppercaseASCII(os::md5Hex(text));
}

std::string OBUtils::base64EncodeData(const os::Data& bytes) {
  static const auto encoder = XTMOBStringEncoding::rfc4648Base64StringEncoding();
  return encoder->encode(bytes);
}

std::string OBUtils::formatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  if (size > 0) std::vsnprintf(out.data(), out.size() + 1, format, args);
  va_end(args);
  return out;
}

void OBUtils::setPrefix(std::string prefix) {
  auto& shared = sharedInstance();
  std::lock_guard lock(shared.mutex_);
  shared.prefix_ = std::move(prefix);
}

void OBUtils::setOpenLog(bool open) {
  auto& shared = sharedInstance();
  std::lock_guard lock(shared.mutex_);
  shared.openLog_ = open;
}

bool OBUtils::openLog() {
  auto& shared = sharedInstance();
  std::lock_guard lock(shared.mutex_);
  return shared.openLog_;
}

void OBUtils::outLog(std::string_view message) {
  auto& shared = sharedInstance();
  std::string prefix;
  {
    std::lock_guard lock(shared.mutex_);
    if (!shared.openLog_) return;
    prefix = shared.prefix_;
  }
  // The platform has no kernel thread number to show; a stable per-thread number stands in.
  int thread = static_cast<int>(reinterpret_cast<std::uintptr_t>(os::Thread::current().get()) / 16 % 100000);
  std::string line = formatted("[%s(%5d)] - ", OBProtocolData::timeMSString().c_str(), thread);
  std::string text = prefix.empty() ? std::string(message) : prefix + " " + std::string(message);
  // The message went through a format once more on the platform, so doubled percent signs were
  // doubled again to survive it; the printed line keeps that form.
  std::string escaped;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') {
      escaped += "%%%%";
      ++i;
    } else {
      escaped += text[i];
    }
  }
  os::log(line + escaped + " ");
}
