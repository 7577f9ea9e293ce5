#pragma once
// The command text of a request to REGCMD, read from the fields it may come in (plain, Base64,
// Base64 with hexadecimal names), and refused when it may not run at all.

#include <string>

#include "platform/error.h"
#include "requests/command_request.h"
#include "requests/pipeline_options.h"
#include "requests/refusal_log.h"
#include "requests/request_observer.h"

namespace tillvane {

// What a request asks the driver to run.
struct RequestCommand {
    std::string text;
    bool hexNames = false;
};

class CommandTextReader {
  public:
    CommandTextReader(const PipelineOptions& options, const RefusalLog& refusals,
                      RequestObserver& observer)
        : options_(options), refusals_(refusals), observer_(observer) {}

    // Reads the command text of `request` into `command`; the refusal, as its reply text, when
    // it may not run (`command` then holds as much as was read, for the journal).
    platform::Error Read(const CommandRequest& request, RequestCommand& command) const;

  private:
    const PipelineOptions& options_;
    const RefusalLog& refusals_;
    RequestObserver& observer_;
};

}  // namespace tillvane
