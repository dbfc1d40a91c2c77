// fuzz-link: foundation
// The XML document model and its XPath queries: a document from the network, a query from the
// input, the tree walked, written out and read back.
#include "foundation/xml/TMXMLDocument.h"
#include "fuzz/support/FuzzSupport.h"

namespace {

// Input: an XPath expression, a NUL byte, then the document.
std::vector<fuzz::Seed> seeds() {
  const std::pair<const char*, const char*> cases[] = {
      {"//p", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><body><p>\xE4\xB8\xAD\xE5\x9B\xBD</p><p><img src=\"a.jpg\" width=\"300\"/></p></body>"},
      {"/root/a[@k='v']/text()", "<root><a k=\"v\">x</a><a k=\"w\"><![CDATA[<y>]]></a><!-- c --><?pi d?></root>"},
      {"//n:item", "<r xmlns:n=\"urn:n\"><n:item n:at=\"1\">t</n:item><item/></r>"},
      {"count(//*)", "<!DOCTYPE r [<!ENTITY e \"ent\">]><r>&e;&amp;&#x4E2D;</r>"},
      {"//a | //b", "<a><b/><b></b></a>"},
  };
  std::vector<fuzz::Seed> out;
  int i = 0;
  for (auto [path, xml] : cases) out.push_back({"seed" + std::to_string(i++), std::string(path) + '\0' + xml});
  return out;
}
FUZZ_SEEDS(seeds);

void walk(TMXMLNode& node, int depth) {
  if (depth > 64) return;
  (void)node.name();
  (void)node.stringValue();
  (void)node.kind();
  (void)node.URI();
  for (const auto& child : node.children()) walk(*child, depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  std::string path = in.until('\0');
  std::string xml = in.rest();

  os::Error error;
  auto document = TMXMLDocument::createWithXMLString(xml, 0, &error);
  fuzz::check(document != nullptr, "a document is always made");
  auto root = document->rootElement();
  if (!root) {
    fuzz::check(document->lastErrorMsg().has_value(), "a failed parse must say why");
    return 0;
  }
  walk(*root, 0);
  if (auto nodes = document->nodesForXPath(path, os::Dictionary{{"n", os::Value("urn:n")}}, &error)) {
    for (const auto& node : *nodes) {
      (void)node->XMLString();
      if (auto matches = node->nodesForXPath(path)) (void)matches->size();
    }
  }
  for (const auto& element : root->elementsForName(path)) (void)element->XMLString();
  (void)root->attributeForName(path);

  // What the model writes must read back.
  if (auto written = document->XMLData()) {
    auto reread = TMXMLDocument::createWithData(*written);
    fuzz::check(reread->rootElement() != nullptr, "the document's own XML does not read back");
  }
  return 0;
}
