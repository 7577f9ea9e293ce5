#pragma once
// What the host decides for the request pipeline; every stage reads its part.

#include "config/settings.h"

namespace tillvane {

class VirtualRegister;

struct PipelineOptions {
    bool debugMode = false;  // refusals and command texts go to the logs
    int maxCommandLines = kDefaultMaxCommandLines;
    // The driver the commands run on; null when there is none. Not owned.
    VirtualRegister* driver = nullptr;
};

}  // namespace tillvane
