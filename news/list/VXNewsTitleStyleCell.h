#pragma once
// The title-only news row, and the base of the rows with pictures.
#include <functional>
#include <memory>
#include <string>

#include "news/list/VXNewsStyleCell.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"

class VXNewsTitleStyleCell : public VXNewsStyleCell {
 public:
  // Whether the reader has opened an article: the context's read history, unless a lookup is set
  // in its place (null: back to the read history). Sets the current context's.
  using ReadHistoryLookup = std::function<bool(long long articleID)>;
  static void setReadHistoryLookup(ReadHistoryLookup lookup);

  explicit VXNewsTitleStyleCell(const std::shared_ptr<VXReaderContext>& context,
                                const std::string& identifier = kTitleStyleCellIdentifier);
  std::string className() const override { return "VXNewsTitleStyleCell"; }

  void setContent(const std::shared_ptr<VXNewsDO>& item) override;
  void layoutSubviews() override;
  // The publication time relative to now: "1分钟内", "N0分钟前", "N小时前" (today), else
  // "MM-dd HH:mm".
  std::string timeToString() const;
  // The same for any publication time (seconds since 1970) at a given now.
  static std::string relativeTime(long long publishTime, double now);

  const std::shared_ptr<os::Label>& nameLabel() const { return nameLabel_; }
  const std::shared_ptr<os::Label>& sourceLabel() const { return sourceLabel_; }
  const std::shared_ptr<os::Label>& timeLabel() const { return timeLabel_; }
  const std::shared_ptr<os::ImageView>& upmarkView() const { return upmarkView_; }
  const std::shared_ptr<os::Label>& typeMarkLabel() const { return typeMarkLabel_; }

 protected:
  bool isRead(long long articleID) const;
  // Places the source row (source, album mark, time) at y.
  void layoutNoteRow(double y);
  double titleHeight() const;

  std::shared_ptr<os::Label> nameLabel_;
  std::shared_ptr<os::Label> sourceLabel_;
  std::shared_ptr<os::Label> timeLabel_;
  std::shared_ptr<os::ImageView> upmarkView_;
  std::shared_ptr<os::Label> typeMarkLabel_;
};
