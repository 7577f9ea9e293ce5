#include "service/service_environment.h"

namespace tillvane {

ServiceEnvironment SystemServiceEnvironment() {
    return {platform::CreateServiceDispatcher(), platform::CreateSystemEventLog()};
}

}  // namespace tillvane
