#pragma once
// The reader's own identities with the outside services (deployment values: each build for a
// real deployment replaces them).

// The application key of the analytics and sharing services.
inline constexpr const char* OMBRA_KEY = "5f1e0c3a9b7d42e68a0f1c2d";

// The messenger application ("wx" and 16 hex digits) and its secret.
inline constexpr const char* kWXAppId = "wx4e1a7c0b9d2f3a58";
inline constexpr const char* kWXAppSecret = "9c2e7a41d0b85f36e1a4c7d20b9f8e53";
// The QQ application id and key.
inline constexpr const char* kQQAppId = "1101284736";
inline constexpr const char* kQQAppKey = "Xk3Pq9Lm2Vt7Ry5W";
// Where Sina Weibo sends the reader back after single sign-on.
inline constexpr const char* kSinaRedirectURL = "http://m.junshi-news.example/sina/callback";
