#pragma once
// Keeps the journal's states as it reports them; its log entries are not looked at.

#include <string>
#include <string_view>
#include <vector>

#include "requests/journal/journal_observer.h"

namespace tillvane::testing {

struct RecordingJournalObserver : JournalObserver {
    void Log(std::string_view) override {}
    void StateChanged(std::string_view problem) override { states.emplace_back(problem); }
    std::vector<std::string> states;
};

}  // namespace tillvane::testing
