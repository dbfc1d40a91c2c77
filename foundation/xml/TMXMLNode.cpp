#include "foundation/xml/TMXMLNode.h"

#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <cstdio>
#include <cstring>

#include "foundation/xml/TMXMLDocument.h"
#include "foundation/xml/TMXMLElement.h"
#include "foundation/xml/TMXMLTree.h"

namespace {

// libxml2's parser is set up once, before any thread parses.
const bool gParserReady = [] {
  xmlInitParser();
  return true;
}();

const xmlChar* X(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

std::optional<std::string> text(const xmlChar* s) {
  if (!s) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(s));
}

// The text of a subtree. Entity references are not followed: expanding them is how a small hostile
// document grows without bound.
void collectText(xmlNodePtr node, std::string& out) {
  for (xmlNodePtr child = node->children; child; child = child->next) {
    switch (child->type) {
      case XML_TEXT_NODE:
      case XML_CDATA_SECTION_NODE:
        if (child->content) out += reinterpret_cast<const char*>(child->content);
        break;
      case XML_ELEMENT_NODE:
        collectText(child, out);
        break;
      default:
        break;
    }
  }
}

// Collects the failure of one query instead of printing it.
struct XPathFailure {
  int code = 0;
  std::optional<std::string> message;
};

void recordXPathError(void* context, xmlErrorPtr error) {
  auto* failure = static_cast<XPathFailure*>(context);
  if (!error || failure->code != 0) return;
  failure->code = error->code;
  if (error->message) failure->message = error->message;
}

}  // namespace

TMXMLTree::~TMXMLTree() {
  // Unlinked nodes first: freeing them may consult the document's name dictionary.
  for (xmlNodePtr node : buried_) xmlFreeNode(node);
  if (root_) xmlFreeNode(root_);
  if (doc_) xmlFreeDoc(doc_);
  if (ns_) xmlFreeNs(ns_);
  for (xmlNsPtr list : buriedNs_) xmlFreeNsList(list);
}

xmlDocPtr TMXMLParseUntrusted(const char* bytes, std::size_t length, std::optional<std::string>* message) {
  (void)gParserReady;
  if (length > TMXMLDocument::kMaximumDocumentBytes) {
    *message = "Document is too large\n";
    return nullptr;
  }
  xmlParserCtxtPtr context = xmlNewParserCtxt();
  if (!context) {
    *message = "Out of memory\n";
    return nullptr;
  }
  const int options = XML_PARSE_NOCDATA | XML_PARSE_NOBLANKS | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  xmlDocPtr doc = xmlCtxtReadMemory(context, bytes ? bytes : "", static_cast<int>(length), nullptr, nullptr, options);
  if (!doc) {
    xmlErrorPtr error = xmlCtxtGetLastError(context);
    if (error && error->message)
      *message = error->message;
    else
      *message = length == 0 ? "Document is empty\n" : "Document could not be parsed\n";
  }
  xmlFreeParserCtxt(context);
  return doc;
}

// --- creation ---

TMXMLNode::TMXMLNode(Private, void* node, std::shared_ptr<TMXMLTree> tree) : node_(node), tree_(std::move(tree)) {}

TMXMLNode::~TMXMLNode() = default;

std::shared_ptr<TMXMLNode> TMXMLNode::wrap(void* node, bool isNamespace, std::shared_ptr<TMXMLTree> tree) {
  if (!node) return nullptr;
  std::shared_ptr<TMXMLNode> result;
  if (!isNamespace && static_cast<xmlNodePtr>(node)->type == XML_ELEMENT_NODE)
    result = std::make_shared<TMXMLElement>(Private{}, node, std::move(tree));
  else
    result = std::make_shared<TMXMLNode>(Private{}, node, std::move(tree));
  result->isNamespace_ = isNamespace;
  return result;
}

std::shared_ptr<TMXMLNode> TMXMLNode::nodeConsumingXMLNode(xmlNodePtr node) {
  if (!node) return nullptr;
  if (node->type == XML_NAMESPACE_DECL) return wrap(node, true, std::make_shared<TMXMLTree>(reinterpret_cast<xmlNsPtr>(node)));
  if (node->type == XML_DOCUMENT_NODE || node->type == XML_HTML_DOCUMENT_NODE)
    return wrap(node, false, std::make_shared<TMXMLTree>(reinterpret_cast<xmlDocPtr>(node)));
  return wrap(node, false, std::make_shared<TMXMLTree>(node));
}

std::shared_ptr<TMXMLNode> TMXMLNode::nodeBorrowingXMLNode(xmlNodePtr node, std::shared_ptr<TMXMLTree> tree) {
  if (!node) return nullptr;
  return wrap(node, node->type == XML_NAMESPACE_DECL, std::move(tree));
}

std::shared_ptr<TMXMLElement> TMXMLNode::elementWithName(const std::string& name) {
  return std::static_pointer_cast<TMXMLElement>(nodeConsumingXMLNode(xmlNewNode(nullptr, X(name))));
}

std::shared_ptr<TMXMLElement> TMXMLNode::elementWithName(const std::string& name, const std::string& stringValue) {
  xmlNodePtr node = xmlNewNode(nullptr, X(name));
  if (!node) return nullptr;
  xmlNodePtr textNode = xmlNewText(X(stringValue));
  if (!textNode || !xmlAddChild(node, textNode)) {
    if (textNode) xmlFreeNode(textNode);
    xmlFreeNode(node);
    return nullptr;
  }
  return std::static_pointer_cast<TMXMLElement>(nodeConsumingXMLNode(node));
}

std::shared_ptr<TMXMLElement> TMXMLNode::elementWithNameURI(const std::string& name, const std::string& URI) {
  return elementWithName("{" + URI + "}:" + localNameForName(name));
}

std::shared_ptr<TMXMLNode> TMXMLNode::attributeWithName(const std::string& name, const std::string& stringValue) {
  return nodeConsumingXMLNode(reinterpret_cast<xmlNodePtr>(xmlNewProp(nullptr, X(name), X(stringValue))));
}

std::shared_ptr<TMXMLNode> TMXMLNode::attributeWithName(const std::string& name, const std::string& URI, const std::string& stringValue) {
  return attributeWithName("{" + URI + "}:" + localNameForName(name), stringValue);
}

std::shared_ptr<TMXMLNode> TMXMLNode::textWithStringValue(const std::string& value) {
  return nodeConsumingXMLNode(xmlNewText(X(value)));
}

std::shared_ptr<TMXMLNode> TMXMLNode::namespaceWithName(const std::string& name, const std::string& stringValue) {
  xmlNsPtr ns = xmlNewNs(nullptr, X(stringValue), name.empty() ? nullptr : X(name));
  return nodeConsumingXMLNode(reinterpret_cast<xmlNodePtr>(ns));
}

// --- reading ---

std::optional<std::string> TMXMLNode::stringValue() const {
  if (!node_) return std::nullopt;
  if (isNamespace_) return text(XMLNamespace()->href);
  xmlNodePtr node = XMLNode();
  switch (node->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
    case XML_DOCUMENT_NODE:
    case XML_DOCUMENT_FRAG_NODE:
    case XML_HTML_DOCUMENT_NODE: {
      std::string out;
      collectText(node, out);
      return out;
    }
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
      return text(node->content);
    default:
      return std::nullopt;
  }
}

void TMXMLNode::bury(xmlNodePtr node) {
  xmlUnlinkNode(node);
  if (tree_)
    tree_->bury(node);
  else
    xmlFreeNode(node);  // a borrowed node without a tree: its owner gave up nothing to keep
}

void TMXMLNode::setStringValue(const std::optional<std::string>& value) {
  if (!node_ || !value) return;
  releaseCachedValues();
  if (isNamespace_) {
    xmlNsPtr ns = XMLNamespace();
    if (ns->href) xmlFree(const_cast<xmlChar*>(ns->href));
    ns->href = xmlStrdup(X(*value));
    return;
  }
  xmlNodePtr node = XMLNode();
  if (node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE) {
    // The old children may be held by callers: keep them alive instead of freeing them.
    while (node->children) bury(node->children);
    xmlNodePtr textNode = xmlNewDocText(node->doc, X(*value));
    if (!textNode) return;
    textNode->parent = node;
    node->children = node->last = textNode;
    return;
  }
  xmlNodeSetContent(node, X(*value));
}

std::optional<std::string> TMXMLNode::name() {
  if (cachedName_) return cachedName_;
  if (!node_) return std::nullopt;
  if (isNamespace_) {
    xmlNsPtr ns = XMLNamespace();
    cachedName_ = ns->prefix ? std::string(reinterpret_cast<const char*>(ns->prefix)) : std::string();
    return cachedName_;
  }
  xmlNodePtr node = XMLNode();
  if (!node->name) return std::nullopt;
  bool hasNamespace = node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE;
  if (hasNamespace && node->ns && node->ns->prefix)
    cachedName_ = std::string(reinterpret_cast<const char*>(node->ns->prefix)) + ":" + reinterpret_cast<const char*>(node->name);
  else
    cachedName_ = std::string(reinterpret_cast<const char*>(node->name));
  return cachedName_;
}

std::string TMXMLNode::localName() {
  if (isNamespace_ || !node_) return name().value_or("");
  xmlNodePtr node = XMLNode();
  return node->name ? localNameForName(reinterpret_cast<const char*>(node->name)) : std::string();
}

std::string TMXMLNode::prefix() const {
  if (!node_ || isNamespace_) return "";
  xmlNodePtr node = XMLNode();
  if ((node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE) && node->ns && node->ns->prefix)
    return reinterpret_cast<const char*>(node->ns->prefix);
  return "";
}

std::optional<std::string> TMXMLNode::URI() const {
  if (!node_ || isNamespace_) return std::nullopt;
  xmlNodePtr node = XMLNode();
  if ((node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE) && node->ns) return text(node->ns->href);
  return std::nullopt;
}

std::string TMXMLNode::localNameForName(const std::string& name) {
  auto colon = name.find(':');
  if (colon == std::string::npos || colon + 1 == name.size()) return name;
  return name.substr(colon + 1);
}

std::optional<std::string> TMXMLNode::prefixForName(const std::string& name) {
  auto colon = name.find(':');
  if (colon == std::string::npos || colon + 1 == name.size()) return std::nullopt;
  return name.substr(0, colon);
}

int TMXMLNode::kind() const {
  if (!node_) return TMXMLInvalidKind;
  if (isNamespace_) return TMXMLNamespaceKind;
  switch (XMLNode()->type) {
    case XML_DOCUMENT_NODE:
    case XML_DOCUMENT_TYPE_NODE:
    case XML_DOCUMENT_FRAG_NODE:
    case XML_HTML_DOCUMENT_NODE:
    case XML_DOCB_DOCUMENT_NODE:
      return TMXMLDocumentKind;
    case XML_ELEMENT_NODE:
      return TMXMLElementKind;
    case XML_ATTRIBUTE_NODE:
      return TMXMLAttributeKind;
    case XML_NAMESPACE_DECL:
      return TMXMLNamespaceKind;
    case XML_PI_NODE:
    case XML_XINCLUDE_START:
    case XML_XINCLUDE_END:
      return TMXMLProcessingInstructionKind;
    case XML_COMMENT_NODE:
      return TMXMLCommentKind;
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
      return TMXMLTextKind;
    case XML_DTD_NODE:
      return TMXMLDTDKind;
    case XML_ENTITY_REF_NODE:
    case XML_ENTITY_NODE:
    case XML_ENTITY_DECL:
      return TMXMLEntityDeclarationKind;
    case XML_ATTRIBUTE_DECL:
      return TMXMLAttributeDeclarationKind;
    case XML_ELEMENT_DECL:
      return TMXMLElementDeclarationKind;
    case XML_NOTATION_NODE:
      return TMXMLNotationDeclarationKind;
    default:
      return TMXMLInvalidKind;
  }
}

std::size_t TMXMLNode::childCount() const {
  if (!node_ || isNamespace_) return 0;
  std::size_t n = 0;
  for (xmlNodePtr child = XMLNode()->children; child; child = child->next) ++n;
  return n;
}

const TMXMLNode::NodeList& TMXMLNode::children() {
  if (!cachedChildren_) {
    cachedChildren_.emplace();
    if (node_ && !isNamespace_)
      for (xmlNodePtr child = XMLNode()->children; child; child = child->next) cachedChildren_->push_back(wrap(child, false, tree_));
  }
  return *cachedChildren_;
}

std::shared_ptr<TMXMLNode> TMXMLNode::childAtIndex(std::size_t index) {
  const auto& list = children();
  return index < list.size() ? list[index] : nullptr;
}

std::optional<std::string> TMXMLNode::XMLString() const {
  if (!node_) return std::nullopt;
  std::string out;
  if (isNamespace_) {
    xmlNsPtr ns = XMLNamespace();
    out = ns->prefix ? "xmlns:" + std::string(reinterpret_cast<const char*>(ns->prefix)) : "xmlns";
    out += "=\"" + text(ns->href).value_or("") + "\"";
    return out;
  }
  xmlBufferPtr buffer = xmlBufferCreate();
  if (!buffer) return std::nullopt;
  xmlNodePtr node = XMLNode();
  xmlNodeDump(buffer, node->doc, node, 0, 0);
  out.assign(reinterpret_cast<const char*>(xmlBufferContent(buffer)), static_cast<std::size_t>(xmlBufferLength(buffer)));
  xmlBufferFree(buffer);
  const char* space = " \t\r\n";
  auto first = out.find_first_not_of(space);
  if (first == std::string::npos) return std::string();
  auto last = out.find_last_not_of(space);
  return out.substr(first, last - first + 1);
}

std::string TMXMLNode::description() {
  char head[96];
  int type = node_ ? (isNamespace_ ? XML_NAMESPACE_DECL : XMLNode()->type) : -1;
  std::snprintf(head, sizeof head, "%s %p: {type:%d name:", kind() == TMXMLElementKind ? "TMXMLElement" : "TMXMLNode",
                static_cast<const void*>(this), type);
  return std::string(head) + name().value_or("(null)") + " xml:\"" + XMLString().value_or("(null)") + "\"}";
}

std::shared_ptr<TMXMLNode> TMXMLNode::copy() const {
  if (!node_) return nullptr;
  if (isNamespace_) return nodeConsumingXMLNode(reinterpret_cast<xmlNodePtr>(xmlCopyNamespace(XMLNamespace())));
  return nodeConsumingXMLNode(XMLNodeCopy());
}

xmlNodePtr TMXMLNode::XMLNodeCopy() const {
  if (!node_ || isNamespace_) return nullptr;
  xmlNodePtr node = XMLNode();
  if (node->type == XML_ATTRIBUTE_NODE) return reinterpret_cast<xmlNodePtr>(xmlCopyProp(nullptr, reinterpret_cast<xmlAttrPtr>(node)));
  if (node->type == XML_DOCUMENT_NODE) return reinterpret_cast<xmlNodePtr>(xmlCopyDoc(reinterpret_cast<xmlDocPtr>(node), 1));
  return xmlCopyNode(node, 1);
}

bool TMXMLNode::shouldFreeXMLNode() const {
  if (!tree_ || !node_) return false;
  return tree_->root() == node_ || reinterpret_cast<void*>(tree_->ns()) == node_ || reinterpret_cast<void*>(tree_->doc()) == node_;
}

bool TMXMLNode::isEqual(TMXMLNode& other) {
  if (this == &other) return true;
  if (node_ && node_ == other.node_) return true;
  return kind() == other.kind() && name() == other.name() && childCount() == other.childCount();
}

void TMXMLNode::releaseCachedValues() {
  cachedName_.reset();
  cachedChildren_.reset();
  cachedAttributes_.reset();
}

// --- XPath ---

std::optional<TMXMLNode::NodeList> TMXMLNode::nodesForXPath(const std::string& path, os::Error* error) {
  return queryXPath(path, nullptr, error);
}

std::optional<TMXMLNode::NodeList> TMXMLNode::nodesForXPath(const std::string& path, const os::Dictionary& namespaces, os::Error* error) {
  return queryXPath(path, &namespaces, error);
}

std::optional<TMXMLNode::NodeList> TMXMLNode::queryXPath(const std::string& path, const os::Dictionary* namespaces, os::Error* error) {
  auto invalid = [&]() -> std::optional<NodeList> {
    if (error) *error = os::Error(kTMXMLErrorDomain, -1, os::Dictionary{{"error", os::Value("invalid node")}});
    return std::nullopt;
  };
  if (!node_ || isNamespace_) return invalid();
  xmlNodePtr node = XMLNode();
  xmlDocPtr doc = node->type == XML_DOCUMENT_NODE ? reinterpret_cast<xmlDocPtr>(node) : node->doc;
  xmlDocPtr temporary = nullptr;
  xmlNodePtr top = nullptr;
  if (!doc) {
    // A tree of its own gets a document for the time of the query.
    top = node;
    while (top->parent) top = top->parent;
    if (top->type != XML_ELEMENT_NODE) return invalid();
    temporary = xmlNewDoc(X("1.0"));
    if (!temporary) return invalid();
    xmlDocSetRootElement(temporary, top);
    doc = temporary;
  }
  struct Restore {
    xmlDocPtr temporary;
    xmlNodePtr top;
    ~Restore() {
      if (!temporary) return;
      xmlUnlinkNode(top);
      xmlSetTreeDoc(top, nullptr);
      xmlFreeDoc(temporary);
    }
  } restore{temporary, top};

  xmlXPathContextPtr context = xmlXPathNewContext(doc);
  if (!context) return invalid();
  context->node = node;
  if (namespaces) {
    for (const auto& [prefix, uri] : *namespaces)
      if (uri.isString()) xmlXPathRegisterNs(context, X(prefix), X(*uri.string()));
  } else {
    xmlNodePtr scope = node->type == XML_DOCUMENT_NODE ? xmlDocGetRootElement(doc) : node;
    xmlNsPtr ns = scope && (scope->type == XML_ELEMENT_NODE || scope->type == XML_ATTRIBUTE_NODE) ? scope->ns : nullptr;
    for (; ns; ns = ns->next) {
      if (ns->type != XML_NAMESPACE_DECL || !ns->href) break;
      xmlXPathRegisterNs(context, ns->prefix ? ns->prefix : X("_def_ns"), ns->href);
    }
  }
  // The handler is per thread in libxml2: route this query's errors to us, then put it back.
  XPathFailure failure;
  xmlStructuredErrorFunc previousHandler = xmlStructuredError;
  void* previousContext = xmlStructuredErrorContext;
  xmlSetStructuredErrorFunc(&failure, recordXPathError);
  xmlXPathObjectPtr result = xmlXPathEvalExpression(X(path), context);
  xmlSetStructuredErrorFunc(previousContext, previousHandler);
  if (!result) {
    if (error) {
      os::Dictionary info;
      if (failure.message) info.set("error", os::Value(*failure.message));
      *error = os::Error(kTMXMLErrorDomain, failure.code ? failure.code : context->lastError.code, info);
    }
    xmlXPathFreeContext(context);
    return std::nullopt;
  }
  NodeList nodes;
  if (result->type == XPATH_NODESET && result->nodesetval) {
    for (int i = 0; i < result->nodesetval->nodeNr; ++i) {
      xmlNodePtr member = result->nodesetval->nodeTab[i];
      // The stand-in document goes away with the query: it is no node of this tree.
      if (temporary && member == reinterpret_cast<xmlNodePtr>(temporary)) continue;
      if (member->type == XML_NAMESPACE_DECL) {
        // The query's namespace nodes die with its result: hand out a copy.
        nodes.push_back(nodeConsumingXMLNode(reinterpret_cast<xmlNodePtr>(xmlCopyNamespace(reinterpret_cast<xmlNsPtr>(member)))));
      } else {
        nodes.push_back(wrap(member, false, tree_));
      }
    }
  }
  xmlXPathFreeObject(result);
  xmlXPathFreeContext(context);
  return nodes;
}
