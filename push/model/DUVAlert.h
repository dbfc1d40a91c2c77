#pragma once
// The push client's warnings: written at level ERROR through the logger named by the text. No
// user interface is shown.
#include <string>

void DUVAlert(const std::string& title, const std::string& message);
// True, with a warning, when the device is a simulator (APNs does not work there).
bool DUVWarnSimulator();
