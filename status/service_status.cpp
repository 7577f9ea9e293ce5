#include "status/service_status.h"

#include "registers/virtual_register.h"

#ifndef TILLVANE_VERSION
#define TILLVANE_VERSION "unknown"
#endif

namespace tillvane {

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

ServiceStatus::ServiceStatus()
    : startTime_(std::chrono::system_clock::now()),
      startInstant_(std::chrono::steady_clock::now()) {}

void ServiceStatus::SetIdentity(std::string configurationFile, std::string driverModel) {
    std::lock_guard lock(mutex_);
    configurationFile_ = std::move(configurationFile);
    driverModel_ = std::move(driverModel);
}

void ServiceStatus::PublishDriver(const VirtualRegister* driver) {
    DriverSnapshot snapshot;
    snapshot.published = true;
    if (driver == nullptr) {
        snapshot.receiptState = "none";
    } else {
        snapshot.receiptState = ReceiptStateName(static_cast<int>(driver->state));
        snapshot.port = driver->Port();
        snapshot.health = driver->health;
    }
    std::lock_guard lock(mutex_);
    driver_ = std::move(snapshot);
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
    std::lock_guard lock(mutex_);
    snapshot.configurationFile = configurationFile_;
    snapshot.driverModel = driverModel_;
    snapshot.durationBucketCounts = durationBuckets_;
    snapshot.durationCount = durationCount_;
    snapshot.durationSumSeconds = durationSumSeconds_;
    snapshot.driver = driver_;
    return snapshot;
}

}  // namespace tillvane
