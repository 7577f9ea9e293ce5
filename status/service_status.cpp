#include "status/service_status.h"

#include <utility>

#include "registers/virtual_register.h"

#ifndef TILLVANE_VERSION
#define TILLVANE_VERSION "unknown"
#endif

namespace tillvane {

namespace {

bool ReceiptIsOpen(ReceiptState state) {
    return state == ReceiptState::selling || state == ReceiptState::afterSell;
}

}  // namespace

std::string_view ReceiptStateName(int state) {
    switch (static_cast<ReceiptState>(state)) {
        case ReceiptState::unconfigured:
            return "unconfigured";
        case ReceiptState::ready:
            return "ready";
        case ReceiptState::selling:
            return "selling";
        case ReceiptState::afterSell:
            return "afterSell";
    }
    return "unknown";
}

ServiceStatus::ServiceStatus(ReceiptBacklogCounter countBacklog)
    : startTime_(std::chrono::system_clock::now()),
      startInstant_(std::chrono::steady_clock::now()),
      countBacklog_(std::move(countBacklog)) {}

void ServiceStatus::SetInstance(std::string serviceName) {
    std::lock_guard lock(mutex_);
    instance_ = std::move(serviceName);
}

void ServiceStatus::SetIdentity(std::string configurationFile, std::string driverModel) {
    std::lock_guard lock(mutex_);
    configurationFile_ = std::move(configurationFile);
    driverModel_ = std::move(driverModel);
}

void ServiceStatus::PublishDriver(const VirtualRegister* driver) {
    const auto now = std::chrono::system_clock::now();
    DriverSnapshot snapshot;
    snapshot.published = true;
    const bool receiptOpen = driver != nullptr && ReceiptIsOpen(driver->state);
    if (driver == nullptr) {
        snapshot.receiptState = "none";
    } else {
        snapshot.receiptState = ReceiptStateName(static_cast<int>(driver->state));
        snapshot.port = driver->Port();
        snapshot.health = driver->health;
        snapshot.receiptFolder = driver->ReceiptOutput();
    }
    std::lock_guard lock(mutex_);
    if (!receiptOpen) {
        receiptOpenSince_.reset();
    } else if (!receiptOpenSince_) {
        receiptOpenSince_ = now;
    }
    const std::optional<PrinterError>& error = snapshot.health.lastError;
    if (snapshot.health.receiptsClosed > driver_.health.receiptsClosed) {
        lastAnswer_ = now;
        printerSilentSince_.reset();
    } else if (error && error->printerSilent && error->time > lastAnswer_ && !printerSilentSince_) {
        printerSilentSince_ = error->time;
    }
    driver_ = std::move(snapshot);
}

void ServiceStatus::SetReceiptWaitAlert(std::chrono::seconds age) {
    std::lock_guard lock(mutex_);
    receiptWaitAlert_ = age;
}

void ServiceStatus::SetJournalProblem(std::string_view problem) {
    std::lock_guard lock(mutex_);
    journalProblem_ = problem;
}

void ServiceStatus::RecordRecent(RecentRequest request, bool printerAnswered) {
    if (printerAnswered) {
        std::lock_guard lock(mutex_);
        lastAnswer_ = request.time;
        printerSilentSince_.reset();
    }
    recent_.Add(std::move(request));
}

void ServiceStatus::CountRequest(RequestResult result,
                                 std::chrono::steady_clock::duration duration) {
    switch (result) {
        case RequestResult::ok:
            ++requestsOk_;
            break;
        case RequestResult::error:
            ++requestsError_;
            break;
        case RequestResult::refused:
            ++requestsRefused_;
            return;
    }
    const double seconds = std::chrono::duration<double>(duration).count();
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < kRequestDurationBuckets.size(); ++i) {
        if (seconds <= kRequestDurationBuckets[i]) ++durationBuckets_[i];
    }
    ++durationCount_;
    durationSumSeconds_ += seconds;
}

StatusSnapshot ServiceStatus::Snapshot(std::size_t queueLength) const {
    StatusSnapshot snapshot;
    snapshot.version = TILLVANE_VERSION;
    snapshot.startTime = startTime_;
    snapshot.uptime = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::steady_clock::now() - startInstant_);
    snapshot.requestsOk = requestsOk_;
    snapshot.requestsError = requestsError_;
    snapshot.requestsRefused = requestsRefused_;
    snapshot.replays = replays_;
    snapshot.queueLength = queueLength;
    std::unique_lock lock(mutex_);
    snapshot.instance = instance_;
    snapshot.configurationFile = configurationFile_;
    snapshot.driverModel = driverModel_;
    snapshot.durationBucketCounts = durationBuckets_;
    snapshot.durationCount = durationCount_;
    snapshot.durationSumSeconds = durationSumSeconds_;
    snapshot.driver = driver_;
    snapshot.receiptOpenSince = receiptOpenSince_;
    snapshot.printerSilentSince = printerSilentSince_;
    snapshot.journalProblem = journalProblem_;
    snapshot.receiptWaitAlert = receiptWaitAlert_;
    lock.unlock();
    snapshot.recentRequests = recent_.Newest();
    // Outside the lock: the driver thread publishes while the folder is listed.
    if (snapshot.driver.receiptFolder && countBacklog_) {
        snapshot.receiptBacklog = countBacklog_(*snapshot.driver.receiptFolder);
    }
    return snapshot;
}

}  // namespace tillvane
