#pragma once
// Class-level settings of the HTTP operation family: what each operation class accepts (status
// codes, content types), which URL path extensions it claims, and how to make one of it. A class
// answers from its own declaration or, when it declares nothing, from its parent; adding codes or
// types to a class changes the answer of that class and of every subclass that does not declare
// its own. Classes are also found by name, for the client's list of registered classes.
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "os/net/URLRequest.h"

class TLHTTPRequestOperation;

// The media types listed in a header such as "Accept": split at ",", each cut before its first
// ";", trimmed, empty pieces dropped. An absent header gives none.
std::set<std::string> TLContentTypesFromHTTPHeader(const std::optional<std::string>& header);

class TLHTTPOperationClass {
 public:
  using StatusCodes = std::set<int>;
  using ContentTypes = std::set<std::string>;
  using Factory = std::function<std::shared_ptr<TLHTTPRequestOperation>(const os::URLRequest&)>;

  // Registers the class under its name; a later class of the same name replaces it in the table.
  TLHTTPOperationClass(std::string name, const TLHTTPOperationClass* parent, Factory factory);
  ~TLHTTPOperationClass();
  TLHTTPOperationClass(const TLHTTPOperationClass&) = delete;
  TLHTTPOperationClass& operator=(const TLHTTPOperationClass&) = delete;

  static const TLHTTPOperationClass* named(std::string_view name);

  const std::string& name() const { return name_; }
  const TLHTTPOperationClass* parent() const { return parent_; }
  // True for the class itself and its descendants.
  bool isSubclassOf(const TLHTTPOperationClass& other) const;

  // Declarations made once, when the class is defined. Absent content types accept any type.
  void declareAcceptableStatusCodes(StatusCodes codes);
  void declareAcceptableContentTypes(std::optional<ContentTypes> types);
  void declarePathExtensions(std::vector<std::string> extensions);

  // Absent: any status code / content type is acceptable.
  std::optional<StatusCodes> acceptableStatusCodes() const;
  std::optional<ContentTypes> acceptableContentTypes() const;
  // The same answers for one code or type, without copying the sets.
  bool acceptsStatusCode(int code) const;
  bool acceptsContentType(const std::string& type) const;
  // The union of the current answer and the given set becomes this class's answer.
  void addAcceptableStatusCodes(const StatusCodes& codes);
  void addAcceptableContentTypes(const ContentTypes& types);

  // The root of the family accepts every request; another class accepts a request whose URL path
  // extension it claims (exact comparison) or whose "Accept" header names a type it accepts.
  bool canProcessRequest(const os::URLRequest& request) const;

  std::shared_ptr<TLHTTPRequestOperation> instantiate(const os::URLRequest& request) const;

 private:
  const std::vector<std::string>* pathExtensions() const;

  const std::string name_;
  const TLHTTPOperationClass* const parent_;
  const Factory factory_;
  // Guarded by the registry's mutex: declarations may change while requests are being matched.
  std::optional<StatusCodes> statusCodes_;                  // absent: ask the parent
  std::optional<std::optional<ContentTypes>> contentTypes_;  // outer absent: ask the parent
  std::optional<std::vector<std::string>> extensions_;
};

// "a-b" runs and single codes joined with "," in ascending order: 200-299,404.
std::string TLStatusCodeRangesDescription(const TLHTTPOperationClass::StatusCodes& codes);
