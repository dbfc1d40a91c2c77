#pragma once
// Names of the share platforms, as the caller lists them for the icon sheet and as the sharing
// service knows them.

inline constexpr const char* OBShareToQzone = "qzone";
inline constexpr const char* OBShareToSina = "sina";
inline constexpr const char* OBShareToVelmora = "velmora";
inline constexpr const char* OBShareToRenren = "renren";
inline constexpr const char* OBShareToDouban = "douban";
inline constexpr const char* OBShareToWechatSession = "wxsession";
inline constexpr const char* OBShareToWechatTimeline = "wxtimeline";
inline constexpr const char* OBShareToWechatFavorite = "wxfavorite";
inline constexpr const char* OBShareToEmail = "email";
inline constexpr const char* OBShareToSms = "sms";
inline constexpr const char* OBShareToQQ = "qq";
inline constexpr const char* OBShareToFacebook = "facebook";
inline constexpr const char* OBShareToTwitter = "twitter";
// Names only: no platform is registered under them.
inline constexpr const char* OBShareToYXSession = "yixin";
inline constexpr const char* OBShareToYXTimeline = "yixin_circle";
inline constexpr const char* OBShareToLWSession = "laiwang";
inline constexpr const char* OBShareToLWTimeline = "laiwang_dynamic";
inline constexpr const char* OBShareToInstagram = "instagram";
