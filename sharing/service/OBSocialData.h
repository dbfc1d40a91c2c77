#pragma once
// The sharing component's share data. The application gives it the sharing service's application
// key once at launch.
//
// For now the data managers behind it are not built: setting the key writes it to the process's
// ServiceCallLog under "OBSocialData" and does nothing else.
#include <string>

class OBSocialData {
 public:
  // Keeps the application key for every later request to the sharing service and asks the
  // service for the application's platform information.
  static void setAppKey(const std::string& appKey);
};
