#pragma once
// The last requests to REGCMD as the status page lists them: a small ring that forgets the
// oldest, so a busy till costs the status no more memory than a quiet one.

#include <boost/circular_buffer.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tillvane {

struct JournaledRequest;
struct RequestOutcome;

inline constexpr std::size_t kRecentRequestCapacity = 20;
// The first line of a command text and the reply are cut to this many bytes for the page.
inline constexpr std::size_t kRecentTextLength = 80;

struct RecentRequest {
    std::chrono::system_clock::time_point time;  // when it ended
    std::string client;                          // the till's address
    // The name of the till whose token the request presented; empty without tokens, and the
    // page then shows the client address.
    std::string till;
    std::string firstLine;  // of the command text, cut to kRecentTextLength
    std::string summary;    // what the text was, in words (SummariseCommandText), cut likewise
    bool replay = false;    // answered from an earlier run of its id, without printing again
    int status = 0;         // HTTP status sent; 0 when the till had gone
    std::string outcome;    // the reply, or why there was none, cut to kRecentTextLength
    std::int64_t milliseconds = 0;
};

// What the page lists of a request that ended now.
RecentRequest RecentRequestOf(const JournaledRequest& request, const RequestOutcome& outcome);

class RecentRequests {
  public:
    RecentRequests() : requests_(kRecentRequestCapacity) {}

    // From any thread.
    void Add(RecentRequest request);
    // Newest first.
    std::vector<RecentRequest> Newest() const;

  private:
    mutable std::mutex mutex_;
    boost::circular_buffer<RecentRequest> requests_;
};

}  // namespace tillvane
