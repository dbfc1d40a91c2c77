#pragma once
// Crash capture of the push client, on the platform's crash hooks: while the process crashes the
// hook writes a record (the signal or the exception's reason, the network status of that moment,
// the run's version and device description, and the call stack) and then the report scheduler's prepared snapshot of the file cache, so the
// session is saved as going inactive would have saved it; all async-signal-safe and chained to
// the handlers installed before. At the next start the records become crash records of the report
// scheduler's crash set, identical ones counted.
#include <functional>
#include <string>

#include "os/core/Error.h"
#include "os/core/Value.h"

class DUVCrashCapture {
 public:
  static constexpr const char* kHookName = "zurar";
  // The folder of the crash records in the current sandbox.
  static std::string recordDirectory();
  // Adds the hook and installs the platform's crash hooks in `directory` (once per process).
  static bool install(const std::string& directory, os::Error* error = nullptr);
  // The network service's status as it changes (0 not reachable, 2 Wi-Fi, 3 cellular): a crash
  // records the one of its moment.
  static void setNetworkStatus(long status);
  // The running application's version and device description: a crash records the ones of the
  // run that crashed, whichever run reads the record.
  static void setRunFacts(const std::string& version, const os::Dictionary& deviceInfo);
  // Reads the records the previous runs left into the crash set: each element is a two-item list
  // (crash record, call-stack text); a crash with the same message and stack counts one more.
  // A record's text is repaired to UTF-8, and an impossible crash time reads as the time of
  // reading. `deviceInfo` and `networkType` (and the current version) stand for records that
  // carry none. `keep` stores the crash set (and `taken`) where the next start reads them; the
  // records leave the hook's file only when it answers true. `taken` marks the records the crash
  // set has counted while the hook's file may still hold them, one mark for each (two crashes
  // alike to the microsecond are two): a record an earlier reading marked is not counted again,
  // whichever of storing and discarding failed; emptied once they are discarded. Answers how many
  // records were counted.
  static std::size_t collect(const std::string& directory, os::Array& logSet, os::Array& taken,
                             const os::Dictionary& deviceInfo, const std::string& networkType,
                             const std::function<bool()>& keep);
  // After the crash set and `taken` were stored: the records `taken` marks leave the hook's file
  // (`taken` is emptied then). False while they cannot, or while the file holds a record no mark
  // covers (one written after the reading): nothing leaves then.
  static bool release(const std::string& directory, os::Array& taken);
  // One record as the hook writes it ("networktype=", "versionname=" and "device_info=" lines, a
  // "message=" line with line breaks and backslashes escaped, stack lines), or as earlier versions
  // wrote it (the message line first, then the facts), made into a crash record and its call-stack
  // text.
  static std::pair<os::Dictionary, std::string> crashRecord(const std::string& text, double time,
                                                            const os::Dictionary& deviceInfo,
                                                            const std::string& networkType);
};
