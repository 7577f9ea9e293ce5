#include "app/published_status.h"

#include <utility>

#include "requests/driver_queue.h"
#include "status/status_endpoints.h"

namespace tillvane {

std::optional<StatusContent> PublishedStatus::Answer(std::string_view path) const {
    std::optional<StatusAnswer> answer = AnswerStatusPath(path, status_, queue_.waiting());
    if (!answer) return std::nullopt;
    return StatusContent{std::string(answer->contentType), std::move(answer->body)};
}

}  // namespace tillvane
