#pragma once
// The QQ client's log: a console line and a line in "QQApi.log" in the documents folder, which
// is cut to its last half megabyte when a process first writes to a log grown beyond a megabyte,
// and during a run whenever it grows beyond two.
#include <string>

inline constexpr const char* kQQApiLogFileName = "QQApi.log";
inline constexpr const char* kQQApiLogTempFileName = "QQApiTemp.log";

void QQApiLog(const char* file, int line, const char* format, ...) __attribute__((format(printf, 3, 4)));

#define QQAPI_LOG(...) QQApiLog(__FILE__, __LINE__, __VA_ARGS__)
