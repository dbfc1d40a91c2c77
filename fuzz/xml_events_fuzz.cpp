// fuzz-link: foundation
// The event-driven XML parser over an answer body; the delegate keeps a stack of open elements,
// which the parser's events must keep balanced.
#include "foundation/http/TLXMLParser.h"
#include "fuzz/support/FuzzSupport.h"

namespace {

std::vector<fuzz::Seed> seeds() {
  return {
      {"plain", "<?xml version=\"1.0\"?><rss><channel><item a=\"1\" b='2'>text &amp; more</item></channel></rss>"},
      {"namespaces", "<a xmlns=\"urn:d\" xmlns:p=\"urn:p\"><p:b p:c=\"d\"/><![CDATA[x<y]]></a>"},
      {"entity", "<!DOCTYPE a [<!ENTITY big \"xxxxxxxxxxxxxxxxxxxxxxxx\"><!ATTLIST a k CDATA \"v\">]><a>&big;</a>"},
      {"broken", "<a><b></a>"},
  };
}
FUZZ_SEEDS(seeds);

class Balance : public TLXMLParserDelegate {
 public:
  void didStartElement(TLXMLParser&, const std::string&, const std::string&, const std::string& qualified,
                       const os::Dictionary&) override {
    open.push_back(qualified);
  }
  void didEndElement(TLXMLParser&, const std::string&, const std::string&, const std::string& qualified) override {
    fuzz::check(!open.empty() && open.back() == qualified, "an end event without its start");
    open.pop_back();
  }
  void foundCharacters(TLXMLParser&, const std::string& text) override { characters += text.size(); }
  std::vector<std::string> open;
  std::size_t characters = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto delegate = std::make_shared<Balance>();
  TLXMLParser parser(os::Data(data, data + size));
  parser.setDelegate(delegate);
  bool ok = parser.parse();
  fuzz::check(ok != parser.parserError().has_value(), "the result and the error disagree");
  if (ok) fuzz::check(delegate->open.empty(), "a well-formed document left elements open");
  return 0;
}
