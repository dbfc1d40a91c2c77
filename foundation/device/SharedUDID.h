#pragma once
// A device identifier shared by every application that takes part in the protocol, without a
// server: each participant keeps its record in its user defaults and mirrors it on one of a
// hundred persistent named pasteboards (the slots), where the others read it. A participant with
// no record of its own adopts the identifier most slots carry; one that opted out reports forty
// zeros.
//
// Several clients carry their own copy of the protocol. A copy is a SharedUDIDParticipant with its
// own profile (names, identifier generator) and its own remembered value; copies with the same
// names read and write the same records and so agree on one identifier.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "os/core/Error.h"
#include "os/core/Value.h"

namespace os {
class Pasteboard;
class Sandbox;
}  // namespace os

enum SharedUDIDErrorCode : long {
  kSharedUDIDRetrieved = 0,
  kSharedUDIDOptedOut = 1,
  kSharedUDIDDiscrepancy = 2,
};

struct SharedUDIDProfile {
  // Defaults key of the record and key of the identifier inside it; the other record keys are
  // this name followed by "_appUID", "_createdTS", "_slot" and "_optOutTS".
  std::string recordKey = "SharedUDID";
  // Slot pasteboards are slotPrefix followed by 0 ... slotCount - 1.
  std::string slotPrefix = "org.SharedUDID.slot.";
  int slotCount = 100;
  std::string pasteboardType = "org.SharedUDID";
  std::string errorDomain = "org.SharedUDID";
  // The protocol's name in the error descriptions.
  std::string displayName = "SharedUDID";
  // Makes a fresh 40-digit identifier.
  std::function<std::string()> generator;

  std::string appUIDKey() const { return recordKey + "_appUID"; }
  std::string createdKey() const { return recordKey + "_createdTS"; }
  std::string slotKey() const { return recordKey + "_slot"; }
  std::string optOutKey() const { return recordKey + "_optOutTS"; }
  std::string slotName(int slot) const { return slotPrefix + std::to_string(slot); }

  // The networking layer's copy: the shared names, identifiers from the process's unique string.
  static SharedUDIDProfile standard();

  // Generators: 32 hex digits of an MD5 digest, then 8 hex digits of a random 32-bit number.
  // Digest of a string unique to this process and moment.
  static std::string identifierFromProcessUniqueString();
  // Digest of a new UUID's text.
  static std::string identifierFromUUID();
  // Digest of a new UUID's text, the random number taken modulo 4294967295.
  static std::string identifierFromUUIDModulo();

  // Forty lower-case hex digits, not all zero: the only identifiers taken from stored records.
  static bool isWellFormedIdentifier(const os::Value& value);
  static const std::string& optedOutIdentifier();  // forty "0"
};

// The value a copy remembers from its first answer in a process, until an opt-out change.
class SharedUDIDCache {
 public:
  std::optional<std::string> get() const;
  void set(std::string value);
  void clear();

 private:
  mutable std::mutex mutex_;
  std::optional<std::string> value_;
};

class SharedUDIDParticipant {
 public:
  // A null sandbox means the current one at each call; a null cache means one of its own.
  explicit SharedUDIDParticipant(SharedUDIDProfile profile, std::shared_ptr<SharedUDIDCache> cache = nullptr,
                                 std::shared_ptr<os::Sandbox> sandbox = nullptr);

  const SharedUDIDProfile& profile() const { return profile_; }
  const std::shared_ptr<SharedUDIDCache>& cache() const { return cache_; }

  std::string value() { return valueWithError(nullptr); }
  // The identifier; *error (when given) always receives the outcome, success included: code 0, 1
  // (opted out, forty zeros) or 2 (the local record disagrees with the slots' majority), the text
  // under the user-info key "description".
  std::string valueWithError(os::Error* error);
  void setOptOut(bool optOut);

  // The record on a slot; an empty dictionary for anything that is not an archived dictionary.
  os::Dictionary getDictFromPasteboard(const os::Pasteboard& pasteboard) const;
  bool setDictForPasteboard(const os::Dictionary& record, os::Pasteboard& pasteboard) const;
  std::string generateFreshSharedUDID() const;

 private:
  std::shared_ptr<os::Sandbox> sandbox() const;
  std::string applicationId(const std::optional<os::Dictionary>& record);
  std::string survey(os::Error* error);
  os::Error outcome(long code, std::string description) const;

  SharedUDIDProfile profile_;
  std::shared_ptr<SharedUDIDCache> cache_;
  std::shared_ptr<os::Sandbox> sandbox_;
  std::mutex mutex_;
};

// The process-wide copy of the networking layer (standard profile, current sandbox).
class SharedUDID {
 public:
  static SharedUDIDParticipant& participant();
  static std::string value() { return participant().value(); }
  static std::string valueWithError(os::Error* error) { return participant().valueWithError(error); }
  static void setOptOut(bool optOut) { participant().setOptOut(optOut); }
  static os::Dictionary getDictFromPasteboard(const os::Pasteboard& pasteboard) {
    return participant().getDictFromPasteboard(pasteboard);
  }
  static bool setDictForPasteboard(const os::Dictionary& record, os::Pasteboard& pasteboard) {
    return participant().setDictForPasteboard(record, pasteboard);
  }
  static std::string generateFreshSharedUDID() { return participant().generateFreshSharedUDID(); }
};
