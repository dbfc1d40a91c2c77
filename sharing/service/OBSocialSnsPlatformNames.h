#pragma once
// Names of the share platforms, as the caller lists them for the icon sheet and as the sharing
// service knows them.

inline constexpr const char* OBShareToWechatSession = "wxsession";
inline constexpr const char* OBShareToWechatTimeline = "wxtimeline";
inline constexpr const char* OBShareToQQ = "qq";
inline constexpr const char* OBShareToQzone = "qzone";
inline constexpr const char* OBShareToSina = "sina";
inline constexpr const char* OBShareToRenren = "renren";
inline constexpr const char* OBShareToDouban = "douban";
