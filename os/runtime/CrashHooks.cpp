#include "os/runtime/CrashHooks.h"

#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <typeinfo>

#include <cxxabi.h>

namespace os {
namespace {

constexpr int kMaxHooks = 16;
constexpr std::size_t kMaxNameLength = 63;
constexpr std::size_t kRecordCapacity = 16 * 1024;
constexpr std::size_t kMaxRecordFile = 4 * 1024 * 1024;
constexpr char kRecordMark[] = "CRASHRECORD v1 ";

struct Slot {
  char name[kMaxNameLength + 1] = {};
  std::string directory;  // setup only: "" for the install folder
  std::atomic<int> fd{-1};
  std::atomic<bool> recorded{false};  // this crash already has its record (from std::terminate)
  CrashHook hook;
};

// Everything the handlers read is set up beforehand and lives in static storage.
Slot gSlots[kMaxHooks];
std::atomic<int> gSlotCount{0};
std::mutex gSetupMutex;  // setup only; never taken by a handler
std::string gDirectory;
bool gInstalled = false;
bool gTerminateInstalled = false;
struct sigaction gPrevious[NSIG];
std::terminate_handler gPreviousTerminate = nullptr;
char gRecord[kRecordCapacity];

// The thread recording the crash, and how far it got: 1 terminate hooks, 2 signal hooks.
std::atomic<long> gCrashingThread{0};
std::atomic<int> gPhase{0};

long threadId() { return static_cast<long>(syscall(SYS_gettid)); }

// ---- async-signal-safe formatting ----

std::size_t formatUnsigned(char* out, unsigned long long v, unsigned base) {
  char digits[32];
  std::size_t n = 0;
  do {
    digits[n++] = "0123456789abcdef"[v % base];
    v /= base;
  } while (v != 0);
  for (std::size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  return n;
}

void writeAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

bool hasFaultAddress(int signal) { return signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE || signal == SIGILL; }

void writeRecord(const Slot& slot, const CrashRecordWriter& writer) {
  int fd = slot.fd.load(std::memory_order_acquire);
  if (fd < 0) return;
  const siginfo_t* info = writer.info();
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  char line[256];
  CrashRecordWriter header(line, sizeof line, writer.signal(), info, nullptr);
  header.write(kRecordMark).write("signal=").writeDecimal(writer.signal());
  header.write(" code=").writeDecimal(info ? info->si_code : 0);
  header.write(" address=").writeHex(info && hasFaultAddress(writer.signal()) ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0);
  const long micros = now.tv_nsec / 1000;
  header.write(" time=").writeDecimal(now.tv_sec).write(".");
  for (long place = 100000; place > 1 && micros < place; place /= 10) header.write("0");
  header.writeDecimal(micros);
  header.write(" length=").writeDecimal(static_cast<long long>(writer.size())).write("\n");
  writeAll(fd, line, header.size());
  writeAll(fd, gRecord, writer.size());
  writeAll(fd, "\n", 1);
}

// ---- the handlers ----

void restoreDefaultAndRaise(int signal) {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(signal, &dfl, nullptr);
  // Blocked while its handler runs: delivered (and fatal) as soon as the handler returns. A fault
  // would come back anyway when the instruction runs again.
  raise(signal);
}

void callPrevious(int signal, siginfo_t* info, void* context) {
  const struct sigaction& previous = gPrevious[signal];
  if (previous.sa_flags & SA_SIGINFO) {
    if (previous.sa_sigaction) previous.sa_sigaction(signal, info, context);
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN && previous.sa_handler) {
    previous.sa_handler(signal);
  }
}

void runSignalHooks(int signal, siginfo_t* info, void* context) {
  int count = gSlotCount.load(std::memory_order_acquire);
  for (int i = 0; i < count; ++i) {
    Slot& slot = gSlots[i];
    if (!slot.hook.onSignal || slot.recorded.load() || (signal == SIGPIPE && !slot.hook.brokenPipe)) continue;
    CrashRecordWriter writer(gRecord, sizeof gRecord, signal, info, context);
    slot.hook.onSignal(writer);
    writeRecord(slot, writer);
    slot.recorded.store(true);
  }
}

void onCrashSignal(int signal, siginfo_t* info, void* context) {
  const long self = threadId();
  long owner = 0;
  if (gCrashingThread.compare_exchange_strong(owner, self)) {
    gPhase.store(2);
    runSignalHooks(signal, info, context);
  } else if (owner == self) {
    // After std::terminate's hooks: the ones that have no record yet get theirs. A crash inside a
    // signal hook or an earlier handler ends here, with nothing more run.
    if (gPhase.exchange(2) == 2) return restoreDefaultAndRaise(signal);
    runSignalHooks(signal, info, context);
  } else {
    // Another thread is recording its crash and will end the process; give it the time to.
    for (int i = 0; i < 50; ++i) {
      timespec pause{0, 100 * 1000 * 1000};
      nanosleep(&pause, nullptr);
    }
  }
  callPrevious(signal, info, context);
  // The earlier handler came back (or there was none): die of the signal as if we had not been here.
  restoreDefaultAndRaise(signal);
}

void onTerminate() {
  const long self = threadId();
  long owner = 0;
  if (gCrashingThread.compare_exchange_strong(owner, self)) {
    gPhase.store(1);
    int count = gSlotCount.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
      Slot& slot = gSlots[i];
      if (!slot.hook.onTerminate) continue;
      CrashRecordWriter writer(gRecord, sizeof gRecord, 0, nullptr, nullptr);
      try {
        slot.hook.onTerminate(writer);
      } catch (...) {
      }
      writeRecord(slot, writer);
      slot.recorded.store(true);
    }
  }
  if (gPreviousTerminate && gPreviousTerminate != &onTerminate) gPreviousTerminate();
  std::abort();
}

bool validName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNameLength || name == "." || name == "..") return false;
  for (char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-')) return false;
  return true;
}

bool fail(Error* error, long code, std::string description) {
  if (error) *error = Error::withDescription(kCrashHooksErrorDomain, code, std::move(description));
  return false;
}

bool makeDirectories(const std::string& path) {
  for (std::size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    std::string part = path.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Requires gSetupMutex.
bool openRecordFile(Slot& slot, Error* error) {
  const std::string& directory = slot.directory.empty() ? gDirectory : slot.directory;
  if (!slot.directory.empty() && !makeDirectories(directory))
    return fail(error, kCrashHooksFileError, "cannot make the record folder " + directory);
  std::string path = CrashHooks::recordPath(directory, slot.name);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return fail(error, kCrashHooksFileError, "cannot open " + path + ": " + std::strerror(errno));
  slot.fd.store(fd, std::memory_order_release);
  return true;
}

constexpr std::size_t kAlternateStackSize = 64 * 1024;

// An alternate stack for the calling thread unless it has one (a sanitizer's, say); the memory
// made, or null.
void* installAlternateStack(std::size_t size) {
  stack_t current{};
  if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return nullptr;
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  stack_t stack{};
  stack.ss_sp = memory;
  stack.ss_size = size;
  if (sigaltstack(&stack, nullptr) != 0) {
    munmap(memory, size);
    return nullptr;
  }
  return memory;
}

std::atomic<bool> gSignalsInstalled{false};
bool gBrokenPipeInstalled = false;

void installSignal(int signal) {
  struct sigaction action {};
  action.sa_sigaction = &onCrashSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, &gPrevious[signal]);
}

// Requires gSetupMutex. SIGPIPE once installed and a hook asks for it, unless the process ignores
// it (a service that outlives a client that hung up).
void installBrokenPipe() {
  if (gBrokenPipeInstalled || !gInstalled) return;
  bool wanted = false;
  for (int i = 0; i < gSlotCount.load(); ++i) wanted = wanted || gSlots[i].hook.brokenPipe;
  struct sigaction current {};
  if (!wanted || sigaction(SIGPIPE, nullptr, &current) != 0) return;
  if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN) return;
  installSignal(SIGPIPE);
  gBrokenPipeInstalled = true;
}

// Requires gSetupMutex.
void installTerminate() {
  if (gTerminateInstalled) return;
  gPreviousTerminate = std::set_terminate(&onTerminate);
  gTerminateInstalled = true;
}

std::optional<long long> headerNumber(const std::string& header, const char* key, int base = 10) {
  std::size_t at = header.find(key);
  if (at == std::string::npos) return std::nullopt;
  const char* start = header.c_str() + at + std::strlen(key);
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(start, &end, base);
  if (end == start || errno != 0) return std::nullopt;
  return static_cast<long long>(v);
}

}  // namespace

// ---- the writer ----

CrashRecordWriter& CrashRecordWriter::write(const char* bytes, std::size_t count) {
  std::size_t room = capacity_ - size_;
  if (count > room) count = room;
  std::memcpy(buffer_ + size_, bytes, count);
  size_ += count;
  return *this;
}

CrashRecordWriter& CrashRecordWriter::write(const char* text) { return write(text, std::strlen(text)); }

CrashRecordWriter& CrashRecordWriter::writeDecimal(long long value) {
  char digits[24];
  std::size_t n = 0;
  if (value < 0) {
    digits[n++] = '-';
    n += formatUnsigned(digits + n, 0ull - static_cast<unsigned long long>(value), 10);
  } else {
    n = formatUnsigned(digits, static_cast<unsigned long long>(value), 10);
  }
  return write(digits, n);
}

CrashRecordWriter& CrashRecordWriter::writeHex(std::uintptr_t value) {
  char digits[20] = {'0', 'x'};
  std::size_t n = 2 + formatUnsigned(digits + 2, value, 16);
  return write(digits, n);
}

CrashRecordWriter& CrashRecordWriter::writeStack() {
  void* frames[64];
  int count = backtrace(frames, 64);  // loaded at install, so no allocation here
  for (int i = 0; i < count; ++i) writeHex(reinterpret_cast<std::uintptr_t>(frames[i])).write("\n", 1);
  return *this;
}

// ---- the hooks ----

std::string CrashHooks::recordPath(const std::string& directory, const std::string& name) {
  return directory + "/" + name + ".crashrecords";
}

bool CrashHooks::install(const std::string& directory, Error* error) {
  std::lock_guard lock(gSetupMutex);
  if (gInstalled) {
    if (directory == gDirectory) return true;
    return fail(error, kCrashHooksInstalledError, "crash hooks already record into " + gDirectory);
  }
  if (directory.empty() || !makeDirectories(directory))
    return fail(error, kCrashHooksFileError, "cannot make the record folder " + directory);
  gDirectory = directory;
  int count = gSlotCount.load();
  for (int i = 0; i < count; ++i)
    if (gSlots[i].fd.load() < 0 && !openRecordFile(gSlots[i], error)) return false;

  // The first backtrace loads the unwinder; in a handler that load could allocate.
  void* warm[1];
  backtrace(warm, 1);
  installAlternateStack(std::max<std::size_t>(SIGSTKSZ, kAlternateStackSize));  // kept for the process's life

  for (int signal : kCrashSignals) installSignal(signal);
  installTerminate();
  gInstalled = true;
  gSignalsInstalled = true;
  installBrokenPipe();
  return true;
}

CrashHooks::ThreadStack::ThreadStack() {
  if (!gSignalsInstalled.load()) return;
  size_ = std::max<std::size_t>(SIGSTKSZ, kAlternateStackSize);
  memory_ = installAlternateStack(size_);
}

CrashHooks::ThreadStack::~ThreadStack() {
  if (!memory_) return;
  stack_t off{};
  off.ss_flags = SS_DISABLE;
  sigaltstack(&off, nullptr);
  munmap(memory_, size_);
}

bool CrashHooks::isInstalled() {
  std::lock_guard lock(gSetupMutex);
  return gInstalled;
}

bool CrashHooks::addHook(const std::string& name, CrashHook hook, Error* error) {
  std::lock_guard lock(gSetupMutex);
  if (!validName(name)) return fail(error, kCrashHooksNameError, "not a crash hook name: \"" + name + "\"");
  int count = gSlotCount.load();
  for (int i = 0; i < count; ++i)
    if (name == gSlots[i].name) return fail(error, kCrashHooksNameError, "crash hook \"" + name + "\" exists already");
  if (count == kMaxHooks) return fail(error, kCrashHooksFullError, "no room for another crash hook");
  Slot& slot = gSlots[count];
  std::memcpy(slot.name, name.c_str(), name.size() + 1);
  slot.directory = std::move(hook.directory);
  slot.hook = std::move(hook);
  if ((gInstalled || !slot.directory.empty()) && !openRecordFile(slot, error)) return false;
  // The terminate chain needs no folder: a hook that writes its own file works before install.
  if (slot.hook.onTerminate) installTerminate();
  gSlotCount.store(count + 1, std::memory_order_release);
  installBrokenPipe();
  return true;
}

std::vector<CrashRecord> CrashHooks::takeRecords(const std::string& directory, const std::string& name) {
  std::size_t bytes = 0;
  auto records = readRecords(directory, name, &bytes);
  discardRecords(directory, name, bytes);
  return records;
}

bool CrashHooks::discardRecords(const std::string& directory, const std::string& name, std::size_t bytes) {
  if (!validName(name)) return false;
  std::string path = recordPath(directory, name);
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  // Records written after the reading stay. Emptied in place: a running process may hold the file
  // open for its own records.
  std::string rest;
  char chunk[8192];
  for (off_t at = static_cast<off_t>(bytes);;) {
    ssize_t n = ::pread(fd, chunk, sizeof chunk, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    rest.append(chunk, static_cast<std::size_t>(n));
    at += n;
  }
  bool ok = ::ftruncate(fd, 0) == 0;
  for (std::size_t done = 0; ok && done < rest.size();) {
    ssize_t n = ::pwrite(fd, rest.data() + done, rest.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return ok;
}

std::vector<CrashRecord> CrashHooks::readRecords(const std::string& directory, const std::string& name,
                                                 std::size_t* bytes) {
  std::vector<CrashRecord> records;
  if (bytes) *bytes = 0;
  if (!validName(name)) return records;
  std::string path = recordPath(directory, name);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return records;
  std::string text;
  char chunk[8192];
  bool capped = false;
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
    if (text.size() > kMaxRecordFile) {  // a runaway file: keep what was read
      capped = true;
      break;
    }
  }
  ::close(fd);

  // Read up to the cap, the read may stop inside a record's text, its header or its mark: what
  // follows the last record handed over is left for the next read rather than cut. Only a first
  // record longer than the cap is handed over cut, or no take would ever get past it.
  std::size_t settled = capped ? 0 : text.size();  // where what is handed over ends
  std::size_t at = text.find(kRecordMark);
  while (at != std::string::npos) {
    std::size_t lineEnd = text.find('\n', at);
    if (lineEnd == std::string::npos) break;
    std::string header = text.substr(at, lineEnd - at);
    auto signal = headerNumber(header, "signal=");
    auto code = headerNumber(header, "code=");
    auto address = headerNumber(header, "address=", 16);
    auto seconds = headerNumber(header, "time=");
    auto length = headerNumber(header, " length=");
    std::size_t next = text.find(kRecordMark, lineEnd);
    if (signal && length) {
      CrashRecord record;
      record.hook = name;
      record.signal = static_cast<int>(*signal);
      record.code = static_cast<int>(code.value_or(0));
      record.address = static_cast<std::uintptr_t>(address.value_or(0));
      if (seconds) {
        record.time = static_cast<double>(*seconds);
        std::size_t dot = header.find('.', header.find("time="));
        if (dot != std::string::npos) record.time += std::strtod(header.c_str() + dot, nullptr);
        // A damaged header can spell any number: one no clock gives reads as unknown.
        if (!std::isfinite(record.time) || record.time < 0) record.time = 0;
      }
      std::size_t body = lineEnd + 1;
      std::size_t available = text.size() - body;
      std::size_t want = static_cast<std::size_t>(*length);
      if (capped && want > available && !records.empty()) break;
      record.complete = want <= available && (body + want == text.size() || text[body + want] == '\n');
      record.text = text.substr(body, record.complete ? want : std::min(want, (next == std::string::npos ? text.size() : next) - body));
      if (record.complete) next = text.find(kRecordMark, body + want);
      // A whole record ends with its text, a damaged one where the next record starts.
      if (capped) settled = record.complete ? body + want : next == std::string::npos ? text.size() : next;
      records.push_back(std::move(record));
    }
    at = next;
  }
  // Nothing whole in a full read: junk goes, up to a header the read cut, so the next take moves on.
  if (capped && records.empty()) settled = at != std::string::npos && at > 0 ? at : text.size();
  if (bytes) *bytes = settled;
  return records;
}

std::string CrashHooks::currentExceptionReason() {
  std::exception_ptr current = std::current_exception();
  if (!current) return {};
  std::string type = "unknown";
  if (const std::type_info* t = abi::__cxa_current_exception_type()) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(t->name(), nullptr, nullptr, &status);
    type = status == 0 && demangled ? demangled : t->name();
    std::free(demangled);
  }
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {
    return type + ": " + e.what();
  } catch (...) {
    return type;
  }
}

}  // namespace os
