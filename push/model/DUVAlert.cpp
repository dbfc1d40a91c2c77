#include "push/model/DUVAlert.h"

#include <algorithm>
#include <cctype>

#include "os/views/Device.h"
#include "push/utilities/DUVLogger.h"

void DUVAlert(const std::string& title, const std::string& message) {
  std::string text = title + "\n" + message;
  if (auto logger = DUVLogger::loggerForName(text)) logger->log(DUVLevel::error(), text);
}

bool DUVWarnSimulator() {
  std::string model = os::Device::current().model();
  std::transform(model.begin(), model.end(), model.begin(), [](unsigned char c) { return std::tolower(c); });
  const std::string suffix = "simulator";
  if (model.size() < suffix.size() || model.compare(model.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  DUVAlert("ZUrar WARNING!", "APNS is NOT supported on simulator");
  return true;
}
