#include "foundation/http/TLXMLParser.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>

namespace {

std::string text(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : std::string(); }
std::string text(const xmlChar* s, int len) { return s ? std::string(reinterpret_cast<const char*>(s), static_cast<std::size_t>(len)) : std::string(); }

}  // namespace

struct TLXMLParserCallbacks {
  static TLXMLParser& parser(void* ctx) {
    auto* c = static_cast<xmlParserCtxtPtr>(ctx);
    return *static_cast<TLXMLParser*>(c->_private);
  }
  static void check(TLXMLParser& p, void* ctx) {
    if (p.aborted_) xmlStopParser(static_cast<xmlParserCtxtPtr>(ctx));
  }
  static void startDocument(void* ctx) {
    auto& p = parser(ctx);
    if (auto d = p.delegate()) d->parserDidStartDocument(p);
    check(p, ctx);
  }
  static void endDocument(void* ctx) {
    auto& p = parser(ctx);
    if (auto d = p.delegate()) d->parserDidEndDocument(p);
  }
  static void startElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* URI, int, const xmlChar**,
                           int nbAttributes, int, const xmlChar** attributes) {
    auto& p = parser(ctx);
    os::Dictionary attrs;
    for (int i = 0; i < nbAttributes; ++i) {
      const xmlChar** a = attributes + i * 5;  // localname, prefix, URI, value, end
      std::string name = a[1] ? text(a[1]) + ":" + text(a[0]) : text(a[0]);
      attrs.set(name, os::Value(text(a[3], static_cast<int>(a[4] - a[3]))));
    }
    std::string qualified = prefix ? text(prefix) + ":" + text(localname) : text(localname);
    if (auto d = p.delegate()) d->didStartElement(p, text(localname), text(URI), qualified, attrs);
    check(p, ctx);
  }
  static void endElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* URI) {
    auto& p = parser(ctx);
    std::string qualified = prefix ? text(prefix) + ":" + text(localname) : text(localname);
    if (auto d = p.delegate()) d->didEndElement(p, text(localname), text(URI), qualified);
    check(p, ctx);
  }
  static void characters(void* ctx, const xmlChar* ch, int len) {
    auto& p = parser(ctx);
    if (auto d = p.delegate()) d->foundCharacters(p, text(ch, len));
    check(p, ctx);
  }
};

bool TLXMLParser::parse() {
  error_.reset();
  aborted_ = false;
  auto fail = [&](long code, const std::string& description) {
    error_ = os::Error(kTLXMLParserErrorDomain, code, os::Dictionary{{os::kErrorDescriptionKey, os::Value(description)}});
    if (auto d = delegate()) d->parseErrorOccurred(*this, *error_);
    return false;
  };
  if (data_.size() > kMaximumBytes) return fail(1, "The document is too large.");
  if (data_.empty()) return fail(4, "The document is empty.");

  xmlSAXHandler handler{};
  handler.initialized = XML_SAX2_MAGIC;
  handler.startDocument = &TLXMLParserCallbacks::startDocument;
  handler.endDocument = &TLXMLParserCallbacks::endDocument;
  handler.startElementNs = &TLXMLParserCallbacks::startElement;
  handler.endElementNs = &TLXMLParserCallbacks::endElement;
  handler.characters = &TLXMLParserCallbacks::characters;
  handler.cdataBlock = &TLXMLParserCallbacks::characters;

  xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&handler, nullptr, nullptr, 0, nullptr);
  if (!ctxt) return fail(2, "The parser could not be made.");
  ctxt->_private = this;
  xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  int rc = xmlParseChunk(ctxt, reinterpret_cast<const char*>(data_.data()), static_cast<int>(data_.size()), 1);
  bool wellFormed = ctxt->wellFormed && rc == 0;
  std::string message;
  if (const xmlError* e = xmlCtxtGetLastError(ctxt)) message = e->message ? e->message : "";
  int code = ctxt->errNo;
  // With no tree handlers, libxml2 still builds a scratch document to hold the entity
  // declarations of an internal subset; the context does not free it.
  if (ctxt->myDoc) {
    xmlFreeDoc(ctxt->myDoc);
    ctxt->myDoc = nullptr;
  }
  xmlFreeParserCtxt(ctxt);
  if (aborted_) return fail(512, "The parse was aborted.");
  if (!wellFormed) return fail(code ? code : 3, message.empty() ? "The document is not well formed." : message);
  return true;
}
