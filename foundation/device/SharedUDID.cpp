#include "foundation/device/SharedUDID.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "os/crypto/Digest.h"
#include "os/crypto/Random.h"
#include "os/store/KeyedArchive.h"
#include "os/store/Pasteboard.h"
#include "os/store/Sandbox.h"
#include "os/store/UserDefaults.h"

namespace {

// A record is a handful of short strings and dates; anything much larger is not one.
constexpr std::size_t kLargestRecord = 64 * 1024;

std::string hex8(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", v);
  return buf;
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// 8-4-4-4-12 hex digits, either case.
bool isUUIDText(const os::Value& value) {
  const std::string* s = value.string();
  if (!s || s->size() != 36) return false;
  for (std::size_t i = 0; i < 36; ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? (*s)[i] != '-' : !isHexDigit((*s)[i])) return false;
  }
  return true;
}

// How the platform prints a date inside a message: "2026-12-07 07:33:25 +0000".
std::string dateText(os::Date date) {
  const auto t = static_cast<std::time_t>(std::floor(date.timeIntervalSince1970()));
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &tm);
  return buf;
}

std::optional<os::Date> dateIn(const os::Dictionary& d, const std::string& key) {
  const os::Value* v = d.find(key);
  return v ? v->date() : std::nullopt;
}

std::optional<std::string> stringIn(const os::Dictionary& d, const std::string& key) {
  const os::Value* v = d.find(key);
  const std::string* s = v ? v->string() : nullptr;
  return s ? std::optional<std::string>(*s) : std::nullopt;
}

std::optional<std::string> identifierIn(const os::Dictionary& d, const std::string& key) {
  const os::Value* v = d.find(key);
  if (!v || !SharedUDIDProfile::isWellFormedIdentifier(*v)) return std::nullopt;
  return *v->string();
}

}  // namespace

SharedUDIDProfile SharedUDIDProfile::standard() {
  SharedUDIDProfile p;
  p.generator = &SharedUDIDProfile::identifierFromProcessUniqueString;
  return p;
}

std::string SharedUDIDProfile::identifierFromProcessUniqueString() {
  // Unique across processes (UUID, process id) and within one (a counter).
  static std::atomic<unsigned long> counter{0};
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s-%ld-%016lX", os::uuidString().c_str(), static_cast<long>(getpid()),
                ++counter);
  return os::md5Hex(std::string_view(buf)) + hex8(os::random32());
}

std::string SharedUDIDProfile::identifierFromUUID() {
  return os::md5Hex(std::string_view(os::uuidString())) + hex8(os::random32());
}

std::string SharedUDIDProfile::identifierFromUUIDModulo() {
  return os::md5Hex(std::string_view(os::uuidString())) + hex8(os::random32() % 4294967295u);
}

bool SharedUDIDProfile::isWellFormedIdentifier(const os::Value& value) {
  const std::string* s = value.string();
  if (!s || s->size() != 40) return false;
  bool nonZero = false;
  for (char c : *s) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    nonZero |= c != '0';
  }
  return nonZero;
}

const std::string& SharedUDIDProfile::optedOutIdentifier() {
  static const std::string zeros(40, '0');
  return zeros;
}

std::optional<std::string> SharedUDIDCache::get() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return value_;
}

void SharedUDIDCache::set(std::string value) {
  std::lock_guard<std::mutex> lock(mutex_);
  value_ = std::move(value);
}

void SharedUDIDCache::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  value_.reset();
}

SharedUDIDParticipant::SharedUDIDParticipant(SharedUDIDProfile profile, std::shared_ptr<SharedUDIDCache> cache,
                                             std::shared_ptr<os::Sandbox> sandbox)
    : profile_(std::move(profile)),
      cache_(cache ? std::move(cache) : std::make_shared<SharedUDIDCache>()),
      sandbox_(std::move(sandbox)) {
  if (!profile_.generator) profile_.generator = &SharedUDIDProfile::identifierFromProcessUniqueString;
}

std::shared_ptr<os::Sandbox> SharedUDIDParticipant::sandbox() const {
  return sandbox_ ? sandbox_ : os::Sandbox::current();
}

os::Error SharedUDIDParticipant::outcome(long code, std::string description) const {
  os::Error e(profile_.errorDomain, code);
  e.userInfo.set("description", os::Value(description));
  e.userInfo.set(os::kErrorDescriptionKey, os::Value(std::move(description)));
  return e;
}

std::string SharedUDIDParticipant::generateFreshSharedUDID() const { return profile_.generator(); }

os::Dictionary SharedUDIDParticipant::getDictFromPasteboard(const os::Pasteboard& pasteboard) const {
  std::optional<os::Data> data = pasteboard.dataForPasteboardType(profile_.pasteboardType);
  if (!data || data->empty() || data->size() > kLargestRecord) return {};
  std::optional<os::Value> v = os::KeyedUnarchiver::unarchiveValue(*data);
  const os::Dictionary* d = v ? v->dictionary() : nullptr;
  return d ? *d : os::Dictionary();
}

bool SharedUDIDParticipant::setDictForPasteboard(const os::Dictionary& record, os::Pasteboard& pasteboard) const {
  std::optional<os::Data> data = os::KeyedArchiver::archivedData(os::ArchiveItem(os::Value(record)));
  return data && pasteboard.setData(std::move(*data), profile_.pasteboardType);
}

// The application's id is kept at the top of its defaults, so that every launch finds its own
// slot again instead of claiming another free one.
std::string SharedUDIDParticipant::applicationId(const std::optional<os::Dictionary>& record) {
  auto defaults = sandbox()->standardUserDefaults();
  const std::string key = profile_.appUIDKey();
  if (auto stored = defaults->objectForKey(key); stored && isUUIDText(*stored)) return *stored->string();
  std::string id;
  // A record made before the id was kept at the top still names it.
  if (const os::Value* fromRecord = record ? record->find(key) : nullptr; fromRecord && isUUIDText(*fromRecord))
    id = *fromRecord->string();
  else
    id = os::uuidString();
  defaults->setObject(os::Value(id), key);
  return id;
}

std::string SharedUDIDParticipant::valueWithError(os::Error* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto remembered = cache_->get()) {
    if (error) *error = outcome(kSharedUDIDRetrieved, profile_.displayName + " in cache from first call");
    return *remembered;
  }
  std::string result = survey(error);
  cache_->set(result);
  return result;
}

std::string SharedUDIDParticipant::survey(os::Error* error) {
  auto defaults = sandbox()->standardUserDefaults();
  const std::string& idKey = profile_.recordKey;

  // The local record; a value of another type counts as none.
  std::optional<os::Dictionary> record;
  if (auto stored = defaults->objectForKey(idKey); stored && stored->dictionary()) record = *stored->dictionary();
  const std::string appId = applicationId(record);
  std::optional<std::string> localId = record ? identifierIn(*record, idKey) : std::nullopt;
  std::optional<os::Date> optOutDate = record ? dateIn(*record, profile_.optOutKey()) : std::nullopt;
  bool optedOut = optOutDate.has_value();

  // Survey the slots. Only well-formed identifiers vote; a slot without one is free.
  std::vector<std::pair<std::string, int>> votes;  // in order of first appearance
  int freeSlot = -1, ownSlot = -1;
  for (int i = 0; i < profile_.slotCount; ++i) {
    auto board = os::Pasteboard::pasteboardWithName(profile_.slotName(i), false, sandbox());
    const os::Dictionary slot = board ? getDictFromPasteboard(*board) : os::Dictionary();
    if (auto id = identifierIn(slot, idKey)) {
      auto it = std::find_if(votes.begin(), votes.end(), [&](const auto& v) { return v.first == *id; });
      if (it == votes.end())
        votes.emplace_back(*id, 1);
      else
        ++it->second;
    } else if (freeSlot < 0) {
      freeSlot = i;
    }
    if (stringIn(slot, profile_.appUIDKey()) == appId) {
      ownSlot = i;
      if (optedOut) {
        optOutDate = dateIn(slot, profile_.optOutKey());
        optedOut = optOutDate.has_value();
      }
    }
  }
  // The most frequent identifier; among equals, the one met first.
  std::optional<std::string> majority;
  int best = 0;
  for (const auto& [id, count] : votes)
    if (count > best) {
      best = count;
      majority = id;
    }

  bool compromised = false, save = false;
  std::string chosen;
  if (localId) {
    chosen = *localId;
    compromised = majority && *majority != chosen;
  } else {
    chosen = majority ? *majority : generateFreshSharedUDID();
    // A record without a usable identifier gets the chosen one, so later launches keep it.
    if (!record) {
      record = os::Dictionary();
      record->set(profile_.createdKey(), os::Value(os::Date::now()));
    }
    record->set(idKey, os::Value(chosen));
    if (!dateIn(*record, profile_.createdKey())) record->set(profile_.createdKey(), os::Value(os::Date::now()));
    save = true;
  }
  if (stringIn(*record, profile_.appUIDKey()) != appId) {
    record->set(profile_.appUIDKey(), os::Value(appId));
    save = true;
  }

  if (freeSlot >= 0 && (ownSlot < 0 || ownSlot == freeSlot)) {
    const std::string name = profile_.slotName(freeSlot);
    if (auto board = os::Pasteboard::pasteboardWithName(name, true, sandbox())) {
      board->setPersistent(true);
      record->set(profile_.slotKey(), os::Value(name));
      save = true;
      setDictForPasteboard(*record, *board);
    }
  }
  if (save) defaults->setObject(os::Value(*record), idKey);

  if (optedOut) {
    if (error)
      *error = outcome(kSharedUDIDOptedOut, "Application with unique id " + appId + " is opted-out from " +
                                                profile_.displayName + " as of " + dateText(*optOutDate));
    return SharedUDIDProfile::optedOutIdentifier();
  }
  if (error) {
    *error = compromised
                 ? outcome(kSharedUDIDDiscrepancy,
                           "Found a discrepancy between stored " + profile_.displayName +
                               " (reliable) and redundant copies; one of the apps on the device is most likely "
                               "corrupting the " +
                               profile_.displayName + " protocol")
                 : outcome(kSharedUDIDRetrieved, profile_.displayName + " succesfully retrieved");
  }
  return chosen;
}

void SharedUDIDParticipant::setOptOut(bool optOut) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Make sure a local record exists first.
  if (!cache_->get()) cache_->set(survey(nullptr));
  auto defaults = sandbox()->standardUserDefaults();
  os::Dictionary record;
  if (auto stored = defaults->objectForKey(profile_.recordKey); stored && stored->dictionary())
    record = *stored->dictionary();
  if (optOut)
    record.set(profile_.optOutKey(), os::Value(os::Date::now()));
  else
    record.remove(profile_.optOutKey());
  defaults->setObject(os::Value(record), profile_.recordKey);
  // The own slot carries the opt-out too: the survey lets a slot of this application without an
  // opt-out date overrule the local one.
  const auto slotName = stringIn(record, profile_.slotKey());
  const auto appId = stringIn(record, profile_.appUIDKey());
  if (slotName && appId && slotName->rfind(profile_.slotPrefix, 0) == 0) {
    auto board = os::Pasteboard::pasteboardWithName(*slotName, false, sandbox());
    if (board && stringIn(getDictFromPasteboard(*board), profile_.appUIDKey()) == appId) setDictForPasteboard(record, *board);
  }
  cache_->clear();
}

SharedUDIDParticipant& SharedUDID::participant() {
  static SharedUDIDParticipant copy(SharedUDIDProfile::standard());
  return copy;
}
