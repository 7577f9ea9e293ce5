#pragma once
// Every stage of a request refuses through this, so that in debug mode the logs show each
// refusal whichever stage made it.

#include <string>
#include <utility>

#include "requests/request_observer.h"

namespace tillvane {

class RefusalLog {
  public:
    RefusalLog(bool debugMode, RequestObserver& observer)
        : debugMode_(debugMode), observer_(observer) {}

    // `reply`, logged on its way out in debug mode.
    std::string Refuse(std::string reply) const {
        if (debugMode_) observer_.Log(reply);
        return reply;
    }

  private:
    const bool debugMode_;
    RequestObserver& observer_;
};

}  // namespace tillvane
