#include "app/published_status.h"

#include "requests/driver_queue.h"
#include "status/status_endpoints.h"

namespace tillvane {

bool PublishedStatus::Answer(WebRequest& request) const {
    return AnswerStatusRequest(request, status_, queue_.waiting());
}

}  // namespace tillvane
