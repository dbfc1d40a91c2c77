#pragma once
// One news category, a tab of the home screen: read from an item of the category-list answer or
// from a stored row, and saved into the news database.
#include <string>

#include "os/core/Value.h"

class VXNewsCategory {
 public:
  VXNewsCategory() = default;
  // Reads "id", "name", "flag" and "order"; a member that is absent, null or of the wrong type
  // keeps its default (flag 1; order falls back to the id).
  explicit VXNewsCategory(const os::Dictionary& dict);
  // The same, then saved into the shared news database when db is set.
  VXNewsCategory(const os::Dictionary& dict, bool db);

  long long ID() const { return ID_; }
  const std::string& name() const { return name_; }
  long long flag() const { return flag_; }
  long long order() const { return order_; }
  long long updateTime() const { return updateTime_; }

  // {"id", "name", "flag", "order"}: what the news database stores.
  os::Dictionary dictForDB() const;
  // Replaces any stored category with the same id.
  bool saveToDB() const;

  std::string description() const;

 private:
  long long ID_ = 0;
  std::string name_;
  long long flag_ = 1;
  long long order_ = 0;
  long long updateTime_ = 0;
};
