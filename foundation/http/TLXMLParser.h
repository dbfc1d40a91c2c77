#pragma once
// An event-driven XML parser over a body in memory: the delegate hears of elements, attributes
// and text as the parse meets them. Input is untrusted: no network access, entities are not
// expanded, and bodies beyond kMaximumBytes are refused.
#include <memory>
#include <optional>
#include <string>

#include "os/core/Data.h"
#include "os/core/Error.h"
#include "os/core/Value.h"

class TLXMLParser;

inline constexpr const char* kTLXMLParserErrorDomain = "TLXMLParserErrorDomain";

// Every operation is optional.
class TLXMLParserDelegate {
 public:
  virtual ~TLXMLParserDelegate() = default;
  virtual void parserDidStartDocument(TLXMLParser& parser) {}
  virtual void parserDidEndDocument(TLXMLParser& parser) {}
  virtual void didStartElement(TLXMLParser& parser, const std::string& elementName, const std::string& namespaceURI,
                               const std::string& qualifiedName, const os::Dictionary& attributes) {}
  virtual void didEndElement(TLXMLParser& parser, const std::string& elementName, const std::string& namespaceURI,
                             const std::string& qualifiedName) {}
  virtual void foundCharacters(TLXMLParser& parser, const std::string& characters) {}
  virtual void parseErrorOccurred(TLXMLParser& parser, const os::Error& error) {}
};

class TLXMLParser {
 public:
  static constexpr std::size_t kMaximumBytes = 16 * 1024 * 1024;

  explicit TLXMLParser(os::Data data) : data_(std::move(data)) {}

  // Held weakly.
  void setDelegate(std::weak_ptr<TLXMLParserDelegate> delegate) { delegate_ = std::move(delegate); }
  std::shared_ptr<TLXMLParserDelegate> delegate() const { return delegate_.lock(); }

  // Runs the whole parse on the calling thread; false on a malformed document or an abort.
  bool parse();
  void abortParsing() { aborted_ = true; }
  const std::optional<os::Error>& parserError() const { return error_; }
  const os::Data& data() const { return data_; }

 private:
  friend struct TLXMLParserCallbacks;
  os::Data data_;
  std::weak_ptr<TLXMLParserDelegate> delegate_;
  std::optional<os::Error> error_;
  bool aborted_ = false;
};
