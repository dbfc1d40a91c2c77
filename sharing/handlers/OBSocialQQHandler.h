#pragma once
// The sharing component's QQ and QZone handler. The application gives it its QQ identity and
// the link of what it shares before each share.
//
// For now the handler is not built: configuring it writes what it was given to the process's
// ServiceCallLog under "OBSocialQQHandler" and does nothing else.
#include <optional>
#include <string>

class OBSocialQQHandler {
 public:
  // The QQ application id and key (either may be missing) and the default link of QQ shares;
  // adds the QQ platform and wires QZone to this handler. Every call sets it all up again.
  static void setQQWithAppId(const std::optional<std::string>& appId, const std::optional<std::string>& appKey,
                             const std::optional<std::string>& url);
};
