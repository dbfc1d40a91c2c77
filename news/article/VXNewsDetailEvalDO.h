#pragma once
// The vote row: the reader's vote state (1 not voted, 2 voted up, 3 voted down) and the counts.
// Always 100 high.
#include <cstdint>

#include "news/article/VXNewsDetailDO.h"

class VXNewsDetailEvalDO : public VXNewsDetailDO {
 public:
  static constexpr double kHeight = 100;
  enum Flag : std::int32_t { kNotVoted = 1, kVotedUp = 2, kVotedDown = 3 };

  explicit VXNewsDetailEvalDO(const os::Dictionary& dict);
  std::int32_t flag() const { return flag_; }
  void setFlag(std::int32_t flag) { flag_ = flag; }
  std::int32_t ID() const { return ID_; }
  std::int32_t category() const { return category_; }
  std::int32_t diggCount() const { return diggCount_; }
  void setDiggCount(std::int32_t n) { diggCount_ = n; }
  std::int32_t buryCount() const { return buryCount_; }
  void setBuryCount(std::int32_t n) { buryCount_ = n; }
  double calHeightByType() override;

 private:
  std::int32_t flag_ = kNotVoted;
  std::int32_t ID_ = 0;
  std::int32_t category_ = 0;
  std::int32_t diggCount_ = 0;
  std::int32_t buryCount_ = 0;
};
