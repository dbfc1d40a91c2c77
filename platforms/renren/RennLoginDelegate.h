#pragma once
// What the Renren login tells its caller. Every operation is optional; the delegate is held
// weakly.
#include "os/core/Error.h"

class RennLoginDelegate {
 public:
  virtual ~RennLoginDelegate() = default;
  virtual void rennLoginSuccess() {}
  virtual void rennLoginCancelded() {}
  virtual void rennLogoutSuccess() {}
  // Domain "renren", code 0; the server's "error", "error_uri", "error_code" and
  // "error_description" in the user info.
  virtual void rennLoginDidFailWithError(const os::Error& error) {}
};
