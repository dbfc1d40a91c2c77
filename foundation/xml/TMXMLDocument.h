#pragma once
// A parsed XML document. Parsing treats its input as untrusted: no network, no external entities or
// DTDs, entities left unexpanded, and a size limit.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/xml/TMXMLElement.h"
#include "foundation/xml/TMXMLNode.h"
#include "os/core/Data.h"
#include "os/core/Error.h"

struct _xmlDoc;

class TMXMLDocument {
  struct Private {};

 public:
  // Larger input is refused without being parsed.
  static constexpr std::size_t kMaximumDocumentBytes = 16 * 1024 * 1024;

  // A document is always made; when parsing fails it has no tree, lastErrorMsg says why and `error`
  // receives code -1. `options` is accepted for compatibility; the parse options are fixed.
  static std::shared_ptr<TMXMLDocument> createWithXMLString(std::string_view xml, unsigned options = 0, os::Error* error = nullptr);
  static std::shared_ptr<TMXMLDocument> createWithData(const os::Data& data, unsigned options = 0, os::Error* error = nullptr);
  // A new document whose root is a deep copy of the element.
  static std::shared_ptr<TMXMLDocument> createWithRootElement(const TMXMLElement& element);
  explicit TMXMLDocument(Private) {}

  std::shared_ptr<TMXMLElement> rootElement() const;
  std::optional<os::Data> XMLData() const;
  void setVersion(const std::optional<std::string>& version);
  void setCharacterEncoding(const std::optional<std::string>& encoding);
  std::optional<TMXMLNode::NodeList> nodesForXPath(const std::string& path, os::Error* error = nullptr);
  std::optional<TMXMLNode::NodeList> nodesForXPath(const std::string& path, const os::Dictionary& namespaces, os::Error* error = nullptr);

  const std::optional<std::string>& lastErrorMsg() const { return lastErrorMsg_; }
  void setLastErrorMsg(std::optional<std::string> message) { lastErrorMsg_ = std::move(message); }
  std::string description() const;

 private:
  _xmlDoc* XMLDocument() const;
  void parse(const char* bytes, std::size_t length, os::Error* error);

  std::shared_ptr<TMXMLTree> tree_;
  std::optional<std::string> lastErrorMsg_;
};
