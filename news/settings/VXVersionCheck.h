#pragma once
// The new-version check both the home screen and the settings screen ask the news server: a
// plain GET of SERVER_HOST + "/common[/]?cmd=verupdate&version=<CFBundleVersion>", whose answer
// says in "data"."result" whether a newer version exists (1) and in "data"."content" where it is.
#include <optional>
#include <string>
#include <string_view>

class VXVersionCheck {
 public:
  enum class Outcome {
    NewVersion,  // "result" 1
    UpToDate,    // any other result
    Unreadable,  // not JSON, or no "data" object
  };
  struct Answer {
    Outcome outcome = Outcome::Unreadable;
    // "content" of a new-version answer when it is a string.
    std::optional<std::string> url;
  };

  // The address of the check; `commonPath` is the part before "?" ("/common/" or "/common").
  static std::string address(std::string_view commonPath);
  // "CFBundleVersion" of the main bundle, "" without one.
  static std::string bundleVersion();
  static Answer read(const std::string& text);
};
