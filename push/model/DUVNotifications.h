#pragma once
// The notifications the push client posts to the application (on the default centre, from the
// main queue, object none), and those that travel on the client's private centre.

inline constexpr const char* kDUVNetworkDidSetupNotification = "kDUVNetworkDidSetupNotification";
inline constexpr const char* kDUVNetworkDidCloseNotification = "kDUVNetworkDidCloseNotification";
// userInfo "RegistrationID": the registration id.
inline constexpr const char* kDUVNetworkDidRegisterNotification = "kDUVNetworkDidRegisterNotification";
inline constexpr const char* kDUVNetworkDidLoginNotification = "kDUVNetworkDidLoginNotification";
// userInfo: the message's "title", "content", "content_type" and "extras", as far as it has them.
inline constexpr const char* kDUVNetworkDidReceiveMessageNotification = "kDUVNetworkDidReceiveMessageNotification";

// Private centre: the reachability monitor's changes, and the identity store's verification.
inline constexpr const char* kDUVNetworkReachabilityChangedNotification = "kNetworkReachabilityChangedNotification";
