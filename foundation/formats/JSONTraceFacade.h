#pragma once
// Facades over the parser and the writer of the JSON codec with error trace, for callers that
// want an error out-parameter. A facade keeps the trace of its last failed call: a call that
// succeeds leaves it as it was.
//
// JSONTraceReader is the facade of copies that only parse; JSONTraceFacade adds writing.
#include <optional>
#include <string>
#include <string_view>

#include "foundation/formats/JSONTraceParser.h"
#include "foundation/formats/JSONTraceWriter.h"

class JSONTraceReader : public JSONTraceBase {
 public:
  explicit JSONTraceReader(const JSONTraceProfile& profile);

  // Only an array or an object.
  std::optional<os::Value> objectWithString(std::optional<std::string_view> text);
  // `allowScalar` accepts any JSON value. On failure the trace's last (outermost) error goes to
  // *error when one is given.
  std::optional<os::Value> objectWithString(std::optional<std::string_view> text, bool allowScalar, os::Error* error);
  std::optional<os::Value> objectWithString(std::optional<std::string_view> text, os::Error* error) {
    return objectWithString(text, false, error);
  }
  std::optional<os::Value> fragmentWithString(std::optional<std::string_view> text, os::Error* error) {
    return objectWithString(text, true, error);
  }

  std::uint32_t maxDepth() const override { return parser_.maxDepth(); }
  void setMaxDepth(std::uint32_t depth) override { parser_.setMaxDepth(depth); }

 protected:
  // Keeps a copy of a failed component's trace and hands out its last error.
  void keepTrace(const JSONTraceBase& component, os::Error* error);

 private:
  JSONTraceParser parser_;
};

class JSONTraceFacade : public JSONTraceReader {
 public:
  explicit JSONTraceFacade(const JSONTraceProfile& profile);

  std::optional<std::string> stringWithObject(const os::Value& value);
  std::optional<std::string> stringWithObject(const os::Value& value, bool allowScalar, os::Error* error);
  std::optional<std::string> stringWithObject(const os::Value& value, os::Error* error) {
    return stringWithObject(value, false, error);
  }
  std::optional<std::string> stringWithFragment(const os::Value& value, os::Error* error) {
    return stringWithObject(value, true, error);
  }

  void setMaxDepth(std::uint32_t depth) override {
    JSONTraceReader::setMaxDepth(depth);
    writer_.setMaxDepth(depth);
  }
  bool humanReadable() const { return writer_.humanReadable(); }
  void setHumanReadable(bool on) { writer_.setHumanReadable(on); }
  bool sortKeys() const { return writer_.sortKeys(); }
  void setSortKeys(bool on) { writer_.setSortKeys(on); }

 private:
  JSONTraceWriter writer_;
};
