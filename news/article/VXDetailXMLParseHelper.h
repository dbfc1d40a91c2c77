#pragma once
// Turns an article's XML body into row dictionaries, one per run of text and one per picture, in
// document order:
//   text:  {"type": 1, "content": text}
//   image: {"type": 2, "content": src, "originalwidth": w, "originalheight": h, "alt": alt}
// The body comes from the network, so it is parsed as untrusted input (no network access, no DTD
// loading, entities never expanded). Stateless: one shared instance serves every thread.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "os/core/Value.h"

class TMXMLNode;
class VXReaderContext;

class VXDetailXMLParseHelper {
 public:
  static std::shared_ptr<VXDetailXMLParseHelper> share();
  // The parser of a given context (share() asks the current one).
  static std::shared_ptr<VXDetailXMLParseHelper> share(VXReaderContext& context);

  // Appends the body's rows to `dictArray`. Nothing on success (or for a missing or empty body);
  // the parser's error text when the markup is malformed, in which case nothing is appended.
  std::optional<std::string> parseXML(const std::optional<std::string>& body, os::Array& dictArray) const;

  // The walk: leaves (nodes without children) make rows; elements with children are walked in order.
  void fun(TMXMLNode& node, os::Array& dictArray) const;
  // One leaf: "img" elements go to the image rule, everything else to the text rule.
  void test(TMXMLNode& node, os::Array& dictArray) const;
  void addSubText(TMXMLNode& node, os::Array& dictArray) const;
  void addSubImg(TMXMLNode& node, os::Array& dictArray) const;

  // A picture dimension attribute: its leading number when that is finite and positive, else 0.
  static float dimensionValue(const std::optional<std::string>& text);
};
