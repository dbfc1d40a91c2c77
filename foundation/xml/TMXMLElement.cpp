#include "foundation/xml/TMXMLElement.h"

#include <libxml/tree.h>

#include <cstring>

#include "foundation/xml/TMXMLTree.h"

namespace {

const xmlChar* X(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }
std::string S(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

void attributeText(xmlNodePtr attribute, std::string& out) {
  for (xmlNodePtr child = attribute->children; child; child = child->next)
    if (child->type == XML_TEXT_NODE && child->content) out += reinterpret_cast<const char*>(child->content);
}

// Names written as "prefix:local" or "{uri}:local" on nodes without a namespace take the namespace
// they name, once the node sits in a tree that declares it.
void repairNames(xmlNodePtr node) {
  if (node->type != XML_ELEMENT_NODE && node->type != XML_ATTRIBUTE_NODE) return;
  if (!node->ns && node->name) {
    std::string name = S(node->name);
    auto colon = name.rfind(':');
    if (colon != std::string::npos && colon > 0) {
      std::string prefixPart = name.substr(0, colon);
      std::string local = name.substr(colon + 1);
      xmlNodePtr scope = node->type == XML_ATTRIBUTE_NODE ? node->parent : node;
      xmlNsPtr ns = nullptr;
      if (scope) {
        if (prefixPart.size() >= 2 && prefixPart.front() == '{' && prefixPart.back() == '}')
          ns = xmlSearchNsByHref(scope->doc, scope, X(prefixPart.substr(1, prefixPart.size() - 2)));
        else
          ns = xmlSearchNs(scope->doc, scope, X(prefixPart));
      }
      if (ns && !local.empty()) {
        node->ns = ns;
        xmlNodeSetName(node, X(local));
      }
    }
  }
  if (node->type == XML_ELEMENT_NODE) {
    for (xmlAttrPtr attribute = node->properties; attribute; attribute = attribute->next)
      repairNames(reinterpret_cast<xmlNodePtr>(attribute));
    for (xmlNodePtr child = node->children; child; child = child->next) repairNames(child);
  }
}

}  // namespace

std::shared_ptr<TMXMLElement> TMXMLElement::createWithXMLString(const std::string& xml, os::Error* error) {
  std::optional<std::string> message;
  xmlDocPtr doc = TMXMLParseUntrusted(xml.data(), xml.size(), &message);
  xmlNodePtr root = doc ? xmlDocGetRootElement(doc) : nullptr;
  xmlNodePtr copy = root ? xmlCopyNode(root, 1) : nullptr;
  if (doc) xmlFreeDoc(doc);
  if (!copy) {
    if (error) *error = os::Error(kTMXMLErrorDomain, -1);
    return nullptr;
  }
  return std::static_pointer_cast<TMXMLElement>(nodeConsumingXMLNode(copy));
}

const TMXMLNode::NodeList& TMXMLElement::attributes() {
  if (!cachedAttributes_) {
    cachedAttributes_.emplace();
    if (XMLNode())
      for (xmlAttrPtr attribute = XMLNode()->properties; attribute; attribute = attribute->next)
        cachedAttributes_->push_back(wrap(attribute, false, tree_));
  }
  return *cachedAttributes_;
}

std::shared_ptr<TMXMLNode> TMXMLElement::attributeForName(const std::string& name) {
  xmlNodePtr node = XMLNode();
  if (!node) return nullptr;
  for (xmlAttrPtr attribute = node->properties; attribute; attribute = attribute->next)
    if (S(attribute->name) == name) return wrap(attribute, false, tree_);
  auto prefix = prefixForName(name);
  if (!prefix) return nullptr;
  xmlNsPtr ns = xmlSearchNs(node->doc, node, X(*prefix));
  if (!ns) return nullptr;
  std::string local = localNameForName(name);
  for (xmlAttrPtr attribute = node->properties; attribute; attribute = attribute->next)
    if (attribute->ns && xmlStrEqual(attribute->ns->href, ns->href) && S(attribute->name) == local) return wrap(attribute, false, tree_);
  return nullptr;
}

std::shared_ptr<TMXMLNode> TMXMLElement::attributeForLocalName(const std::string& localName, const std::string& URI) {
  xmlNodePtr node = XMLNode();
  if (!node) return nullptr;
  for (xmlAttrPtr attribute = node->properties; attribute; attribute = attribute->next)
    if (attribute->ns && S(attribute->ns->href) == URI && S(attribute->name) == localName) return wrap(attribute, false, tree_);
  std::string literal = "{" + URI + "}:" + localName;
  for (xmlAttrPtr attribute = node->properties; attribute; attribute = attribute->next)
    if (S(attribute->name) == literal) return wrap(attribute, false, tree_);
  return nullptr;
}

TMXMLNode::NodeList TMXMLElement::namespaces() {
  NodeList list;
  if (!XMLNode()) return list;
  for (xmlNsPtr ns = XMLNode()->nsDef; ns; ns = ns->next)
    if (S(ns->prefix) != "xml") list.push_back(wrap(ns, true, tree_));
  return list;
}

void TMXMLElement::setNamespaces(const NodeList& namespaces) {
  xmlNodePtr node = XMLNode();
  if (!node) return;
  releaseCachedValues();
  // Nodes of the subtree may still point at the old declarations: keep them until the tree goes.
  if (node->nsDef && tree_) {
    tree_->buryNamespaces(node->nsDef);
    node->nsDef = nullptr;
  }
  for (const auto& ns : namespaces)
    if (ns && ns->XMLNamespace()) xmlNewNs(node, ns->XMLNamespace()->href, ns->XMLNamespace()->prefix);
  if (node->doc) xmlReconciliateNs(node->doc, node);
  repairNames(node);
}

void TMXMLElement::addNamespace(const std::shared_ptr<TMXMLNode>& aNamespace) {
  xmlNodePtr node = XMLNode();
  if (!node || !aNamespace || !aNamespace->XMLNamespace()) return;
  releaseCachedValues();
  xmlNewNs(node, aNamespace->XMLNamespace()->href, aNamespace->XMLNamespace()->prefix);
  repairNames(node);
}

TMXMLNode::NodeList TMXMLElement::elementsForName(const std::string& name) {
  xmlNodePtr node = XMLNode();
  NodeList list;
  if (!node) return list;
  if (auto prefix = prefixForName(name)) {
    if (xmlNsPtr ns = xmlSearchNs(node->doc, node, X(*prefix))) return elementsForLocalName(localNameForName(name), S(ns->href));
  }
  for (const auto& child : children())
    if (child->kind() == TMXMLElementKind && child->name() == name) list.push_back(child);
  return list;
}

TMXMLNode::NodeList TMXMLElement::elementsForLocalName(const std::string& localName, const std::string& URI) {
  NodeList list;
  std::string literal = "{" + URI + "}:" + localName;
  for (const auto& child : children()) {
    xmlNodePtr c = child->XMLNode();
    if (!c || c->type != XML_ELEMENT_NODE) continue;
    bool inNamespace = c->ns && S(c->ns->href) == URI && S(c->name) == localName;
    if (inNamespace || S(c->name) == literal) list.push_back(child);
  }
  return list;
}

std::optional<std::string> TMXMLElement::resolvePrefixForNamespaceURI(const std::string& URI) {
  xmlNodePtr node = XMLNode();
  if (!node) return std::nullopt;
  xmlNsPtr ns = xmlSearchNsByHref(node->doc, node, X(URI));
  if (!ns) return std::nullopt;
  return S(ns->prefix);
}

void TMXMLElement::addChild(const std::shared_ptr<TMXMLNode>& child) {
  xmlNodePtr node = XMLNode();
  if (!node || !child) return;
  if (child->kind() == TMXMLAttributeKind) return addAttribute(child);
  if (child->kind() == TMXMLNamespaceKind) return addNamespace(child);
  xmlNodePtr source = child->XMLNode();
  if (!source || child->kind() == TMXMLDocumentKind) return;
  releaseCachedValues();
  xmlNodePtr copy = xmlDocCopyNode(source, node->doc, 1);
  if (!copy) return;
  xmlNodePtr added = xmlAddChild(node, copy);
  if (!added) {
    xmlFreeNode(copy);
    return;
  }
  repairNames(added);
}

void TMXMLElement::removeChild(const std::shared_ptr<TMXMLNode>& child) {
  xmlNodePtr node = XMLNode();
  if (!node || !child || !child->XMLNode()) return;
  xmlNodePtr target = child->XMLNode();
  if (target->parent != node) return;
  releaseCachedValues();
  child->releaseCachedValues();
  bury(target);
}

void TMXMLElement::addAttribute(const std::shared_ptr<TMXMLNode>& attribute) {
  xmlNodePtr node = XMLNode();
  if (!node || !attribute || !attribute->XMLNode() || attribute->XMLNode()->type != XML_ATTRIBUTE_NODE) return;
  xmlNodePtr source = attribute->XMLNode();
  std::string local = S(source->name);
  std::optional<std::string> href;
  const xmlChar* prefix = nullptr;
  if (source->ns) {
    href = S(source->ns->href);
    prefix = source->ns->prefix;
  } else if (local.size() > 2 && local.front() == '{') {
    auto close = local.find("}:");
    if (close != std::string::npos) {
      href = local.substr(1, close - 1);
      local = local.substr(close + 2);
    }
  }
  for (xmlAttrPtr existing = node->properties; existing; existing = existing->next) {
    bool sameNamespace = href ? (existing->ns && S(existing->ns->href) == *href) : existing->ns == nullptr;
    if (sameNamespace && S(existing->name) == local) return;
  }
  releaseCachedValues();
  xmlNsPtr ns = nullptr;
  if (href) {
    ns = xmlSearchNsByHref(node->doc, node, X(*href));
    if (!ns) ns = xmlNewNs(node, X(*href), prefix);
  }
  std::string value;
  attributeText(source, value);
  xmlAttrPtr added = xmlNewNsProp(node, ns, X(local), X(value));
  if (added) repairNames(reinterpret_cast<xmlNodePtr>(added));
}
