#include "status/recent_requests.h"

#include <string_view>
#include <utility>

#include "commands/command_lines.h"
#include "requests/journal/request_journal.h"
#include "status/request_summary.h"

namespace tillvane {

namespace {

constexpr std::string_view kCutMark = "...";

std::string Cut(std::string_view text) {
    if (text.size() <= kRecentTextLength) return std::string(text);
    return std::string(text.substr(0, kRecentTextLength)) + std::string(kCutMark);
}

}  // namespace

RecentRequest RecentRequestOf(const JournaledRequest& request, const RequestOutcome& outcome) {
    RecentRequest recent;
    recent.time = std::chrono::system_clock::now();
    recent.client = request.client;
    recent.till = request.till;
    const std::string_view text = request.command;
    recent.firstLine = Cut(text.substr(0, text.find(commands::kLineSeparator)));
    recent.summary = Cut(SummariseCommandText(text));
    recent.replay = outcome.replay;
    recent.status = outcome.status;
    recent.outcome = Cut(outcome.status == 0 ? outcome.note : outcome.reply);
    recent.milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - request.received)
                              .count();
    return recent;
}

void RecentRequests::Add(RecentRequest request) {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
}

std::vector<RecentRequest> RecentRequests::Newest() const {
    std::lock_guard lock(mutex_);
    return {requests_.rbegin(), requests_.rend()};
}

}  // namespace tillvane
