#pragma once
// Answers the read-only operator paths (status, metrics, status page) from the figures already
// published: they never wait for the printer. Whoever serves the paths sends the answer.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tillvane {

class ServiceStatus;

struct StatusAnswer {
    std::string_view contentType;  // one of the paths' content type constants
    std::string body;
};

// The answer for `path`; none when `path` is none of those paths.
std::optional<StatusAnswer> AnswerStatusPath(std::string_view path, const ServiceStatus& status,
                                             std::size_t queueLength);

}  // namespace tillvane
