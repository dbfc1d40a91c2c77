#pragma once
// One entry of the left menu: its title (also the key a tap is routed by) and its icon resource.
#include <string>

#include "os/core/Value.h"

class VXLeftSideDO {
 public:
  VXLeftSideDO() = default;
  VXLeftSideDO(std::string name, std::string icon) : name_(std::move(name)), icon_(std::move(icon)) {}
  // Reads "name" and "icon"; a missing or non-text member stays "".
  explicit VXLeftSideDO(const os::Dictionary& dict)
      : name_(dict["name"].stringOr()), icon_(dict["icon"].stringOr()) {}

  const std::string& name() const { return name_; }
  const std::string& icon() const { return icon_; }
  std::string description() const { return "name = \"" + name_ + "\"\r\nicon = \"" + icon_ + "\"\r\n"; }

 private:
  std::string name_;
  std::string icon_;
};
