#pragma once
// Keeps one libxml2 tree alive for as long as any object wraps a node of it. A node wrapper holds the
// tree of its node, so nodes handed out stay valid after their document or parent object is gone.
// Nodes unlinked from the tree (removeChild, replaced content and declarations) are kept here too and
// freed with the tree, because a caller may still hold them.
#include <libxml/tree.h>

#include <vector>

class TMXMLTree {
 public:
  explicit TMXMLTree(xmlDocPtr doc) : doc_(doc) {}
  explicit TMXMLTree(xmlNodePtr root) : root_(root) {}
  explicit TMXMLTree(xmlNsPtr ns) : ns_(ns) {}
  ~TMXMLTree();
  TMXMLTree(const TMXMLTree&) = delete;
  TMXMLTree& operator=(const TMXMLTree&) = delete;

  xmlDocPtr doc() const { return doc_; }
  xmlNodePtr root() const { return root_; }
  xmlNsPtr ns() const { return ns_; }
  // Takes an unlinked node (and its subtree) to free with the tree.
  void bury(xmlNodePtr node) { buried_.push_back(node); }
  void buryNamespaces(xmlNsPtr list) { buriedNs_.push_back(list); }

 private:
  xmlDocPtr doc_ = nullptr;
  xmlNodePtr root_ = nullptr;
  xmlNsPtr ns_ = nullptr;
  std::vector<xmlNodePtr> buried_;
  std::vector<xmlNsPtr> buriedNs_;
};

#include <cstddef>
#include <optional>
#include <string>

// Parses untrusted bytes: no network, no DTD loading, entities kept as references, CDATA as text,
// white-space-only text between elements dropped. Nothing and a message when it fails.
xmlDocPtr TMXMLParseUntrusted(const char* bytes, std::size_t length, std::optional<std::string>* message);
