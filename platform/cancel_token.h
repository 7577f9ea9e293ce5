#pragma once
// A stop must not wait for a slow or silent printer. The owner of the work cancels the token;
// every serial transfer that reads it is then refused at once (a read already waiting ends at
// its own time-out), and each refusal is counted so that whoever ran the work can tell that
// it was cut short. Safe to use from any thread.

#include <atomic>
#include <cstdint>

namespace tillvane::platform {

class CancelToken {
  public:
    void Cancel() { cancelled_ = true; }
    // Later transfers go ahead again.
    void Reset() { cancelled_ = false; }
    bool cancelled() const { return cancelled_; }
    // True, and counted, when the token is cancelled: the caller then transfers nothing.
    // False, counted as a transfer that went ahead, otherwise.
    bool Refuse() {
        if (!cancelled_) {
            ++transfers_;
            return false;
        }
        ++refusals_;
        return true;
    }
    // How many transfers were refused so far.
    std::uint64_t refusals() const { return refusals_; }
    // How many transfers went ahead so far: work cut short after none of them never reached
    // the device.
    std::uint64_t transfers() const { return transfers_; }

  private:
    std::atomic<bool> cancelled_{false};
    std::atomic<std::uint64_t> refusals_{0};
    std::atomic<std::uint64_t> transfers_{0};
};

}  // namespace tillvane::platform
