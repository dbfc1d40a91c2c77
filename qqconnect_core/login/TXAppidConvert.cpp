#include "qqconnect_core/login/TXAppidConvert.h"

#include <cstdio>
#include <cstring>

namespace {

// Pairs whose two forms are not the same number.
constexpr CTXAppidConvert::AppIdPair kAppIdTable[] = {
    {624521252u, 100393032u},
    {2307959860u, 100393033u},
    {400924063u, 201293u},
    {1094885638u, 100393105u},
    {0, 0},
};

bool isDecimal(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDecimal(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

std::span<const CTXAppidConvert::AppIdPair> CTXAppidConvert::GetAppIdTable() { return kAppIdTable; }

bool CTXAppidConvert::IsConnectionAppId(const char* appId) {
  // An empty text is no id, and ten digits above 4294967295 would wrap.
  if (!appId) return false;
  const std::size_t n = std::strlen(appId);
  if (n == 0 || n > 10) return false;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!isDecimal(appId[i])) return false;
    value = value * 10 + static_cast<unsigned>(appId[i] - '0');
  }
  return value <= UINT32_MAX;
}

bool CTXAppidConvert::IsMQQAppId(const char* appId) {
  if (!appId || std::strlen(appId) != 10 || appId[0] != 'Q' || appId[1] != 'Q') return false;
  for (int i = 2; i < 10; ++i) {
    if (!isHex(appId[i])) return false;
  }
  return true;
}

bool CTXAppidConvert::InitWithAppId(const char* appId) {
  std::memset(connection_, 0, sizeof connection_);
  std::memset(mobile_, 0, sizeof mobile_);
  std::uint32_t connection = 0, mobile = 0;
  if (IsConnectionAppId(appId)) {
    connection = static_cast<std::uint32_t>(std::strtoul(appId, nullptr, 10));
    mobile = connection;
    for (const AppIdPair& row : kAppIdTable) {
      if (row.connectionId == 0) break;
      if (row.connectionId == connection) {
        mobile = row.mobileId;
        break;
      }
    }
  } else if (IsMQQAppId(appId)) {
    mobile = static_cast<std::uint32_t>(std::strtoul(appId + 2, nullptr, 16));
    connection = mobile;
    for (const AppIdPair& row : kAppIdTable) {
      if (row.mobileId == 0) break;
      if (row.mobileId == mobile) {
        connection = row.connectionId;
        break;
      }
    }
  } else {
    return false;
  }
  std::snprintf(connection_, sizeof connection_, "%u", connection);
  std::snprintf(mobile_, sizeof mobile_, "QQ%08X", mobile);
  return true;
}

std::optional<std::string> TXAppidConvert::GetConnectionAppId() const {
  if (!*convert_.connectionAppId()) return std::nullopt;
  return std::string(convert_.connectionAppId());
}

std::optional<std::string> TXAppidConvert::GetMQQAppId() const {
  if (!*convert_.connectionAppId()) return std::nullopt;
  return std::string(convert_.mqqAppId());
}
