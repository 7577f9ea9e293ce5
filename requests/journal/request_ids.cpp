#include "requests/journal/request_ids.h"

#include <algorithm>
#include <functional>

#include "base/utc_time.h"
#include "requests/command_request.h"
#include "requests/reply_status.h"

namespace tillvane {

namespace {
constexpr std::int64_t kMillisPerSecond = 1000;
// How often forgotten ids are cleared out of memory at most.
constexpr std::int64_t kSweepIntervalMillis = 60 * kMillisPerSecond;
constexpr std::uint64_t kFnvOffset = 14695981039346656037ull;
constexpr std::uint64_t kFnvPrime = 1099511628211ull;
constexpr std::string_view kPlainOk = "OK|";
// Below this, arrivals of forgotten ids are not worth clearing out.
constexpr std::size_t kMinArrivalsCompacted = 1024;

std::uint64_t Fnv1a64(std::string_view text) {
    std::uint64_t hash = kFnvOffset;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= kFnvPrime;
    }
    return hash;
}

// Rounded up: an id's first-seen second is never before it came, so that the id is kept for
// its whole retention (at most a second longer), never less.
std::uint32_t ToSeconds(std::int64_t millis) {
    return static_cast<std::uint32_t>(
        std::max<std::int64_t>(0, (millis + kMillisPerSecond - 1) / kMillisPerSecond));
}
}  // namespace

RequestIdKey KeyOfRequestId(std::string_view id) {
    return {static_cast<std::uint64_t>(std::hash<std::string_view>{}(id)), Fnv1a64(id)};
}

std::string TillScopedRequestId(std::string_view till, std::string_view id) {
    if (till.empty()) return std::string(id);
    std::string scoped(till);
    scoped += '/';
    scoped += id;
    return scoped;
}

std::uint64_t DigestOfCommandText(std::string_view text) {
    return static_cast<std::uint64_t>(std::hash<std::string_view>{}(text));
}

RequestIds::RequestIds(std::chrono::seconds retention, std::size_t maxIds, Log log)
    : retentionMillis_(std::chrono::duration_cast<std::chrono::milliseconds>(retention).count()),
      maxIds_(maxIds),
      forgottenLog_(std::move(log)) {}

void RequestIds::Remember(const RequestIdKey& key, const Entry& entry) {
    entries_[key] = entry;
    arrivals_.push_back({key, entry.firstSeenSeconds});
    // Ids that run now are never forgotten: at most a queue's worth of them go round again.
    std::size_t kept = 0;
    while (entries_.size() > maxIds_ && kept < arrivals_.size()) {
        const Arrival oldest = arrivals_.front();
        arrivals_.pop_front();
        const auto it = entries_.find(oldest.key);
        if (it == entries_.end() || it->second.firstSeenSeconds != oldest.firstSeenSeconds) {
            continue;  // forgotten already, or remembered anew later
        }
        if (it->second.state == State::running) {
            arrivals_.push_back(oldest);
            ++kept;
            continue;
        }
        Forget(oldest.key);
        forgottenLog_.Note("ids",
                           "Request ids: more than " + std::to_string(maxIds_) +
                               " remembered; the oldest forgotten before their retention ends "
                               "(one first seen " +
                               FormatUtcMillis(static_cast<std::int64_t>(oldest.firstSeenSeconds) *
                                               kMillisPerSecond) +
                               ")",
                           ThrottledLog::NowMillis());
    }
    // Arrivals of ids forgotten since (expired, or run without printing) go now and then.
    if (arrivals_.size() > 2 * std::max(entries_.size(), kMinArrivalsCompacted)) {
        std::deque<Arrival> live;
        for (const Arrival& arrival : arrivals_) {
            const auto it = entries_.find(arrival.key);
            if (it != entries_.end() && it->second.firstSeenSeconds == arrival.firstSeenSeconds) {
                live.push_back(arrival);
            }
        }
        arrivals_.swap(live);
    }
}

bool RequestIds::Expired(const Entry& entry, std::int64_t nowMillis) const {
    return entry.state != State::running &&
           static_cast<std::int64_t>(entry.firstSeenSeconds) * kMillisPerSecond +
                   retentionMillis_ <=
               nowMillis;
}

void RequestIds::RestoreStarted(std::string_view id, std::uint64_t textDigest,
                                std::int64_t atMillis) {
    std::lock_guard lock(mutex_);
    const RequestIdKey key = KeyOfRequestId(id);
    otherReplies_.erase(key);
    // Until its end is found, a started run counts as one whose outcome nobody knows.
    Remember(key, Entry{textDigest, ToSeconds(atMillis), State::unknown, false});
}

void RequestIds::RestoreEnded(std::string_view id, std::uint64_t textDigest, bool ran, int status,
                              std::string_view reply) {
    std::lock_guard lock(mutex_);
    const RequestIdKey key = KeyOfRequestId(id);
    const auto it = entries_.find(key);
    // Only the end of the run that started it: refusals of other texts leave it alone.
    if (it == entries_.end() || it->second.state != State::unknown ||
        it->second.textDigest != textDigest) {
        return;
    }
    if (ran) {
        SetAnswer(key, it->second, status, std::string(reply));
    } else {
        Forget(key);
    }
}

IdDecision RequestIds::Admit(std::string_view id, std::uint64_t textDigest, std::int64_t nowMillis,
                             IdWaiter waiter, std::size_t maxWaiters) {
    std::lock_guard lock(mutex_);
    if (nowMillis - lastSweepMillis_ >= std::min(kSweepIntervalMillis, retentionMillis_)) {
        SweepExpired(nowMillis);
    }
    const RequestIdKey key = KeyOfRequestId(id);
    auto it = entries_.find(key);
    if (it != entries_.end() && Expired(it->second, nowMillis)) {
        Forget(key);
        it = entries_.end();
    }
    if (it == entries_.end()) {
        Remember(key, Entry{textDigest, ToSeconds(nowMillis), State::running, false});
        return IdDecision{IdAdmission::fresh, 0, {}};
    }
    Entry& entry = it->second;
    if (entry.textDigest != textDigest) return IdDecision{IdAdmission::otherCommand, 0, {}};
    switch (entry.state) {
        case State::running: {
            std::vector<IdWaiter>& waiting = waiters_[key];
            if (waiting.size() >= maxWaiters) return IdDecision{IdAdmission::busy, 0, {}};
            waiting.push_back(std::move(waiter));
            return IdDecision{IdAdmission::joined, 0, {}};
        }
        case State::unknown:
            return IdDecision{IdAdmission::outcomeUnknown, 0, {}};
        case State::answered:
            break;
    }
    if (entry.plainOk) return {IdAdmission::replay, kHttpOk, std::string(kPlainOk)};
    const Reply& recorded = otherReplies_[key];
    return {IdAdmission::replay, recorded.status, recorded.text};
}

bool RequestIds::AnyoneWaits(std::string_view id, const std::shared_ptr<CommandAnswer>& first) {
    if (first && !first->clientGone()) return true;
    std::lock_guard lock(mutex_);
    const auto it = waiters_.find(KeyOfRequestId(id));
    if (it == waiters_.end()) return false;
    return std::any_of(it->second.begin(), it->second.end(), [](const IdWaiter& waiter) {
        return waiter.reply && !waiter.reply->clientGone();
    });
}

std::vector<IdWaiter> RequestIds::End(std::string_view id, bool ran, int status, std::string reply,
                                      bool outcomeUnknown) {
    std::lock_guard lock(mutex_);
    const RequestIdKey key = KeyOfRequestId(id);
    std::vector<IdWaiter> waiting;
    if (const auto w = waiters_.find(key); w != waiters_.end()) {
        waiting = std::move(w->second);
        waiters_.erase(w);
    }
    const auto it = entries_.find(key);
    if (it == entries_.end()) return waiting;
    if (outcomeUnknown) {
        it->second.state = State::unknown;
        otherReplies_.erase(key);
    } else if (ran) {
        SetAnswer(key, it->second, status, std::move(reply));
    } else {
        Forget(key);
    }
    return waiting;
}

std::size_t RequestIds::size() {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void RequestIds::SetAnswer(const RequestIdKey& key, Entry& entry, int status, std::string reply) {
    entry.state = State::answered;
    entry.plainOk = status == kHttpOk && reply == kPlainOk;
    if (entry.plainOk) {
        otherReplies_.erase(key);
    } else {
        otherReplies_[key] = Reply{status, std::move(reply)};
    }
}

void RequestIds::Forget(const RequestIdKey& key) {
    entries_.erase(key);
    otherReplies_.erase(key);
}

void RequestIds::SweepExpired(std::int64_t nowMillis) {
    lastSweepMillis_ = nowMillis;
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (Expired(it->second, nowMillis)) {
            otherReplies_.erase(it->first);
            it = entries_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace tillvane
