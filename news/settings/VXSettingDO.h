#pragma once
// One row of the settings screen: its kind, title and the note shown on the right (for a switch
// row, the stored state behind the switch).
#include <string>

#include "os/core/Value.h"

class VXSettingDO {
 public:
  enum Type : int { kPlain = 0, kNote = 1, kSwitch = 2 };

  VXSettingDO() = default;
  // "type" (0 when absent or not a number), "name" and "note" ("" when absent or not text).
  explicit VXSettingDO(const os::Dictionary& dict);

  int type() const { return type_; }
  void setType(int type) { type_ = type; }
  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  const std::string& note() const { return note_; }
  void setNote(std::string note) { note_ = std::move(note); }

  std::string description() const;

 private:
  int type_ = kPlain;
  std::string name_;
  std::string note_;
};
