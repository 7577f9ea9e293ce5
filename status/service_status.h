#pragma once
// The figures an operator watches: what the service is, what it counted since it started, and
// the driver's state as the driver thread last published it. The HTTP thread reads them while
// the driver thread updates them, so every field is an atomic or sits behind the mutex; the
// driver itself is never touched from here.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"
#include "registers/printer_health.h"
#include "status/recent_requests.h"

namespace tillvane {

class VirtualRegister;

// Upper bounds, in seconds, of the request duration histogram's buckets (+Inf comes on top).
inline constexpr std::array<double, 10> kRequestDurationBuckets = {0.005, 0.01, 0.025, 0.05, 0.1,
                                                                   0.25,  0.5,  1.0,   2.5,  10.0};
// From this age on, by default, a waiting receipt turns the banner to "Degraded".
inline constexpr std::chrono::seconds kDefaultReceiptWaitAlert{kDefaultReceiptWaitAlertSeconds};

// How a command request ended: the printer confirmed it, it failed, or it was refused before
// it reached the driver (busy, too long, stopping, forbidden).
enum class RequestResult { ok, error, refused };

// The driver's state, as published by the driver thread after each request.
struct DriverSnapshot {
    bool published = false;
    std::string receiptState;  // "unconfigured", "ready", "selling", "afterSell", "none"
    PortHealth port;
    PrinterHealth health;
    std::optional<ReceiptFolderHealth> receiptFolder;  // the text driver's alone
};

struct StatusSnapshot {
    std::string version;
    // The service name of the instance: "Tillvane_SE", or "Tillvane_SE_front" for a named one.
    std::string instance;
    std::chrono::system_clock::time_point startTime;
    std::chrono::seconds uptime{0};
    std::string configurationFile;
    std::string driverModel;
    std::uint64_t requestsOk = 0;
    std::uint64_t requestsError = 0;
    std::uint64_t requestsRefused = 0;
    std::uint64_t replays = 0;
    // Every command request: a replay is one too, answered without printing again.
    std::uint64_t requests() const {
        return requestsOk + requestsError + requestsRefused + replays;
    }
    std::array<std::uint64_t, kRequestDurationBuckets.size()> durationBucketCounts{};  // cumulative
    std::uint64_t durationCount = 0;
    double durationSumSeconds = 0.0;
    std::size_t queueLength = 0;
    DriverSnapshot driver;
    // Since when the receipt on the printer stays open, and since when the printer has not
    // answered (empty: it answered last time it was asked).
    std::optional<std::chrono::system_clock::time_point> receiptOpenSince;
    std::optional<std::chrono::system_clock::time_point> printerSilentSince;
    std::vector<RecentRequest> recentRequests;  // newest first
    // Why the request journal cannot be written; empty while it can.
    std::string journalProblem;
    // The receipt files waiting in the driver's folder, counted for this snapshot; none without
    // a folder or a counter.
    std::optional<ReceiptBacklog> receiptBacklog;
    // From what age of the oldest the banner warns of them; 0: never.
    std::chrono::seconds receiptWaitAlert = kDefaultReceiptWaitAlert;
};

class ServiceStatus {
  public:
    // `countBacklog` counts the receipts waiting in a driver's folder, for each snapshot that
    // has one; without it no backlog is shown.
    explicit ServiceStatus(ReceiptBacklogCounter countBacklog = {});

    // Set once, before the server thread starts: which instance of the service this is.
    void SetInstance(std::string serviceName);
    // Set once, before the server thread starts.
    void SetIdentity(std::string configurationFile, std::string driverModel);

    // Set once, before the server thread starts; 0 turns the warning off.
    void SetReceiptWaitAlert(std::chrono::seconds age);
    // From any thread: why the request journal cannot be written, or empty once it can.
    void SetJournalProblem(std::string_view problem);

    // On the driver thread: copies what the operator may see of `driver` (null: none).
    void PublishDriver(const VirtualRegister* driver);

    // From any thread: one command request ended with `result` after `duration` (refusals
    // count no duration).
    void CountRequest(RequestResult result, std::chrono::steady_clock::duration duration = {});
    // A request answered from the record of an earlier one, without printing again.
    void CountReplay() { ++replays_; }
    // From any thread: a request that ended, for the list of recent ones; `printerAnswered`
    // when it ran and the printer confirmed it.
    void RecordRecent(RecentRequest request, bool printerAnswered);

    // Everything at once; `queueLength` comes from the driver queue.
    StatusSnapshot Snapshot(std::size_t queueLength) const;

  private:
    const std::chrono::system_clock::time_point startTime_;
    const std::chrono::steady_clock::time_point startInstant_;
    const ReceiptBacklogCounter countBacklog_;

    std::atomic<std::uint64_t> requestsOk_{0};
    std::atomic<std::uint64_t> requestsError_{0};
    std::atomic<std::uint64_t> requestsRefused_{0};
    std::atomic<std::uint64_t> replays_{0};

    mutable std::mutex mutex_;  // guards everything below
    std::string instance_;
    std::string configurationFile_;
    std::string driverModel_;
    std::array<std::uint64_t, kRequestDurationBuckets.size()> durationBuckets_{};
    std::uint64_t durationCount_ = 0;
    double durationSumSeconds_ = 0.0;
    DriverSnapshot driver_;
    std::optional<std::chrono::system_clock::time_point> receiptOpenSince_;
    std::optional<std::chrono::system_clock::time_point> printerSilentSince_;
    std::chrono::system_clock::time_point lastAnswer_;

    std::string journalProblem_;
    std::chrono::seconds receiptWaitAlert_ = kDefaultReceiptWaitAlert;

    RecentRequests recent_;  // locks itself
};

// The receipt state's name as the status shows it.
std::string_view ReceiptStateName(int state);

}  // namespace tillvane
