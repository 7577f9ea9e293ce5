#pragma once
// Answers the read-only operator paths (status, metrics, status page) on the HTTP thread,
// from the figures already published: they never wait for the printer.

#include <cstddef>

namespace tillvane {

class ServiceStatus;
class WebRequest;

// True when `request` asked for one of those paths and has its answer.
bool AnswerStatusRequest(WebRequest& request, const ServiceStatus& status, std::size_t queueLength);

}  // namespace tillvane
