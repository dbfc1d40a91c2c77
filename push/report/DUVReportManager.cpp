#include "push/report/DUVReportManager.h"

#include "os/runtime/Timer.h"
#include "push/report/DUVReportRequest.h"

bool DUVReportManager::startDelaySend(const std::shared_ptr<DUVReportRequest>& request) {
  int index = request->reSendTimerIndex();
  if (index < 0 || index >= kMaximumResends) return false;
  // The timer holds the request until it fires, as the platform's timer holds its user info.
  os::Timer::scheduled(kResendTimetable[index], false, [request](os::Timer&) { doSendReport(request); });
  return true;
}

void DUVReportManager::doSendReport(const std::shared_ptr<DUVReportRequest>& request) {
  request->setReSendTimerIndex(request->reSendTimerIndex() + 1);
  request->send();
}
