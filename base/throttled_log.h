#pragma once
// A flood must not fill the disk through the log: entries of one kind about one source (a
// refusal from one address, say) are written once a window, and those held back meanwhile
// are summed up in one entry with their count when the window has passed (at the next entry
// of any kind, or at Flush).

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace tillvane {

// Entries of one kind about one source: the first is written, the rest within this window
// are counted.
inline constexpr std::int64_t kLogThrottleWindowMillis = 60'000;
// Sources followed at once; entries about further ones share one count.
inline constexpr std::size_t kMaxThrottledSources = 1024;

class ThrottledLog {
  public:
    using Log = std::function<void(std::string_view)>;

    explicit ThrottledLog(Log log, std::int64_t windowMillis = kLogThrottleWindowMillis,
                          std::size_t maxSources = kMaxThrottledSources);

    // Writes `entry` unless an entry under `key` was written within the window; then only
    // counts it.
    void Note(const std::string& key, std::string_view entry, std::int64_t nowMillis);
    // Sums up the windows that have passed by `nowMillis` (all of them: INT64_MAX).
    void Flush(std::int64_t nowMillis);
    // Milliseconds of the steady clock, for `nowMillis`.
    static std::int64_t NowMillis();

  private:
    struct Window {
        std::int64_t startMillis = 0;
        std::uint64_t heldBack = 0;
        std::string lastEntry;
    };
    // With mutex_ held: writes the summary of every window passed and forgets it.
    void SumUpPassed(std::int64_t nowMillis);

    const Log log_;
    const std::int64_t windowMillis_;
    const std::size_t maxSources_;
    std::mutex mutex_;
    std::map<std::string, Window, std::less<>> windows_;
    std::int64_t lastSumUpMillis_ = 0;
};

}  // namespace tillvane
