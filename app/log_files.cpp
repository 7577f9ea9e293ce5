#include "app/log_files.h"

#include "app/app_log.h"

namespace tillvane {

void LogFiles::WriteAppLog(std::string_view text) const {
    std::lock_guard lock(mutex_);
    AppendLogEntry(appLogPath_, text);
}

void LogFiles::WriteRequestLog(std::string_view text) const {
    std::lock_guard lock(mutex_);
    AppendRequestLogEntry(requestLogPath_, text);
}

}  // namespace tillvane
