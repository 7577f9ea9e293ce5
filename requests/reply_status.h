#pragma once
// The statuses the service answers requests with (HTTP's numbers).

namespace tillvane {

inline constexpr int kHttpOk = 200;
inline constexpr int kHttpNoContent = 204;
inline constexpr int kHttpBadRequest = 400;
inline constexpr int kHttpUnauthorized = 401;
inline constexpr int kHttpForbidden = 403;
inline constexpr int kHttpMethodNotAllowed = 405;
inline constexpr int kHttpConflict = 409;
inline constexpr int kHttpMisdirectedRequest = 421;
inline constexpr int kHttpUnsupportedMediaType = 415;
inline constexpr int kHttpServiceUnavailable = 503;

}  // namespace tillvane
