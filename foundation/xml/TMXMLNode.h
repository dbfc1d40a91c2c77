#pragma once
// An object view of one node of a libxml2 tree: navigation, names and text, XPath queries and (for
// elements) editing. Every wrapper keeps its tree alive, whether it made the node or was handed it.
// The parser's own node types stay inside the model: callers see nodes, kinds, names and text.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Error.h"
#include "os/core/Value.h"

class TMXMLTree;
class TMXMLElement;
class TMXMLDocument;
struct _xmlNode;
struct _xmlNs;

// Error domain of parse and query failures.
inline constexpr const char* kTMXMLErrorDomain = "com.tormelle.TMXML";

enum TMXMLNodeKind {
  TMXMLInvalidKind = 0,
  TMXMLDocumentKind = 1,
  TMXMLElementKind = 2,
  TMXMLAttributeKind = 3,
  TMXMLNamespaceKind = 4,
  TMXMLProcessingInstructionKind = 5,
  TMXMLCommentKind = 6,
  TMXMLTextKind = 7,
  TMXMLDTDKind = 8,
  TMXMLEntityDeclarationKind = 9,
  TMXMLAttributeDeclarationKind = 10,
  TMXMLElementDeclarationKind = 11,
  TMXMLNotationDeclarationKind = 12,
};

class TMXMLNode : public std::enable_shared_from_this<TMXMLNode> {
 protected:
  struct Private {};

 public:
  using NodeList = std::vector<std::shared_ptr<TMXMLNode>>;

  // `node` may be a namespace record (xmlNs) for namespace nodes.
  TMXMLNode(Private, void* node, std::shared_ptr<TMXMLTree> tree);
  virtual ~TMXMLNode();
  TMXMLNode(const TMXMLNode&) = delete;
  TMXMLNode& operator=(const TMXMLNode&) = delete;

  // Creation: each returns a node that owns a new libxml2 node, or nothing when libxml2 cannot make it.
  static std::shared_ptr<TMXMLElement> elementWithName(const std::string& name);
  static std::shared_ptr<TMXMLElement> elementWithName(const std::string& name, const std::string& stringValue);
  static std::shared_ptr<TMXMLElement> elementWithNameURI(const std::string& name, const std::string& URI);
  static std::shared_ptr<TMXMLNode> attributeWithName(const std::string& name, const std::string& stringValue);
  static std::shared_ptr<TMXMLNode> attributeWithName(const std::string& name, const std::string& URI, const std::string& stringValue);
  static std::shared_ptr<TMXMLNode> textWithStringValue(const std::string& value);
  // An empty prefix makes a default namespace.
  static std::shared_ptr<TMXMLNode> namespaceWithName(const std::string& name, const std::string& stringValue);

  std::optional<std::string> stringValue() const;
  void setStringValue(const std::optional<std::string>& value);
  std::optional<std::string> name();
  std::string localName();
  std::string prefix() const;
  std::optional<std::string> URI() const;
  static std::string localNameForName(const std::string& name);
  static std::optional<std::string> prefixForName(const std::string& name);

  int kind() const;
  std::size_t childCount() const;
  // In document order; empty when there are none.
  const NodeList& children();
  std::shared_ptr<TMXMLNode> childAtIndex(std::size_t index);
  std::optional<std::string> XMLString() const;
  std::string description();
  // A node owning a deep copy.
  std::shared_ptr<TMXMLNode> copy() const;
  bool isEqual(TMXMLNode& other);

  // True when this node is the root of a tree of its own (made by the caller or copied).
  bool shouldFreeXMLNode() const;
  void releaseCachedValues();

  // Nothing and an error for a malformed path; an empty list when nothing matches.
  std::optional<NodeList> nodesForXPath(const std::string& path, os::Error* error = nullptr);
  std::optional<NodeList> nodesForXPath(const std::string& path, const os::Dictionary& namespaces, os::Error* error = nullptr);

 protected:
  friend class TMXMLDocument;
  friend class TMXMLElement;
  // Takes ownership of an unlinked parser node.
  static std::shared_ptr<TMXMLNode> nodeConsumingXMLNode(_xmlNode* node);
  // Wraps a node that lives in `tree`; without a tree the caller keeps the node alive.
  static std::shared_ptr<TMXMLNode> nodeBorrowingXMLNode(_xmlNode* node, std::shared_ptr<TMXMLTree> tree = nullptr);
  _xmlNode* XMLNode() const { return isNamespace() ? nullptr : static_cast<_xmlNode*>(node_); }
  _xmlNs* XMLNamespace() const { return isNamespace() ? static_cast<_xmlNs*>(node_) : nullptr; }
  // A deep copy the caller frees.
  _xmlNode* XMLNodeCopy() const;
  const std::shared_ptr<TMXMLTree>& tree() const { return tree_; }
  // Elements become TMXMLElement; every wrapper shares `tree`.
  static std::shared_ptr<TMXMLNode> wrap(void* node, bool isNamespace, std::shared_ptr<TMXMLTree> tree);
  std::optional<NodeList> queryXPath(const std::string& path, const os::Dictionary* namespaces, os::Error* error);
  bool isNamespace() const { return isNamespace_; }
  // Unlinks a node from this tree and keeps it alive with the tree.
  void bury(_xmlNode* node);

  void* node_ = nullptr;
  bool isNamespace_ = false;
  std::shared_ptr<TMXMLTree> tree_;
  std::optional<std::string> cachedName_;
  std::optional<NodeList> cachedChildren_;
  std::optional<NodeList> cachedAttributes_;
};
