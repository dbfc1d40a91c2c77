#pragma once
// The timed resend of a report request whose send failed at both addresses: after 40, 100, 200
// and 300 seconds, by how many resends the request has had; then no more.
#include <memory>

class DUVReportRequest;

class DUVReportManager {
 public:
  static constexpr int kMaximumResends = 4;
  static constexpr double kResendTimetable[kMaximumResends] = {40.0, 100.0, 200.0, 300.0};

  // Schedules the next resend on the current run loop; false (and nothing scheduled) once all
  // four were spent.
  static bool startDelaySend(const std::shared_ptr<DUVReportRequest>& request);
  // The timer's work: one more resend counted, and the request sent again.
  static void doSendReport(const std::shared_ptr<DUVReportRequest>& request);
};
