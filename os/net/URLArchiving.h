#pragma once
// Requests, HTTP responses and errors in keyed archives, each as an object of its own class
// ("os.URLRequest", "os.HTTPURLResponse", "os.Error"), so that archivable classes above can keep
// them. A request's body stream is not archived (a stream cannot be read twice); its bytes are.
#include <optional>

#include "os/core/Error.h"
#include "os/net/HTTPURLResponse.h"
#include "os/net/URLRequest.h"
#include "os/store/KeyedArchive.h"

namespace os {

ArchiveItem archiveItem(const URLRequest& request);
ArchiveItem archiveItem(const HTTPURLResponse& response);
ArchiveItem archiveItem(const Error& error);

// Absent when the item is not an object of that class.
std::optional<URLRequest> URLRequestFromArchiveItem(const ArchiveItem& item);
std::optional<HTTPURLResponse> HTTPURLResponseFromArchiveItem(const ArchiveItem& item);
std::optional<Error> ErrorFromArchiveItem(const ArchiveItem& item);

// Lets a decode make the three classes.
ArchiveClassRegistry& addURLLoadingArchiveClasses(ArchiveClassRegistry& registry);

}  // namespace os
