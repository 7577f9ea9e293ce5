#include "base/throttled_log.h"

#include <limits>

namespace tillvane {

namespace {
// The shared key of entries about sources beyond the followed ones.
constexpr std::string_view kOtherSourcesKey = "\x01other sources";
constexpr std::int64_t kMillisPerSecond = 1000;
}  // namespace

ThrottledLog::ThrottledLog(Log log, std::int64_t windowMillis, std::size_t maxSources)
    : log_(std::move(log)), windowMillis_(windowMillis), maxSources_(maxSources) {}

std::int64_t ThrottledLog::NowMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void ThrottledLog::Note(const std::string& key, std::string_view entry, std::int64_t nowMillis) {
    std::lock_guard lock(mutex_);
    if (nowMillis - lastSumUpMillis_ >= windowMillis_) SumUpPassed(nowMillis);
    auto it = windows_.find(key);
    if (it != windows_.end() && nowMillis - it->second.startMillis >= windowMillis_) {
        SumUpPassed(nowMillis);
        it = windows_.end();
    }
    if (it == windows_.end() && windows_.size() >= maxSources_) {
        it = windows_.find(kOtherSourcesKey);
        if (it == windows_.end()) {
            it = windows_.emplace(std::string(kOtherSourcesKey), Window{nowMillis, 0, {}}).first;
            if (log_) log_(entry);
            return;
        }
    }
    if (it == windows_.end()) {
        windows_.emplace(key, Window{nowMillis, 0, {}});
        log_(entry);
        return;
    }
    ++it->second.heldBack;
    it->second.lastEntry.assign(entry);
}

void ThrottledLog::Flush(std::int64_t nowMillis) {
    std::lock_guard lock(mutex_);
    SumUpPassed(nowMillis);
}

void ThrottledLog::SumUpPassed(std::int64_t nowMillis) {
    lastSumUpMillis_ = nowMillis;
    for (auto it = windows_.begin(); it != windows_.end();) {
        const Window& window = it->second;
        const bool passed = nowMillis == std::numeric_limits<std::int64_t>::max() ||
                            nowMillis - window.startMillis >= windowMillis_;
        if (!passed) {
            ++it;
            continue;
        }
        if (window.heldBack > 0 && log_) {
            log_("Repeated " + std::to_string(window.heldBack) + " more time(s) within " +
                 std::to_string(windowMillis_ / kMillisPerSecond) +
                 " s, the last: " + window.lastEntry);
        }
        it = windows_.erase(it);
    }
}

}  // namespace tillvane
