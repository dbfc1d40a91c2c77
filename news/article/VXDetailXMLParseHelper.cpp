#include "news/article/VXDetailXMLParseHelper.h"

#include <cmath>

#include "foundation/xml/TMXMLDocument.h"
#include "foundation/xml/TMXMLElement.h"
#include "news/api/VXReaderContext.h"
#include "os/core/Error.h"
#include "os/core/Log.h"
#include "os/core/String.h"

namespace {

// The server writes a bare "& " in running text; it is protected through the parse with a marker
// that the text rule turns back. "<" and ">" arrive already written as markers.
constexpr std::string_view kBareAmpersand = "& ";
constexpr std::string_view kAmpersandMarker = "#amp#";

os::Value rowType(int type) { return os::Value::number('i', type); }

}  // namespace

std::shared_ptr<VXDetailXMLParseHelper> VXDetailXMLParseHelper::share() { return share(*VXReaderContext::current()); }

std::shared_ptr<VXDetailXMLParseHelper> VXDetailXMLParseHelper::share(VXReaderContext& context) {
  return context.bodyParser.get([] { return std::make_shared<VXDetailXMLParseHelper>(); });
}

std::optional<std::string> VXDetailXMLParseHelper::parseXML(const std::optional<std::string>& body,
                                                            os::Array& dictArray) const {
  if (!body || body->empty()) return std::nullopt;
  std::string protectedBody = os::replaceAll(*body, kBareAmpersand, kAmpersandMarker);

  // The document model is the one parser for untrusted markup: it never touches the network,
  // loads no DTD and leaves entity references unexpanded.
  os::Error error;
  auto document = TMXMLDocument::createWithXMLString(protectedBody, 0, &error);
  if (error.code != 0 || !document->rootElement()) {
    std::string text = document->lastErrorMsg().value_or("Document could not be parsed\n");
    os::log("xml parser errror: " + text);
    return text;
  }

  // Rows are collected apart so that the caller's array is only touched by a whole parse.
  os::Array rows;
  auto root = document->rootElement();
  for (const auto& child : root->children()) {
    if (child) fun(*child, rows);
  }
  for (auto& row : rows) dictArray.push_back(std::move(row));
  return std::nullopt;
}

void VXDetailXMLParseHelper::fun(TMXMLNode& node, os::Array& dictArray) const {
  // Only elements are descended into. An entity reference's "children" are its declaration's
  // shared content; walking them would expand the entity (exponentially, for nested ones).
  if (node.kind() != TMXMLElementKind || node.childCount() == 0) {
    test(node, dictArray);
    return;
  }
  for (const auto& child : node.children()) {
    if (child) fun(*child, dictArray);
  }
}

void VXDetailXMLParseHelper::test(TMXMLNode& node, os::Array& dictArray) const {
  switch (node.kind()) {
    case TMXMLElementKind:
      if (node.name() == std::optional<std::string>("img"))
        addSubImg(node, dictArray);
      else
        addSubText(node, dictArray);
      break;
    case TMXMLTextKind:  // text and CDATA sections
      addSubText(node, dictArray);
      break;
    default:
      // Comments, processing instructions and unexpanded entity references are markup, not
      // article text.
      break;
  }
}

void VXDetailXMLParseHelper::addSubText(TMXMLNode& node, os::Array& dictArray) const {
  std::optional<std::string> value = node.stringValue();
  // Tested before trimming: a paragraph holding one blank still makes an (empty) row, which the
  // article keeps as a spacer.
  if (!value || value->empty()) return;
  std::string text = os::trimWhitespace(*value);
  text = os::replaceAll(text, "#lt#", "<");
  text = os::replaceAll(text, "#rt#", ">");
  text = os::replaceAll(text, kAmpersandMarker, kBareAmpersand);
  dictArray.emplace_back(os::Dictionary{{"type", rowType(1)}, {"content", os::Value(text)}});
}

void VXDetailXMLParseHelper::addSubImg(TMXMLNode& node, os::Array& dictArray) const {
  auto* element = dynamic_cast<TMXMLElement*>(&node);
  if (!element) return;
  auto attribute = [element](const char* name) -> std::optional<std::string> {
    auto a = element->attributeForName(name);
    return a ? a->stringValue() : std::nullopt;
  };
  std::optional<std::string> src = attribute("src");
  if (!src || src->empty()) return;
  float width = dimensionValue(attribute("width"));
  float height = dimensionValue(attribute("height"));
  std::string alt = attribute("alt").value_or("");
  dictArray.emplace_back(os::Dictionary{{"type", rowType(2)},
                                        {"content", os::Value(*src)},
                                        {"originalwidth", os::Value(width)},
                                        {"originalheight", os::Value(height)},
                                        {"alt", os::Value(alt)}});
}

float VXDetailXMLParseHelper::dimensionValue(const std::optional<std::string>& text) {
  if (!text) return 0;
  // Rows divide by these to keep a picture's aspect ratio, so only a finite positive size that
  // also fits a float is taken; anything else counts as missing.
  double value = os::doubleValue(*text);
  if (!std::isfinite(value) || value <= 0) return 0;
  float narrowed = static_cast<float>(value);
  if (!std::isfinite(narrowed) || narrowed <= 0) return 0;
  return narrowed;
}
