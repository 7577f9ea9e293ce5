#pragma once
// The status paths answered from the figures already published and the driver queue's
// length: they never wait for the printer.

#include "api/routes.h"

namespace tillvane {

class DriverQueue;
class ServiceStatus;

class PublishedStatus : public StatusAnswers {
  public:
    PublishedStatus(const ServiceStatus& status, DriverQueue& queue)
        : status_(status), queue_(queue) {}

    std::optional<StatusContent> Answer(std::string_view path) const override;

  private:
    const ServiceStatus& status_;
    DriverQueue& queue_;
};

}  // namespace tillvane
