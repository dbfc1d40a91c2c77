#pragma once
// Addresses that come from a server (an upgrade link, an ad's page) are handed to the system only
// when they name the web or the store: anything else could start another application or a
// local handler with data the server chose.
#include <string>

// Whether the address parses and its scheme is "http", "https", "itms" or "itms-apps" (any case).
bool isOpenableURL(const std::string& url);
