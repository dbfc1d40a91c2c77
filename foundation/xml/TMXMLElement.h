#pragma once
// An element node: attributes, namespaces, child elements by name, and tree editing.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/xml/TMXMLNode.h"

class TMXMLElement : public TMXMLNode {
 public:
  TMXMLElement(Private p, void* node, std::shared_ptr<TMXMLTree> tree) : TMXMLNode(p, node, std::move(tree)) {}

  // The root element of the text, owned by the result; nothing and an error when there is none.
  static std::shared_ptr<TMXMLElement> createWithXMLString(const std::string& xml, os::Error* error = nullptr);

  // In document order; empty when there are none.
  const NodeList& attributes();
  std::shared_ptr<TMXMLNode> attributeForName(const std::string& name);
  std::shared_ptr<TMXMLNode> attributeForLocalName(const std::string& localName, const std::string& URI);
  NodeList namespaces();
  void setNamespaces(const NodeList& namespaces);
  void addNamespace(const std::shared_ptr<TMXMLNode>& aNamespace);
  NodeList elementsForName(const std::string& name);
  NodeList elementsForLocalName(const std::string& localName, const std::string& URI);
  std::optional<std::string> resolvePrefixForNamespaceURI(const std::string& URI);

  // Appends a deep copy of the node (an attribute goes to addAttribute).
  void addChild(const std::shared_ptr<TMXMLNode>& child);
  // Unlinks the child; an object still holding it stays valid.
  void removeChild(const std::shared_ptr<TMXMLNode>& child);
  void addAttribute(const std::shared_ptr<TMXMLNode>& attribute);
};
