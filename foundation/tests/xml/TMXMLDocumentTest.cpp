#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "foundation/xml/TMXMLDocument.h"
#include "foundation/xml/TMXMLElement.h"

namespace {

std::shared_ptr<TMXMLDocument> parse(const std::string& xml, os::Error* error = nullptr) {
  return TMXMLDocument::createWithXMLString(xml, 0, error);
}

const char* kBody =
    "<article id=\"7\" xmlns:m=\"urn:media\">\n"
    "  <p>First <b>bold</b> line</p>\n"
    "  <p><![CDATA[<not> a tag & text]]></p>\n"
    "  <m:img m:src=\"a.png\"/>\n"
    "  <empty/>\n"
    "</article>";

TEST(TMXMLDocument, ReadsTheTreeWithoutBlankTextAndWithCDATAAsText) {
  os::Error error{"x", 5};
  auto doc = parse(kBody, &error);
  EXPECT_EQ(error.code, 0);
  auto root = doc->rootElement();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->name(), "article");
  ASSERT_EQ(root->children().size(), 4u);
  auto first = std::static_pointer_cast<TMXMLElement>(root->childAtIndex(0));
  EXPECT_EQ(first->stringValue(), "First bold line");
  EXPECT_EQ(first->children()[0]->name(), "text");
  EXPECT_EQ(first->children()[0]->kind(), TMXMLTextKind);
  auto cdata = root->childAtIndex(1)->children();
  ASSERT_EQ(cdata.size(), 1u);
  EXPECT_EQ(cdata[0]->kind(), TMXMLTextKind);
  EXPECT_EQ(cdata[0]->stringValue(), "<not> a tag & text");
  EXPECT_TRUE(root->childAtIndex(3)->children().empty());
  EXPECT_EQ(root->childAtIndex(9), nullptr);

  auto img = std::static_pointer_cast<TMXMLElement>(root->childAtIndex(2));
  EXPECT_EQ(img->name(), "m:img");
  EXPECT_EQ(img->localName(), "img");
  EXPECT_EQ(img->prefix(), "m");
  EXPECT_EQ(img->URI(), "urn:media");
  ASSERT_EQ(img->attributes().size(), 1u);
  EXPECT_EQ(img->attributes()[0]->name(), "m:src");
  EXPECT_EQ(img->attributes()[0]->stringValue(), "a.png");
  EXPECT_EQ(img->attributeForName("m:src")->stringValue(), "a.png");
  EXPECT_EQ(img->attributeForLocalName("src", "urn:media")->stringValue(), "a.png");
  EXPECT_EQ(root->attributeForName("id")->kind(), TMXMLAttributeKind);
  EXPECT_EQ(root->attributeForName("nope"), nullptr);
  EXPECT_EQ(root->elementsForName("p").size(), 2u);
  EXPECT_EQ(root->elementsForName("m:img").size(), 1u);
  EXPECT_EQ(root->resolvePrefixForNamespaceURI("urn:media"), "m");
  ASSERT_EQ(root->namespaces().size(), 1u);
  EXPECT_EQ(root->namespaces()[0]->stringValue(), "urn:media");
  EXPECT_EQ(first->XMLString(), "<p>First <b>bold</b> line</p>");

  auto data = doc->XMLData();
  ASSERT_TRUE(data);
  EXPECT_EQ(os::stringFromData(*data).rfind("<?xml version=\"1.0\"?>", 0), 0u);
}

// A document declared in an encoding only the system's converters know is written as UTF-8,
// declared so, and reads back with its text.
TEST(TMXMLDocument, AConvertedEncodingIsWrittenAsUTF8AndReadsBack) {
  auto doc = parse("<?xml version=\"1.0\" encoding=\"UTF-7\"?><body><p>g\" width=\"300\"/></p></body>", nullptr);
  ASSERT_TRUE(doc && doc->rootElement());
  auto data = doc->XMLData();
  ASSERT_TRUE(data);
  EXPECT_NE(os::stringFromData(*data).find("encoding=\"UTF-8\""), std::string::npos);
  auto reread = TMXMLDocument::createWithData(*data);
  ASSERT_TRUE(reread && reread->rootElement());
  EXPECT_EQ(reread->rootElement()->stringValue(), doc->rootElement()->stringValue());
}

TEST(TMXMLDocument, EmptyAndMalformedInputLeaveADocumentWithoutATree) {
  os::Error error;
  auto doc = parse("", &error);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->rootElement(), nullptr);
  ASSERT_TRUE(doc->lastErrorMsg());
  EXPECT_FALSE(doc->lastErrorMsg()->empty());
  EXPECT_EQ(error.domain, kTMXMLErrorDomain);
  EXPECT_EQ(error.code, -1);
  EXPECT_FALSE(doc->XMLData());
  EXPECT_FALSE(doc->nodesForXPath("//p"));

  auto broken = parse("<a><b></a>", &error);
  EXPECT_EQ(broken->rootElement(), nullptr);
  ASSERT_TRUE(broken->lastErrorMsg());
  EXPECT_EQ(broken->lastErrorMsg()->back(), '\n');

  EXPECT_EQ(TMXMLElement::createWithXMLString("   ", &error), nullptr);
  EXPECT_EQ(error.code, -1);
}

TEST(TMXMLDocument, XPathAnswersEmptyForNoMatchAndNothingForABadPath) {
  auto doc = parse(kBody);
  auto none = doc->nodesForXPath("//video");
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());

  auto paragraphs = doc->nodesForXPath("/article/p");
  ASSERT_TRUE(paragraphs);
  EXPECT_EQ(paragraphs->size(), 2u);

  os::Error error;
  EXPECT_FALSE(doc->nodesForXPath("//p[", &error));
  EXPECT_EQ(error.domain, kTMXMLErrorDomain);
  EXPECT_NE(error.code, 0);
  EXPECT_TRUE(error.userInfo["error"].isString());

  auto images = doc->rootElement()->nodesForXPath("m:img/@x:src", os::Dictionary{{"m", "urn:media"}, {"x", "urn:media"}});
  ASSERT_TRUE(images);
  ASSERT_EQ(images->size(), 1u);
  EXPECT_EQ((*images)[0]->stringValue(), "a.png");

  // Namespace nodes of a result stay valid after the query is gone.
  auto namespaces = doc->rootElement()->nodesForXPath("namespace::m");
  ASSERT_TRUE(namespaces);
  ASSERT_EQ(namespaces->size(), 1u);
  EXPECT_EQ((*namespaces)[0]->kind(), TMXMLNamespaceKind);
  EXPECT_EQ((*namespaces)[0]->stringValue(), "urn:media");
}

TEST(TMXMLDocument, DefaultNamespaceIsQueriedThroughItsPlaceholderPrefix) {
  auto doc = parse("<feed xmlns=\"urn:feed\"><entry>1</entry><entry>2</entry></feed>");
  auto entries = doc->rootElement()->nodesForXPath("_def_ns:entry");
  ASSERT_TRUE(entries);
  EXPECT_EQ(entries->size(), 2u);
}

TEST(TMXMLDocument, NodesOutliveTheirDocument) {
  std::shared_ptr<TMXMLElement> root;
  std::shared_ptr<TMXMLNode> text;
  {
    auto doc = parse(kBody);
    root = doc->rootElement();
    text = root->childAtIndex(0)->childAtIndex(0);
    auto found = doc->nodesForXPath("//b");
    ASSERT_TRUE(found);
    text = (*found)[0]->childAtIndex(0);
  }
  EXPECT_EQ(text->stringValue(), "bold");
  EXPECT_EQ(root->childAtIndex(0)->stringValue(), "First bold line");
}

TEST(TMXMLDocument, RemovedChildStaysUsableForItsHolder) {
  auto doc = parse(kBody);
  auto root = doc->rootElement();
  auto paragraph = root->childAtIndex(0);
  auto bold = paragraph->childAtIndex(1);
  root->removeChild(paragraph);
  EXPECT_EQ(root->children().size(), 3u);
  EXPECT_EQ(root->XMLString()->find("First"), std::string::npos);
  EXPECT_EQ(paragraph->stringValue(), "First bold line");
  EXPECT_EQ(bold->XMLString(), "<b>bold</b>");
  // Removing it again, or a node of another parent, changes nothing.
  root->removeChild(paragraph);
  root->removeChild(bold);
  EXPECT_EQ(root->children().size(), 3u);
  doc.reset();
  root.reset();
  EXPECT_EQ(bold->stringValue(), "bold");

  // Replaced content keeps the old children alive too.
  auto owned = TMXMLElement::createWithXMLString("<a><b>x</b></a>");
  auto held = owned->childAtIndex(0);
  owned->setStringValue("plain & simple");
  EXPECT_EQ(owned->XMLString(), "<a>plain &amp; simple</a>");
  EXPECT_EQ(held->stringValue(), "x");
}

TEST(TMXMLDocument, EntityExpansionIsRefused) {
  std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
  laughs += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">";
  for (int i = 2; i <= 9; ++i) {
    std::string prev = "&lol" + std::to_string(i - 1) + ";";
    std::string body;
    for (int k = 0; k < 10; ++k) body += prev;
    laughs += "<!ENTITY lol" + std::to_string(i) + " \"" + body + "\">";
  }
  laughs += "]><lolz>&lol9;</lolz>";
  os::Error error;
  auto doc = parse(laughs, &error);
  EXPECT_EQ(doc->rootElement(), nullptr);
  EXPECT_EQ(error.code, -1);
  ASSERT_TRUE(doc->lastErrorMsg());
  EXPECT_NE(doc->lastErrorMsg()->find("entity"), std::string::npos);

  // A reference that is allowed stays a reference: reading the text does not expand it.
  auto kept = parse("<!DOCTYPE r [<!ENTITY e \"abc\">]><r>x&e;y</r>");
  ASSERT_TRUE(kept->rootElement());
  EXPECT_EQ(kept->rootElement()->stringValue(), "xy");
  EXPECT_EQ(kept->rootElement()->childAtIndex(1)->kind(), TMXMLEntityDeclarationKind);
}

TEST(TMXMLDocument, ExternalEntitiesAreNotLoaded) {
  static std::atomic<int> counter{0};
  auto dir = std::filesystem::temp_directory_path() / ("tmxml-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(dir);
  auto secret = dir / "secret.txt";
  std::ofstream(secret) << "TOP-SECRET";
  std::string xml = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + secret.string() +
                    "\">]><r>&x;</r>";
  auto doc = parse(xml);
  auto root = doc->rootElement();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->stringValue(), "");
  EXPECT_EQ(root->XMLString(), "<r>&x;</r>");
  EXPECT_EQ(os::stringFromData(*doc->XMLData()).find("TOP-SECRET"), std::string::npos);
  std::string withDTD = "<?xml version=\"1.0\"?><!DOCTYPE r SYSTEM \"file://" + secret.string() + "\"><r/>";
  EXPECT_TRUE(parse(withDTD)->rootElement());
  std::filesystem::remove_all(dir);
}

TEST(TMXMLDocument, HugeInputIsRefusedBeforeParsing) {
  std::string huge = "<a>" + std::string(TMXMLDocument::kMaximumDocumentBytes, 'x') + "</a>";
  os::Error error;
  auto doc = parse(huge, &error);
  EXPECT_EQ(doc->rootElement(), nullptr);
  EXPECT_EQ(error.code, -1);
  EXPECT_NE(doc->lastErrorMsg()->find("too large"), std::string::npos);
}

TEST(TMXMLElement, BuildsTreesFromCopiesAndRepairsNamespaces) {
  auto feed = TMXMLNode::elementWithName("feed");
  feed->addNamespace(TMXMLNode::namespaceWithName("m", "urn:media"));
  auto item = TMXMLNode::elementWithName("item", "one");
  feed->addChild(item);
  item->setStringValue("changed later");
  EXPECT_EQ(feed->stringValue(), "one");
  EXPECT_TRUE(item->shouldFreeXMLNode());
  EXPECT_FALSE(feed->childAtIndex(0)->shouldFreeXMLNode());

  feed->addChild(TMXMLNode::elementWithNameURI("m:thumb", "urn:media"));
  auto thumb = feed->childAtIndex(1);
  EXPECT_EQ(thumb->name(), "m:thumb");
  EXPECT_EQ(thumb->URI(), "urn:media");
  EXPECT_EQ(feed->elementsForLocalName("thumb", "urn:media").size(), 1u);

  feed->addAttribute(TMXMLNode::attributeWithName("lang", "zh"));
  feed->addAttribute(TMXMLNode::attributeWithName("lang", "en"));
  feed->addChild(TMXMLNode::attributeWithName("size", "urn:media", "2"));
  EXPECT_EQ(feed->attributeForName("lang")->stringValue(), "zh");
  EXPECT_EQ(feed->attributeForName("m:size")->stringValue(), "2");
  EXPECT_EQ(feed->XMLString(),
            "<feed xmlns:m=\"urn:media\" lang=\"zh\" m:size=\"2\"><item>one</item><m:thumb/></feed>");

  // A query on a tree without a document leaves the tree as it was.
  auto found = feed->nodesForXPath("item");
  ASSERT_TRUE(found);
  ASSERT_EQ(found->size(), 1u);
  EXPECT_EQ((*found)[0]->stringValue(), "one");
  auto top = feed->nodesForXPath("/");
  ASSERT_TRUE(top);
  EXPECT_TRUE(top->empty());

  auto doc = TMXMLDocument::createWithRootElement(*feed);
  feed.reset();
  EXPECT_EQ(doc->rootElement()->childAtIndex(0)->stringValue(), "one");
  auto copy = doc->rootElement()->copy();
  doc.reset();
  EXPECT_TRUE(copy->isEqual(*copy->copy()));
  EXPECT_EQ(copy->childCount(), 2u);
}

TEST(TMXMLNode, NameHelpersSplitAtTheFirstColon) {
  EXPECT_EQ(TMXMLNode::localNameForName("a:b:c"), "b:c");
  EXPECT_EQ(TMXMLNode::prefixForName("a:b:c"), "a");
  EXPECT_EQ(TMXMLNode::localNameForName("plain"), "plain");
  EXPECT_FALSE(TMXMLNode::prefixForName("plain"));
  EXPECT_EQ(TMXMLNode::localNameForName("trailing:"), "trailing:");
  EXPECT_EQ(TMXMLNode::textWithStringValue("t")->kind(), TMXMLTextKind);
  EXPECT_EQ(TMXMLNode::namespaceWithName("", "urn:x")->name(), "");
}

}  // namespace
