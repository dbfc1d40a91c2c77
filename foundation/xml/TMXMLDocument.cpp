#include "foundation/xml/TMXMLDocument.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdio>

#include "foundation/xml/TMXMLTree.h"

std::shared_ptr<TMXMLDocument> TMXMLDocument::createWithXMLString(std::string_view xml, unsigned, os::Error* error) {
  auto document = std::make_shared<TMXMLDocument>(Private{});
  document->parse(xml.data(), xml.size(), error);
  return document;
}

std::shared_ptr<TMXMLDocument> TMXMLDocument::createWithData(const os::Data& data, unsigned, os::Error* error) {
  auto document = std::make_shared<TMXMLDocument>(Private{});
  document->parse(reinterpret_cast<const char*>(data.data()), data.size(), error);
  return document;
}

void TMXMLDocument::parse(const char* bytes, std::size_t length, os::Error* error) {
  std::optional<std::string> message;
  xmlDocPtr doc = TMXMLParseUntrusted(bytes, length, &message);
  if (!doc) {
    lastErrorMsg_ = message;
    if (error) *error = os::Error(kTMXMLErrorDomain, -1);
    return;
  }
  tree_ = std::make_shared<TMXMLTree>(doc);
  if (error) *error = os::Error();
}

std::shared_ptr<TMXMLDocument> TMXMLDocument::createWithRootElement(const TMXMLElement& element) {
  auto document = std::make_shared<TMXMLDocument>(Private{});
  xmlDocPtr doc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
  if (!doc) return document;
  document->tree_ = std::make_shared<TMXMLTree>(doc);
  if (element.XMLNode()) {
    xmlNodePtr copy = xmlDocCopyNode(element.XMLNode(), doc, 1);
    if (copy) xmlDocSetRootElement(doc, copy);
  }
  return document;
}

xmlDocPtr TMXMLDocument::XMLDocument() const { return tree_ ? tree_->doc() : nullptr; }

std::shared_ptr<TMXMLElement> TMXMLDocument::rootElement() const {
  xmlDocPtr doc = XMLDocument();
  xmlNodePtr root = doc ? xmlDocGetRootElement(doc) : nullptr;
  if (!root) return nullptr;
  return std::static_pointer_cast<TMXMLElement>(TMXMLNode::wrap(root, false, tree_));
}

std::optional<os::Data> TMXMLDocument::XMLData() const {
  xmlDocPtr doc = XMLDocument();
  if (!doc) return std::nullopt;
  xmlChar* bytes = nullptr;
  int size = 0;
  // Encodings the XML library converts through the system's converters (UTF-7 and the like) do
  // not always write what reads back: such documents are written as UTF-8, and declared so.
  switch (doc->encoding ? xmlParseCharEncoding(reinterpret_cast<const char*>(doc->encoding)) : XML_CHAR_ENCODING_UTF8) {
    case XML_CHAR_ENCODING_UTF8:
    case XML_CHAR_ENCODING_UTF16LE:
    case XML_CHAR_ENCODING_UTF16BE:
    case XML_CHAR_ENCODING_8859_1:
    case XML_CHAR_ENCODING_ASCII:
      xmlDocDumpMemory(doc, &bytes, &size);
      break;
    default:
      xmlDocDumpMemoryEnc(doc, &bytes, &size, "UTF-8");
  }
  if (!bytes) return std::nullopt;
  os::Data data(bytes, bytes + size);
  xmlFree(bytes);
  return data;
}

void TMXMLDocument::setVersion(const std::optional<std::string>& version) {
  xmlDocPtr doc = XMLDocument();
  if (!doc) return;
  if (doc->version) xmlFree(const_cast<xmlChar*>(doc->version));
  doc->version = version ? xmlStrdup(reinterpret_cast<const xmlChar*>(version->c_str())) : nullptr;
}

void TMXMLDocument::setCharacterEncoding(const std::optional<std::string>& encoding) {
  xmlDocPtr doc = XMLDocument();
  if (!doc) return;
  if (doc->encoding) xmlFree(const_cast<xmlChar*>(doc->encoding));
  doc->encoding = encoding ? xmlStrdup(reinterpret_cast<const xmlChar*>(encoding->c_str())) : nullptr;
}

std::optional<TMXMLNode::NodeList> TMXMLDocument::nodesForXPath(const std::string& path, os::Error* error) {
  xmlDocPtr doc = XMLDocument();
  if (!doc) return std::nullopt;
  return TMXMLNode::wrap(doc, false, tree_)->nodesForXPath(path, error);
}

std::optional<TMXMLNode::NodeList> TMXMLDocument::nodesForXPath(const std::string& path, const os::Dictionary& namespaces, os::Error* error) {
  xmlDocPtr doc = XMLDocument();
  if (!doc) return std::nullopt;
  return TMXMLNode::wrap(doc, false, tree_)->nodesForXPath(path, namespaces, error);
}

std::string TMXMLDocument::description() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "TMXMLDocument %p", static_cast<const void*>(this));
  return buf;
}
