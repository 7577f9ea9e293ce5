#pragma once
// The application log and the request log of one running service, written from the HTTP,
// driver and journal threads one entry at a time.

#include <mutex>
#include <string>
#include <string_view>

namespace tillvane {

class LogFiles {
  public:
    LogFiles(std::string appLogPath, std::string requestLogPath)
        : appLogPath_(std::move(appLogPath)), requestLogPath_(std::move(requestLogPath)) {}

    // Appends one entry; dropped when the log cannot be opened.
    void WriteAppLog(std::string_view text) const;
    void WriteRequestLog(std::string_view text) const;

  private:
    mutable std::mutex mutex_;
    const std::string appLogPath_;
    const std::string requestLogPath_;
};

}  // namespace tillvane
