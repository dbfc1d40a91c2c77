#pragma once
// The URLs the QQ client opens to hand a message to QQ, and the reply URLs QQ opens to reach the
// host application. Small values travel Base64-encoded in the query, large ones on the
// large-data pasteboard.
#include <memory>
#include <optional>
#include <string>

#include "platforms/qq/QQApiObject.h"
#include "os/core/Value.h"

class QQApiURLEncoder {
 public:
  // scheme://host/path?k=v&... with every key and value escaped as a query component, so no
  // value can add pairs of its own. No scheme: nothing.
  static std::optional<std::string> urlWithScheme(const std::optional<std::string>& scheme,
                                                  const std::optional<std::string>& host,
                                                  const std::optional<std::string>& path, const os::Dictionary& queryItem);
};

class QQApiURLDecoder {
 public:
  // How the path is kept: whole ("/a/b"), or without its first character ("a/b"; the QQ Connect
  // app-to-app reader's form, where a path of fewer than two characters is empty).
  enum class PathForm { Whole, WithoutLeadingCharacter };
  // Keys and values stay as they came (still percent-escaped).
  static std::optional<QQApiURLDecoder> decoderWithUrl(const std::optional<std::string>& url,
                                                       PathForm pathForm = PathForm::Whole);
  std::string scheme;
  std::optional<std::string> host;
  std::string path;
  os::Dictionary queryItem;
};

class QQApiMessageAndUrlConverter {
 public:
  // `sending` is the object being sent by the facade: only then does the URL carry its "cflag".
  static std::optional<std::string> urlWithMessage(const std::shared_ptr<QQApiMessage>& message,
                                                   const QQApiObject* sending = nullptr);
  static std::shared_ptr<QQApiMessage> messageWithUrl(const std::optional<std::string>& url);
  // The message QQ left on the api-message pasteboard, when the URL says so.
  static std::shared_ptr<QQApiMessage> messageWithUrlUsedClipboard(const std::optional<std::string>& url);
  // The object of a "view" request.
  static std::shared_ptr<QQApiObject> getObjectByUrl(const QQApiURLDecoder& decoder);
};

class QQApiMessageUtil {
 public:
  static std::shared_ptr<QQApiMessage> messageWithURL(const std::optional<std::string>& url) {
    return QQApiMessageAndUrlConverter::messageWithUrl(url);
  }
  static std::optional<std::string> URLWithMessage(const std::shared_ptr<QQApiMessage>& message,
                                                   const QQApiObject* sending = nullptr) {
    return QQApiMessageAndUrlConverter::urlWithMessage(message, sending);
  }
};
