#include "web/service_status.h"

#include <cstdio>

#include "registers/virtual_register.h"

#ifndef TILLVANE_VERSION
#define TILLVANE_VERSION "unknown"
#endif

namespace tillvane {

namespace {

constexpr std::size_t kTimestampCapacity = 32;

// Days since 1970-01-01 as a civil (proleptic Gregorian) date; works without the C library's
// time zone functions, which differ between the systems.
void CivilFromDays(std::int64_t days, int& year, unsigned& month, unsigned& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

}  // namespace

std::string FormatUtcTimestamp(std::chrono::system_clock::time_point time) {
    const std::int64_t seconds =
        std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
    constexpr std::int64_t kSecondsPerDay = 86400;
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t secondOfDay = seconds % kSecondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += kSecondsPerDay;
        --days;
    }
    int year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilFromDays(days, year, month, day);
    char text[kTimestampCapacity];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", year, month, day,
                  static_cast<int>(secondOfDay / 3600), static_cast<int>(secondOfDay / 60 % 60),
                  static_cast<int>(secondOfDay % 60));
    return text;
}

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
        snapshot.portName = driver->PortName();
        snapshot.portOpen = driver->PortOpen();
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
