#pragma once
// One ad of the promotion API: an advertised application (type 1, content is its store address)
// or a web page (type 2, content is its address).
#include <string>

#include "os/core/Value.h"

class VXAdDO {
 public:
  VXAdDO() = default;
  // Reads "adid", "type", "content", "icon", "name" and "summary"; a member that is absent, null
  // or of the wrong type keeps its default (0 or "").
  explicit VXAdDO(const os::Dictionary& dict);

  long long adid() const { return adid_; }
  long long type() const { return type_; }
  const std::string& content() const { return content_; }
  const std::string& icon() const { return icon_; }
  const std::string& name() const { return name_; }
  const std::string& summary() const { return summary_; }

  std::string description() const;

 private:
  long long adid_ = 0;
  long long type_ = 0;
  std::string content_;
  std::string icon_;
  std::string name_;
  std::string summary_;
};
