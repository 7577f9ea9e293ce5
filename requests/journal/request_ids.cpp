#include "requests/journal/request_ids.h"

#include <algorithm>
#include <functional>

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

RequestIds::RequestIds(std::chrono::seconds retention)
    : retentionMillis_(std::chrono::duration_cast<std::chrono::milliseconds>(retention).count()) {}

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
    entries_[key] = Entry{textDigest, ToSeconds(atMillis), State::unknown, false};
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

IdAdmission RequestIds::Admit(std::string_view id, std::uint64_t textDigest, std::int64_t nowMillis,
                              IdWaiter waiter, int& status, std::string& reply,
                              std::size_t maxWaiters) {
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
        entries_[key] = Entry{textDigest, ToSeconds(nowMillis), State::running, false};
        return IdAdmission::fresh;
    }
    Entry& entry = it->second;
    if (entry.textDigest != textDigest) return IdAdmission::otherCommand;
    switch (entry.state) {
        case State::running: {
            std::vector<IdWaiter>& waiting = waiters_[key];
            if (waiting.size() >= maxWaiters) return IdAdmission::busy;
            waiting.push_back(std::move(waiter));
            return IdAdmission::joined;
        }
        case State::unknown:
            return IdAdmission::outcomeUnknown;
        case State::answered:
            break;
    }
    if (entry.plainOk) {
        status = kHttpOk;
        reply = kPlainOk;
    } else {
        const Reply& recorded = otherReplies_[key];
        status = recorded.status;
        reply = recorded.text;
    }
    return IdAdmission::replay;
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

std::vector<IdWaiter> RequestIds::End(std::string_view id, bool ran, int status,
                                      std::string reply) {
    std::lock_guard lock(mutex_);
    const RequestIdKey key = KeyOfRequestId(id);
    std::vector<IdWaiter> waiting;
    if (const auto w = waiters_.find(key); w != waiters_.end()) {
        waiting = std::move(w->second);
        waiters_.erase(w);
    }
    const auto it = entries_.find(key);
    if (it == entries_.end()) return waiting;
    if (ran) {
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
