#pragma once
// Where the news client's two servers are and how its requests are signed. The host addresses
// are configuration: they default to the local news server on loopback and are set at start-up
// (from the command line) or by tests.
#include <string>
#include <string_view>
#include <utility>

// News API.
inline constexpr std::string_view IPHONE_INTERFACE_PATH = "/imobile";
inline constexpr int INTERFACE_VERSION = 1;
// Stored signing sources of the deployment; never sent, only the keys derived from them sign.
inline constexpr std::string_view SECRET_KEY = "Rk7pQ2vXs9LmT4bN8cYw3HdJ6fGz1AeU";  // 32 characters

// Promotion API.
inline constexpr std::string_view INTERFACE_PATH_QUARN = "/imkt";
inline constexpr std::string_view INTERFACE_PATH_MIL = "/imkt/mil";
inline constexpr int INTERFACE_VERSION_QUARN = 3;
inline constexpr std::string_view SECRET_KEY_QUARN = "Wm4tZ8qLc2VxN7sKb5RfH3jYd9PgEa";  // 30 characters

inline constexpr int CHANNEL_ID = 11;

// The local news server's address when nothing else is configured.
inline constexpr std::string_view kDefaultServerRoot = "http://127.0.0.1:8080";

// The two API addresses, a value handed from the command line through the reader context and the
// request runner down to every request.
class VXRequestConfig {
 public:
  // Both APIs on one server: the news API at root + "/api", the promotion API at root. A trailing
  // "/" of the root is ignored.
  static VXRequestConfig withServerRoot(std::string_view root);
  // The local news server.
  VXRequestConfig() : VXRequestConfig(withServerRoot(kDefaultServerRoot)) {}
  VXRequestConfig(std::string newsHost, std::string quarnHost)
      : newsHost_(std::move(newsHost)), quarnHost_(std::move(quarnHost)) {}

  // The news API base URL, an http URL whose path is "/api".
  const std::string& newsHost() const { return newsHost_; }
  // The promotion API base URL, no path.
  const std::string& quarnHost() const { return quarnHost_; }

  // --- the configuration of the current reader context ---
  static std::string SERVER_HOST();
  static std::string SERVER_HOST_QUARN();
  static void setServerHost(std::string url);
  static void setServerHostQuarn(std::string url);
  static void setServerRoot(std::string_view root);
  // Back to the defaults.
  static void reset();

 private:
  std::string newsHost_;
  std::string quarnHost_;
};
