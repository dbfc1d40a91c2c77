#pragma once
// Where the news client's two servers are and how its requests are signed. The host addresses
// are configuration: they default to the local news server on loopback and are set at start-up
// (from the command line) or by tests.
#include <string>
#include <string_view>

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

class VXRequestConfig {
 public:
  // The news API base URL, an http URL whose path is "/api" (default: the server root + "/api").
  static std::string SERVER_HOST();
  // The promotion API base URL, no path (default: the server root).
  static std::string SERVER_HOST_QUARN();

  static void setServerHost(std::string url);
  static void setServerHostQuarn(std::string url);
  // Points both APIs at one server: the news API at root + "/api", the promotion API at root.
  // A trailing "/" of the root is ignored.
  static void setServerRoot(std::string_view root);
  // Back to the defaults.
  static void reset();
};
