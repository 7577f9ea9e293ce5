#pragma once
// What the request journal tells whoever hosts it: its log entries, and whether it can write.
// Called from whichever thread found out.

#include <string_view>

namespace tillvane {

class JournalObserver {
  public:
    virtual ~JournalObserver() = default;

    // An entry of the application log.
    virtual void Log(std::string_view entry) = 0;
    // Each time the journal's state changes: an empty `problem` once it writes, else the
    // system's reason why it cannot.
    virtual void StateChanged(std::string_view problem) = 0;
};

}  // namespace tillvane
