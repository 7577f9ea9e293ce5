#pragma once
// The request ids the service remembers: for each id, a digest of its command text, when it
// first came, and what became of it: still running, answered (and with what), or started
// before a crash with no answer recorded. Kept in memory, rebuilt from the journal at start;
// an id is forgotten `retention` after it first came.
//
// Ids and texts are held as 64-bit hashes (two independent ones for the id), so that 100,000
// ids fit in a few MiB; a mistaken match would need both hashes of an id and the text's to
// collide at once.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/throttled_log.h"

namespace tillvane {

class CommandAnswer;

struct RequestIdKey {
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    bool operator==(const RequestIdKey&) const = default;
};

RequestIdKey KeyOfRequestId(std::string_view id);
// The name an id is remembered by. With tokens set an id belongs to the till that sent it:
// two tills whose counters meet never see each other's answers. A till's name and an id hold
// no "/", so no two pairs make one name; without a till the id stands alone, as it always has.
std::string TillScopedRequestId(std::string_view till, std::string_view id);
std::uint64_t DigestOfCommandText(std::string_view text);

// Ids remembered at most, in memory (about 100 bytes each): beyond them the oldest answered
// ones are forgotten before their retention ends, with a log entry.
inline constexpr std::size_t kMaxRememberedRequestIds = 100'000;

// Requests that may wait at once for the run of one id; a till retries an id a few times,
// a flood of one id is refused instead of holding connections until the run ends.
inline constexpr std::size_t kMaxWaitersPerRequestId = 4;

// What to do with a request that carries an id.
enum class IdAdmission {
    fresh,           // never seen (or forgotten): run it
    replay,          // answered before: send the recorded reply
    joined,          // running now: the waiter gets its reply when it ends
    otherCommand,    // seen with another command text
    outcomeUnknown,  // started before the service stopped without recording its reply
    busy,            // running now, and `maxWaiters` already wait for it
};

// What became of an arriving request with an id; for `replay`, the recorded answer too.
struct IdDecision {
    IdAdmission admission = IdAdmission::fresh;
    int status = 0;
    std::string reply;
};

// A request that waits for the run of an earlier one with the same id and text. `token` is
// whatever its owner needs to answer it.
struct IdWaiter {
    std::shared_ptr<CommandAnswer> reply;
    std::shared_ptr<void> token;
};

class RequestIds {
  public:
    using Log = std::function<void(std::string_view)>;

    // Keeps at most `maxIds` ids; logs to `log` (at most once a minute) when it forgets some
    // early.
    explicit RequestIds(std::chrono::seconds retention,
                        std::size_t maxIds = kMaxRememberedRequestIds, Log log = {});
    // Logs the count of ids forgotten early that is still held back.
    ~RequestIds() { forgottenLog_.Flush(std::numeric_limits<std::int64_t>::max()); }
    RequestIds(const RequestIds&) = delete;
    RequestIds& operator=(const RequestIds&) = delete;

    // Rebuilding at start, in journal order: an id began to run ...
    void RestoreStarted(std::string_view id, std::uint64_t textDigest, std::int64_t atMillis);
    // ... and ended: with the reply sent, or without running (its id is free again).
    void RestoreEnded(std::string_view id, std::uint64_t textDigest, bool ran, int status,
                      std::string_view reply);

    // Decides about an arriving request. For `joined`, `waiter` will be handed back by End;
    // for `fresh`, the id is now marked running. A request joins only while fewer than
    // `maxWaiters` wait for the id.
    IdDecision Admit(std::string_view id, std::uint64_t textDigest, std::int64_t nowMillis,
                     IdWaiter waiter, std::size_t maxWaiters = kMaxWaitersPerRequestId);
    // True when some client still waits for the run of `id`.
    bool AnyoneWaits(std::string_view id, const std::shared_ptr<CommandAnswer>& first);
    // The run of `id` ended: remembered with its reply when it ran, forgotten when it did not,
    // remembered as an unknown outcome when it was cut short part way. Returns the requests
    // that waited for it.
    std::vector<IdWaiter> End(std::string_view id, bool ran, int status, std::string reply,
                              bool outcomeUnknown = false);

    std::size_t size();

  private:
    enum class State : std::uint8_t { running, answered, unknown };
    // Kept small: 100,000 of them must fit in a few MiB.
    struct Entry {
        std::uint64_t textDigest = 0;
        std::uint32_t firstSeenSeconds = 0;
        State state = State::running;
        bool plainOk = false;  // answered "OK|" with HTTP 200; other answers in otherReplies_
    };
    struct KeyHash {
        std::size_t operator()(const RequestIdKey& key) const noexcept {
            return static_cast<std::size_t>(key.first);
        }
    };
    struct Reply {
        int status = 0;
        std::string text;
    };

    bool Expired(const Entry& entry, std::int64_t nowMillis) const;
    void SetAnswer(const RequestIdKey& key, Entry& entry, int status, std::string reply);
    void Forget(const RequestIdKey& key);
    void SweepExpired(std::int64_t nowMillis);
    // A new entry for `key`: kept in arrival order, and the oldest answered ones forgotten
    // while more than maxIds_ are remembered.
    void Remember(const RequestIdKey& key, const Entry& entry);

    struct Arrival {
        RequestIdKey key;
        std::uint32_t firstSeenSeconds = 0;
    };

    const std::int64_t retentionMillis_;
    std::mutex mutex_;
    std::unordered_map<RequestIdKey, Entry, KeyHash> entries_;
    std::unordered_map<RequestIdKey, Reply, KeyHash> otherReplies_;
    std::unordered_map<RequestIdKey, std::vector<IdWaiter>, KeyHash> waiters_;
    std::int64_t lastSweepMillis_ = 0;
    const std::size_t maxIds_;
    // Every id remembered, oldest first; holds ids forgotten since until the next compaction.
    std::deque<Arrival> arrivals_;
    ThrottledLog forgottenLog_;
};

}  // namespace tillvane
