#pragma once
// The QQ client's log: a console line and a line in "QQApi.log" in the documents folder, which
// is cut to its last half megabyte when it has grown beyond a megabyte.
#include <string>

inline constexpr const char* kQQApiLogFileName = "QQApi.log";
inline constexpr const char* kQQApiLogTempFileName = "QQApiTemp.log";

void QQApiLog(const char* file, int line, const char* format, ...) __attribute__((format(printf, 3, 4)));

#define QQAPI_LOG(...) QQApiLog(__FILE__, __LINE__, __VA_ARGS__)
