// XML property lists as any XML reader reads them: what is written reads back as written, text
// another reader would refuse is never written, and line ends are read as XML reads them. libxml2
// stands for the readers at the other end (servers take these lists as request bodies).
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>
#include <string>
#include <vector>

#include "os/core/String.h"
#include "os/store/PropertyList.h"

namespace os {
namespace {

// The texts of the <key> and <string> elements of an XML list as libxml2 reads them, in document
// order; nothing when it refuses the document.
std::optional<std::vector<std::string>> textsByAnotherReader(const Data& list) {
  std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> doc(
      xmlReadMemory(reinterpret_cast<const char*>(list.data()), static_cast<int>(list.size()), "list.plist", nullptr,
                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
      xmlFreeDoc);
  if (!doc) return std::nullopt;
  std::vector<std::string> texts;
  auto walk = [&](auto&& self, xmlNodePtr node) -> void {
    for (; node; node = node->next) {
      if (node->type != XML_ELEMENT_NODE) continue;
      const std::string name = reinterpret_cast<const char*>(node->name);
      if (name == "key" || name == "string") {
        std::unique_ptr<xmlChar, void (*)(void*)> content(xmlNodeGetContent(node), xmlFree);
        texts.emplace_back(content ? reinterpret_cast<const char*>(content.get()) : "");
      }
      self(self, node->children);
    }
  };
  walk(walk, xmlDocGetRootElement(doc.get()));
  return texts;
}

// The texts of a list our own reader reads: keys and strings, in order, as above.
std::vector<std::string> textsByOurReader(const Value& v) {
  std::vector<std::string> out;
  auto walk = [&](auto&& self, const Value& value) -> void {
    if (value.string()) out.push_back(*value.string());
    if (value.isArray())
      for (const Value& item : *value.array()) self(self, item);
    if (value.isDictionary())
      for (const auto& [key, item] : *value.dictionary()) {
        out.push_back(key);
        self(self, item);
      }
  };
  walk(walk, v);
  return out;
}

TEST(StorePropertyListXMLText, WrittenTextReadsBackAsWrittenInAnyXMLReader) {
  const std::vector<std::string> texts = {"x\r\ny",   "a\rb",         "\r",          "\r\n\r\n", "tab\tand\nline",
                                          "<&>]]>",  "\"quoted\" 'a'", "\xC2\x85\xE2\x80\xA8 next and line separators",
                                          "\x7F del", " edges "};
  Array strings;
  Dictionary keyed;
  for (const std::string& t : texts) {
    strings.push_back(Value(t));
    keyed.set("key " + t, Value(t));
  }
  const Value list(Dictionary{{"strings", Value(strings)}, {"keyed", Value(keyed)}});
  Error error;
  auto written = PropertyList::write(list, PropertyListFormat::XML, &error);
  ASSERT_TRUE(written) << error.localizedDescription();
  auto ours = PropertyList::read(*written, nullptr, &error);
  ASSERT_TRUE(ours) << error.localizedDescription();
  EXPECT_EQ(*ours, list);
  auto theirs = textsByAnotherReader(*written);
  ASSERT_TRUE(theirs) << "another reader refused the list";
  EXPECT_EQ(*theirs, textsByOurReader(list));
}

// Characters XML 1.0 cannot carry at all, not even as references: another reader refuses the whole
// document at the first, so the write fails, naming it. A binary list still holds them.
TEST(StorePropertyListXMLText, TextXMLCannotCarryFailsTheWrite) {
  for (const std::string& bad : {std::string("a\x01z"), std::string("\x0B"), std::string("form\x0C"),
                                 std::string("\x1F"), std::string("\xEF\xBF\xBE"), std::string("x\xEF\xBF\xBFy")}) {
    for (const Value& list : {Value(Array{Value("fine"), Value(bad)}), Value(Dictionary{{bad, Value(1)}})}) {
      Error error;
      EXPECT_FALSE(PropertyList::write(list, PropertyListFormat::XML, &error)) << bad;
      EXPECT_EQ(error.code, kPropertyListWriteInvalidError);
      EXPECT_NE(error.localizedDescription().find("U+"), std::string::npos) << error.localizedDescription();
      auto binary = PropertyList::write(list, PropertyListFormat::Binary, &error);
      ASSERT_TRUE(binary) << error.localizedDescription();
      EXPECT_EQ(PropertyList::read(*binary), list);
    }
  }
  // Just beside them, the characters XML does carry.
  const Value edges(Array{Value("\t\n\r \xEF\xBF\xBD \xEF\xBF\xBC \xF0\x90\x80\x80")});
  auto written = PropertyList::write(edges, PropertyListFormat::XML);
  ASSERT_TRUE(written);
  EXPECT_TRUE(textsByAnotherReader(*written));
  EXPECT_EQ(PropertyList::read(*written), edges);
}

// Lists written elsewhere by hand or on another system: a line end, as text or in a CDATA section,
// is one line feed however it was written; a carriage return given as a reference stays one.
TEST(StorePropertyListXMLText, LineEndsAreReadAsXMLReadsThem) {
  const Data list = dataFromString(
      "<?xml version=\"1.0\"?>\r\n<plist version=\"1.0\">\r\n<dict>\r\n"
      "\t<key>two\r\nlines</key>\r\n\t<string>a\r\nb\rc\nd&#13;e&#xD;&#10;f\r</string>\r\n"
      "\t<key>cdata</key>\r\n\t<string><![CDATA[x\r\ny\r\rz]]>\r\r\n</string>\r\n"
      "</dict>\r\n</plist>\r\n");
  Error error;
  auto ours = PropertyList::read(list, nullptr, &error);
  ASSERT_TRUE(ours) << error.localizedDescription();
  const std::vector<std::string> expected = {"two\nlines", "a\nb\nc\nd\re\r\nf\n", "cdata", "x\ny\n\nz\n\n"};
  EXPECT_EQ(textsByOurReader(*ours), expected);
  EXPECT_EQ(textsByAnotherReader(list), expected);
}

}  // namespace
}  // namespace os
