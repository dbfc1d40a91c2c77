#pragma once
// Writes os::Value trees as JSON text, recording why it failed in the error trace.
//
// Booleans (and numbers of the boolean type code 'c') are written true/false, other numbers as
// their shortest exact text. Data, dates, sets and numbers that are not finite have no JSON form
// and fail with code 1.
#include <atomic>
#include <optional>
#include <string>

#include "foundation/formats/JSONTraceBase.h"
#include "os/core/Value.h"

class JSONTraceWriter : public JSONTraceBase {
 public:
  explicit JSONTraceWriter(const JSONTraceProfile& profile) : JSONTraceBase(profile) {}

  // Only an array or an object (else code 4 "Not valid type for JSON").
  std::optional<std::string> stringWithObject(const os::Value& value);
  // Any value JSON can carry.
  std::optional<std::string> stringWithFragment(const os::Value& value);

  // One element or member a line, indented two spaces a level, " : " after keys.
  bool humanReadable() const { return humanReadable_.load(); }
  void setHumanReadable(bool on) { humanReadable_.store(on); }
  // Object members sorted by key in UTF-16 unit order (the platform's default comparison)
  // instead of the dictionary's own order.
  bool sortKeys() const { return sortKeys_.load(); }
  void setSortKeys(bool on) { sortKeys_.store(on); }

 private:
  bool appendValue(const os::Value& value, std::string& into);
  bool appendArray(const os::Array& array, std::string& into);
  bool appendDictionary(const os::Dictionary& dictionary, std::string& into);
  void appendString(const std::string& string, std::string& into);
  void indent(std::string& into) const;

  std::atomic<bool> humanReadable_{false};
  std::atomic<bool> sortKeys_{false};
};
